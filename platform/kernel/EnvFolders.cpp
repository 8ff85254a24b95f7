#include "platform/kernel/EnvFolders.h"

#include <cstdlib>

namespace platform {

std::string AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return {};
  std::string text(value);
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::string XdgFolder(const char* variable, const char* underHome) {
  std::string folder = AbsoluteEnv(variable);
  if (!folder.empty()) return folder;
  const std::string home = AbsoluteEnv("HOME");
  if (home.empty()) return {};
  return (home == "/" ? "" : home) + underHome;
}

}  // namespace platform
