// The process source of the platform zel runs on.
#pragma once

#include <memory>

#include "process_source.h"

namespace zel {

std::unique_ptr<ProcessSource> MakePlatformSource();

}  // namespace zel
