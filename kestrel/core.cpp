// kestrel_core collects the objects of every subsystem folder (see
// CMakeLists.txt); this file only gives the target a translation unit of its own.
#include "export.h"
