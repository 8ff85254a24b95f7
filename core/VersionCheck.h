// The program's version, and the daily look at the maker's version file that
// offers the download of another build.
#pragma once

#include <string>

// "3.2B".
const char* GetVersionString();
// 1034.
int GetBuildNumber();
// Both as the settings and options pages show them: "3.2B (Build 1034)".
std::string GetVersionText();

// Run by the library-scan worker before its first scan; the worker builds
// one on its stack for the call.
class VersionCheck {
 public:
  // At most once per calendar day: reads the version file and, when it names
  // another build, asks whether to download it. Swallows every failure; the
  // result means nothing.
  bool CheckForUpdate();
};
