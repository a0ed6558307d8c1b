// The shared object libkestrel64 is linked from kestrel_core as a whole; this
// file only gives the target a translation unit of its own.
#include "export.h"
