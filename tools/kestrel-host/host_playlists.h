// The host's playlist short forms over the playlist slots:
//   pl-list                                   GetPlaylistList
//   pl-create NAME [TYPE [VAR]]               CreatePlaylist (type 0 music, 1 photo, 2 video);
//                                             VAR receives the new id
//   pl-add ID NAME URL [NAME URL]...          AddItemsToPlaylist
//   pl-rename ID NAME, pl-delete ID           RenamePlaylist, DeletePlaylist
//   pl-item-rename ID INDEX NAME              RenameItemInPlaylist
//   pl-item-delete ID INDEX                   DeleteItemFromPlaylist
//   pl-item-move ID FROM TO                   MoveItemInPlaylist
//   pl-server                                 StartPlaylistServer
#ifndef KESTREL_HOST_PLAYLISTS_H
#define KESTREL_HOST_PLAYLISTS_H

#include <string>
#include <vector>

#include "host_commands.h"
#include "host_slots.h"

namespace host {

// A slot called for a short form with its words (each taken as a quoted
// word, or an array when bracketed); "not available yet" when not built.
CallResult call_form(Session &s, const std::string &form, const std::string &method, const std::vector<Token> &args);

// Runs a playlist short form; false in *handled when form is none of them.
Status playlist_form(Session &s, const std::string &form, const std::vector<std::string> &words, int line_no,
                     bool *handled);

}  // namespace host

#endif
