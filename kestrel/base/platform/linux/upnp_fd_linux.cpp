// Linux: a pipe made close-on-exec in the call that creates it.
#include <fcntl.h>
#include <unistd.h>

#include "base/upnp_fd.h"

extern "C" int upnp_pipe(int fds[2]) { return pipe2(fds, O_CLOEXEC); }
