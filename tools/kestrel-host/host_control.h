// The terminal mode's renderer commands on the renderer in use: play (an
// entry of the server being browsed, or a URL), add to its queue, pause,
// resume, stop, seek, volume, mute, state, queue; and the component's
// playlists (list, new, add, delete, publish). Slots are called on the
// component directly (the main thread); the seek goes through the
// controller's renderer context, which the component does not offer.
#ifndef KESTREL_HOST_CONTROL_H
#define KESTREL_HOST_CONTROL_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host_browse.h"
#include "host_devices.h"
#include "host_nmc_api.h"
#include "iZelControlPoint2XPCom.h"

namespace host {

class RendererControl {
 public:
  using Print = Browser::Print;
  // api may be null (the library lacks the controller's functions): seek
  // and the position are then unavailable, said so.
  RendererControl(const NmcApi *api, Print print) : api_(api), print_(std::move(print)) {}
  ~RendererControl();

  // Runs a renderer command (name and its words) on renderer r of the
  // component; false when name is not one of its commands.
  bool run(iZelControlPoint2XPCom *component, const std::string &name, const std::vector<std::string> &words,
           const Device *renderer, const std::string &label, Browser &browser);
  static bool is_command(const std::string &name);
  // Where "play N" and "add N" find entry N when not in the listing being
  // browsed (the rows of a search across servers): answers false to leave
  // it to the listing, else sets *found (false when it was said to be
  // missing).
  using EntrySource = std::function<bool(uint32_t n, BrowseEntry &out, bool *found)>;
  void set_entry_source(EntrySource source) { entry_source_ = std::move(source); }

 private:
  bool renderer_context(const Device &r);
  void play(iZelControlPoint2XPCom *c, const std::vector<std::string> &w, const Device &r, const std::string &label,
            Browser &browser, bool to_queue);
  void seek(const std::string &where, const Device &r, const std::string &label);
  void state(iZelControlPoint2XPCom *c, const Device &r, const std::string &label);
  void playlists(iZelControlPoint2XPCom *c, const std::vector<std::string> &w, Browser &browser);
  // Title and URL of an entry number of the listing or of "URL [TITLE]";
  // false (said) when there is none.
  bool item(const std::vector<std::string> &w, Browser &browser, std::string &title, std::string &url,
            std::string *protocol = nullptr);
  // When the component says the renderer may not take the item: true (said,
  // with the item's format and the formats the renderer takes) when the
  // renderer's own list confirms it; false (said) to try anyway.
  bool refuses_format(const Device &r, const std::string &label, const std::string &title, const std::string &url,
                      const std::string &protocol);
  void said(nsresult rv, const std::string &what, const std::string &label);

  const NmcApi *api_;
  Print print_;
  uint32_t context_ = 0;
  bool have_context_ = false;
  EntrySource entry_source_;
};

// "1:02:03", "2:03", "75" (seconds) in milliseconds; -1 when malformed.
int64_t parse_position(const std::string &text);
// Words for a failed slot call ("the renderer is gone (NS_ERROR_INVALID_ARG)").
std::string slot_failure_words(nsresult rv);

}  // namespace host

#endif
