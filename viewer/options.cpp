#include "options.h"

namespace zel {

Options::~Options() {
  if (input_file != nullptr) std::fclose(input_file);
}

}  // namespace zel
