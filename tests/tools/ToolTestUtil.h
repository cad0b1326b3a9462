// What the end-to-end tests of kx9label share: a scratch folder removed
// when the test ends, however it ends, and whole-file reads.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tool_test {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct ScratchDir {
  ScratchDir() {
    char pattern[] = "/tmp/kx9label-test-XXXXXX";
    EXPECT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  ~ScratchDir() { std::filesystem::remove_all(dir); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string Path(const std::string& name) const { return dir + "/" + name; }

  std::string dir;
};

}  // namespace tool_test
