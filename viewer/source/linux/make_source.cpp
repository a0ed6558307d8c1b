#include "../make_source.h"
#include "proc_source.h"

namespace zel {

std::unique_ptr<ProcessSource> MakePlatformSource() { return std::make_unique<ProcSource>(); }

}  // namespace zel
