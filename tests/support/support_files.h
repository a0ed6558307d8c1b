// Temporary folders and whole-file reads and writes for the tests.
#ifndef TESTS_SUPPORT_SUPPORT_FILES_H
#define TESTS_SUPPORT_SUPPORT_FILES_H

#include <filesystem>
#include <string>

namespace test_support {

// Makes a fresh folder /tmp/<prefix>-XXXXXX. Throws when no folder can be
// made (a test must never fall back to writing somewhere else).
std::filesystem::path make_temp_dir(const std::string &prefix);
// Removes a folder and all it holds; nothing when it is gone already.
void remove_tree(const std::filesystem::path &path);

// A folder of make_temp_dir, removed with all it holds when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::string &prefix);
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::filesystem::path &path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The bytes of a file ("" when it cannot be read).
std::string read_file(const std::filesystem::path &path);
// Replaces a file with bytes.
void write_file(const std::filesystem::path &path, const std::string &bytes);

}  // namespace test_support

#endif
