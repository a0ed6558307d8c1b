// The library's clean end, as a host calls it before unloading: the exported
// ZelControlPoint2XPComShutdown (when the library has one), its result and
// time, and the threads of the process left after it.
#ifndef KESTREL_HOST_SHUTDOWN_H
#define KESTREL_HOST_SHUTDOWN_H

#include "host_load.h"

namespace host {

// The number of threads of this process.
int thread_count();

// Calls the library's clean end and prints a "shutdown" record. Answers the
// number of failed checks: the end failed, or more than allowed_threads
// threads are left.
int end_library(const Library &lib, int allowed_threads);

}  // namespace host

#endif
