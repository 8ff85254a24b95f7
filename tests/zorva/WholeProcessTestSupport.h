// The home of the test's own that a whole Zorva process runs in.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/profile/Profile.h"
#include "tests/support/TempFolder.h"

namespace zorva_test {

// The folders the program expects in `home` (the runtime folder private, as
// a desktop session makes it), and this process reading Zorva's profile.
inline void PrepareWholeProcessHome(const TempFolder& home) {
  signal(SIGPIPE, SIG_IGN);  // a program that ended must not end the test
  std::filesystem::create_directories(home.File("data/Zorva"));
  std::filesystem::create_directories(home.File("config"));
  ::mkdir(home.File("run").c_str(), 0700);
  std::filesystem::create_directories(home.File("tmp"));
  SetRegistryKey("Zorva");
  SetProfileName("Zorva");
  platform::ReloadProfile();
}

}  // namespace zorva_test
