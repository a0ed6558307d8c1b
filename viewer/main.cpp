// zel: shows and acts on the processes of the machine.
#include <string>
#include <vector>

#include "driver.h"
#include "source/make_source.h"

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  std::unique_ptr<zel::ProcessSource> source = zel::MakePlatformSource();
  return zel::RunZel(std::move(words), *source, zel::DriverStreams{});
}
