#include "support_files.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace test_support {

std::filesystem::path make_temp_dir(const std::string &prefix) {
  std::string pattern = "/tmp/" + prefix + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder from " + pattern);
  return name.data();
}

void remove_tree(const std::filesystem::path &path) {
  if (path.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

TempDir::TempDir(const std::string &prefix) : path_(make_temp_dir(prefix)) {}

TempDir::~TempDir() { remove_tree(path_); }

std::string read_file(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

void write_file(const std::filesystem::path &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

}  // namespace test_support
