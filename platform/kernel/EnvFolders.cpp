#include "platform/kernel/EnvFolders.h"

#include <unistd.h>

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

std::string RuntimeFolder() { return AbsoluteEnv("XDG_RUNTIME_DIR"); }

std::string PrivateTempFolder() {
  const std::string temp = AbsoluteEnv("TMPDIR");
  return (temp.empty() || temp == "/" ? std::string("/tmp") : temp) + "/zorva-" + std::to_string(::getuid());
}

}  // namespace platform
