// XML command texts with every inserted value escaped.
#include "nmc/lm_nmc_command.h"

#include <cctype>

#include "nmc/lm_nmc_text.h"

std::string nmc_command_text(const char *name, const nmc_command_pairs &attributes, const nmc_command_pairs &params) {
  std::string text = std::string("<") + name;
  for (const auto &attribute : attributes) {
    text += " " + attribute.first + "=\"" + nmc_xml_escape(attribute.second.c_str()) + "\"";
  }
  if (params.empty()) return text + "/>";
  text += ">";
  for (const auto &param : params) {
    text += "<" + param.first + ">" + nmc_xml_escape(param.second.c_str()) + "</" + param.first + ">";
  }
  return text + "</" + name + ">";
}

bool nmc_is_element_name(const char *text) {
  if (text == nullptr || text[0] == '\0') return false;
  unsigned char first = static_cast<unsigned char>(text[0]);
  if (std::isdigit(first) || first == '-' || first == '.') return false;
  for (const char *p = text; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (!std::isalnum(c) && c != '_' && c != '-' && c != '.' && c != ':') return false;
  }
  return true;
}
