// The terminal mode's "playlist publish" and "music [sN]": the two slots
// whose work takes a while, shown as it goes.
//
// Publishing is one call of the component (StartPlaylistServer) with no
// progress of its own: the playlists are handed to the local playlist
// server when it arrives. The terminal says how many playlists and
// entries go, then waits (bounded, Ctrl-C stops the waiting; the server
// still comes) for a new server to be listed, with the time so far.
//
// A server's music list is read an item at a time (GetNumMusicItems, then
// GetMusicItem for each), with the items loaded so far, the rate and the
// time left, and Ctrl-C stopping between items.
#ifndef KESTREL_HOST_PUBLISH_H
#define KESTREL_HOST_PUBLISH_H

#include <cstdint>
#include <functional>
#include <string>

#include "host_browse.h"
#include "iZelControlPoint2XPCom.h"

namespace host {

// Entries of one GetPlaylistList line ("name|TYPE|id|item~url|...").
uint32_t playlist_entry_count(const std::string &line);

struct SlowWork {
  Browser::Print print;
  // Called between steps (serves the component's events for about ms);
  // true once a stop (Ctrl-C) arrived, which ends the waiting.
  std::function<bool(int ms)> wait;
  int progress_ms = 1000;
};

// servers: how many servers are listed now (read again while waiting).
void publish_playlists(iZelControlPoint2XPCom *c, const SlowWork &work, const std::function<size_t()> &servers,
                       int wait_ms = 15000);

// The music list of the server with this bookmark (label for the words).
void load_music(iZelControlPoint2XPCom *c, const SlowWork &work, const std::string &bookmark,
                const std::string &label);

}  // namespace host

#endif
