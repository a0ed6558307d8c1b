// The download that the kill test kills: starts a progressive download of
// argv[1] into argv[2] and waits to be killed (at most a minute).
#include <unistd.h>

#include "base/upnp_mem.h"
#include "playlist/upnp_progressive.h"

int main(int argc, char **argv) {
  if (argc != 3) return 2;
  upnp_mem_init();
  if (upnp_renderer_get_progressive_stream(nullptr, 0, argv[1], argv[2], nullptr, 0, nullptr, nullptr) != STREAM_OK)
    return 1;
  sleep(60);
  return 0;
}
