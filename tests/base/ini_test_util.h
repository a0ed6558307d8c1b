#ifndef TESTS_BASE_INI_TEST_UTIL_H
#define TESTS_BASE_INI_TEST_UTIL_H

// Fixture of the configuration store tests: a fresh store per test whose data
// directory is a temporary folder (never the user's or the system's).
#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support_files.h"

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    upnp_mem_init();
    upnp_log_set_sources(0);
    upnp_log_set_level(0);
    dir_ = test_support::make_temp_dir("kestrel-ini");
    upnp_ini_file_init();
  }
  void TearDown() override {
    upnp_ini_set_obfuscation(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    upnp_ini_file_release_on_exit();
    test_support::remove_tree(dir_);
  }

  // Parses "prog -appdata <dir>" followed by `words`.
  int parse(std::vector<std::string> words, const std::string &program = "prog") {
    std::vector<std::string> all = {program, "-appdata", dir_.string()};
    all.insert(all.end(), words.begin(), words.end());
    std::vector<const char *> argv;
    for (const std::string &w : all) argv.push_back(w.c_str());
    return upnp_ini_file_parse_cmdline(static_cast<int>(argv.size()), argv.data());
  }

  // Releases and initialises the store again (a new process, as far as the
  // store can tell).
  void restart_store() {
    upnp_ini_file_release_on_exit();
    upnp_ini_file_init();
  }

  void write_file(const std::filesystem::path &path, const std::string &bytes) { test_support::write_file(path, bytes); }
  std::string read_file(const std::filesystem::path &path) { return test_support::read_file(path); }

  std::string value(unsigned int key) {
    const char *text = upnp_ini_file_getString(key);
    return text != nullptr ? text : "<none>";
  }

  std::filesystem::path ini_file() { return dir_ / "lumetmedia.ini"; }

  std::filesystem::path dir_;
};

#endif
