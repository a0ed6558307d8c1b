// The host's playlist short forms (see host_playlists.h).
#include "host_playlists.h"

#include "host_output.h"

namespace host {

namespace {

Token word(const std::string &text) {
  Token t;
  t.text = text;
  t.quoted = true;
  return t;
}

Token bracket(const char *text) {
  Token t;
  t.text = text;
  t.bracket = true;
  return t;
}

Status usage(int line_no, const std::string &text) {
  say("error", (line_no > 0 ? "line " + std::to_string(line_no) + ": " : std::string()) + "usage: " + text);
  return Status::error;
}

}  // namespace

Status playlist_form(Session &s, const std::string &form, const std::vector<std::string> &w, int line_no,
                     bool *handled) {
  *handled = true;
  auto words = [](std::initializer_list<std::string> list) {
    std::vector<Token> out;
    for (const std::string &text : list) out.push_back(word(text));
    return out;
  };
  if (form == "pl-create") {
    if (w.empty() || w.size() > 3) return usage(line_no, "pl-create NAME [TYPE [VAR]]");
    CallResult r = call_form(s, form, "CreatePlaylist", words({w[0], w.size() > 1 ? w[1] : "0"}));
    if (w.size() > 2 && r.made && NS_SUCCEEDED(r.rv) && r.out("id") != nullptr)
      s.variables[w[2]] = std::to_string(r.out("id")->number);
    return Status::ok;
  }
  if (form == "pl-add") {
    if (w.size() < 3 || w.size() % 2 != 1) return usage(line_no, "pl-add ID NAME URL [NAME URL]...");
    std::vector<Token> args = words({w[0], std::to_string((w.size() - 1) / 2)});
    for (size_t pass = 0; pass < 2; ++pass) {
      args.push_back(bracket("["));
      for (size_t k = 1 + pass; k < w.size(); k += 2) args.push_back(word(w[k]));
      args.push_back(bracket("]"));
    }
    call_form(s, form, "AddItemsToPlaylist", args);
    return Status::ok;
  }
  struct Simple {
    const char *form;
    const char *method;
    size_t words;
    const char *usage;
  };
  static const Simple simple[] = {
      {"pl-rename", "RenamePlaylist", 2, "pl-rename ID NAME"},
      {"pl-delete", "DeletePlaylist", 1, "pl-delete ID"},
      {"pl-item-rename", "RenameItemInPlaylist", 3, "pl-item-rename ID INDEX NAME"},
      {"pl-item-delete", "DeleteItemFromPlaylist", 2, "pl-item-delete ID INDEX"},
      {"pl-item-move", "MoveItemInPlaylist", 3, "pl-item-move ID FROM TO"},
      {"pl-server", "StartPlaylistServer", 0, "pl-server"},
  };
  for (const Simple &f : simple) {
    if (form != f.form) continue;
    if (w.size() != f.words) return usage(line_no, f.usage);
    std::vector<Token> args;
    for (const std::string &text : w) args.push_back(word(text));
    call_form(s, form, f.method, args);
    return Status::ok;
  }
  *handled = false;
  return Status::ok;
}

}  // namespace host
