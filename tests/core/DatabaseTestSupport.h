// Open-file counts and file writing for the database tests, with the shared
// temporary folders and environment overrides.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

namespace zorva_test {

// File descriptors the process holds: a connection that really closed gives
// its file back.
inline long OpenFileCount() {
  return static_cast<long>(
      std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

}  // namespace zorva_test
