// The server cursor of kestrel-nmc:
//   where            level, level name, cursor and count
//   ls               the entries of the current level ("/" marks directories)
//   cd N             go to entry N and into it ("cd" alone: into the entry
//                    under the cursor)
//   go N             move the cursor to entry N
//   up, home         the parent level, the server list
//   search QUERY     "title=x&artist=y&exact=1&type=musicItem" or criteria
//   sort TEXT        "title=ascending", "album=descending"; "sort" clears
//   meta             the object under the cursor as XML
//   get KEY [N]      one property ("Title", "Resource@Size", "Artist.Count")
//   bookmark         the bookmark of the object under the cursor
//   goto BOOKMARK    put the cursor at a bookmark
#include "dms_commands.h"

#include <cstdlib>
#include <vector>

#include "cp/upnp_soap.h"
#include "nmc/lm_dmscp.h"

namespace {

std::string result_text(lm_nmc_result_t rc) {
  const char *text = rc == 0 ? "OK" : upnp_get_errmsg(static_cast<int>(rc));
  return std::to_string(rc) + " " + (text != nullptr ? text : "");
}

std::string read_text(uint32_t context, lm_nmc_result_t (*fn)(uint32_t, uint32_t, char *)) {
  static std::vector<char> buffer(65536);
  lm_nmc_result_t rc = fn(context, static_cast<uint32_t>(buffer.size()), buffer.data());
  return rc == 0 ? std::string(buffer.data()) : "(" + result_text(rc) + ")";
}

std::string property(uint32_t context, const char *key, uint32_t occurrence = 0) {
  char buffer[4096];
  lm_nmc_result_t rc = lm_dmscp_extract_metadata(context, key, occurrence, sizeof buffer, buffer);
  return rc == 0 ? std::string(buffer) : "(" + result_text(rc) + ")";
}

void where(uint32_t context, void (*print)(const std::string &)) {
  uint32_t depth = 0, index = 0, count = 0;
  lm_dmscp_get_level(context, &depth);
  lm_dmscp_get_index(context, &index);
  lm_nmc_result_t rc = lm_dmscp_get_count(context, &count);
  print("dms      level " + std::to_string(depth) + " \"" + read_text(context, lm_dmscp_get_levelname) +
        "\" entry " + std::to_string(index) + " of " + (rc == 0 ? std::to_string(count) : result_text(rc)));
}

void list(uint32_t context, void (*print)(const std::string &)) {
  uint32_t count = 0, index = 0;
  lm_dmscp_get_index(context, &index);
  lm_nmc_result_t rc = lm_dmscp_get_count(context, &count);
  if (rc != 0) {
    print("dms      ls -> " + result_text(rc));
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (lm_dmscp_go_index(context, i) != 0) break;
    uint32_t directory = 0;
    lm_dmscp_is_directory(context, &directory);
    print("dms      " + std::to_string(i) + (i == index ? " * " : "   ") + property(context, "Title") +
          (directory ? "/" : ""));
  }
  lm_dmscp_go_index(context, index);
}

}  // namespace

bool dms_command(const std::string &command, uint32_t context, void (*print)(const std::string &line)) {
  size_t blank = command.find_first_of(" \t");
  std::string name = command.substr(0, blank);
  std::string argument = blank == std::string::npos ? std::string() : command.substr(command.find_first_not_of(" \t", blank));
  uint32_t number = static_cast<uint32_t>(std::strtoul(argument.c_str(), nullptr, 10));
  lm_nmc_result_t rc;
  if (name == "where") {
    where(context, print);
    return true;
  } else if (name == "ls") {
    list(context, print);
    return true;
  } else if (name == "cd") {
    rc = argument.empty() ? 0 : lm_dmscp_go_index(context, number);
    if (rc == 0) rc = lm_dmscp_go_directory(context);
  } else if (name == "go") {
    rc = lm_dmscp_go_index(context, number);
  } else if (name == "up") {
    rc = lm_dmscp_go_parent(context);
  } else if (name == "home") {
    rc = lm_dmscp_go_home(context);
  } else if (name == "search") {
    rc = lm_dmscp_search(context, argument.c_str());
  } else if (name == "sort") {
    rc = lm_dmscp_set_sort_option(context, argument.c_str());
  } else if (name == "meta") {
    print("dms      " + read_text(context, lm_dmscp_get_metadata));
    return true;
  } else if (name == "get") {
    std::string key = argument.substr(0, argument.find(' '));
    size_t space = argument.find(' ');
    uint32_t occurrence = space == std::string::npos ? 0 : static_cast<uint32_t>(std::strtoul(argument.c_str() + space, nullptr, 10));
    print("dms      " + key + "[" + std::to_string(occurrence) + "] = " + property(context, key.c_str(), occurrence));
    return true;
  } else if (name == "bookmark") {
    print("dms      bookmark " + read_text(context, lm_dmscp_get_bookmark));
    return true;
  } else if (name == "goto") {
    rc = lm_dmscp_go_bookmark(context, argument.c_str());
  } else {
    return false;
  }
  print("dms      " + command + " -> " + result_text(rc));
  if (rc == 0) where(context, print);
  return true;
}
