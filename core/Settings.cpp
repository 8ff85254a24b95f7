#include "core/Settings.h"

#include "core/ShellPath.h"
#include "platform/profile/Profile.h"

Settings& TheSettings() {
  static Settings settings;
  return settings;
}

namespace {

constexpr const char* kShortcutName = "Zorva Vantrel.lnk";

bool ReadFlag(const char* section, const char* entry, bool current) {
  return GetProfileInt(section, entry, current ? 1 : 0) != 0;
}

bool WriteFlag(const char* section, const char* entry, bool value) {
  return WriteProfileInt(section, entry, value ? 1 : 0) != FALSE;
}

bool StoreFlag(const char* section, const char* entry, bool value, bool& field) {
  if (!WriteFlag(section, entry, value)) return false;
  field = value;
  return true;
}

std::string ReadText(const char* section, const char* entry, const std::string& current) {
  return GetProfileString(section, entry, current.c_str());
}

bool WriteText(const char* section, const char* entry, const std::string& value) {
  return WriteProfileString(section, entry, value.c_str()) != FALSE;
}

}  // namespace

Settings::Settings()
    : MinITunes(true),
      UseVozed(true),
      ScanLib(true),
      StartWhenWindowsStarts(true),
      ZorvaLiveUpdate(true),
      NotifyOnUpdate(true) {}

Settings::~Settings() = default;

void Settings::Load() {
  MinITunes = ReadFlag("Startup", "MinITunes", MinITunes);
  UseVozed = ReadFlag("skin", "UseVozed", UseVozed);
  ScanLib = ReadFlag("Startup", "ScanLib", ScanLib);
  TwitterName = ReadText("upload", "TwitterName", TwitterName);
  TwitterPassword = ReadText("upload", "TwitterPassword", TwitterPassword);
  StartWhenWindowsStarts = ReadFlag("upload", "StartWhenWindowsStarts", StartWhenWindowsStarts);
  ZorvaLiveUpdate = ReadFlag("upload", "ZorvaLiveUpdate", ZorvaLiveUpdate);
  NotifyOnUpdate = ReadFlag("upload", "NotifyOnUpdate", NotifyOnUpdate);
}

bool Settings::Save() {
  bool saved = WriteFlag("Startup", "MinITunes", MinITunes);
  saved = WriteFlag("skin", "UseVozed", UseVozed) && saved;
  saved = WriteFlag("Startup", "ScanLib", ScanLib) && saved;
  saved = WriteText("upload", "TwitterName", TwitterName) && saved;
  saved = WriteText("upload", "TwitterPassword", TwitterPassword) && saved;
  saved = WriteFlag("upload", "StartWhenWindowsStarts", StartWhenWindowsStarts) && saved;
  saved = WriteFlag("upload", "ZorvaLiveUpdate", ZorvaLiveUpdate) && saved;
  return WriteFlag("upload", "NotifyOnUpdate", NotifyOnUpdate) && saved;
}

bool Settings::StoreMinITunes(bool on) { return StoreFlag("Startup", "MinITunes", on, MinITunes); }

bool Settings::StoreUseVozed(bool on) { return StoreFlag("skin", "UseVozed", on, UseVozed); }

bool Settings::StoreScanLib(bool on) { return StoreFlag("Startup", "ScanLib", on, ScanLib); }

std::string Settings::GetStartupShortcutPath() {
  // Resolved on each call: the Startup folder follows the session's
  // configuration folder. The file is the one the shortcut writer makes.
  ShellPath path(SHELLPATH_STARTUP);
  // No Startup folder known: no shortcut, rather than a file of that name in
  // whatever the current folder is.
  if (path.GetFolder().empty()) return std::string();
  path.SetFileName(kShortcutName);
  return ShortcutFilePath(path.GetFullPath());
}

bool Settings::HasStartupShortcut() const { return FileExists(GetStartupShortcutPath()); }

void Settings::SetStartWithWindows(bool on) {
  const std::string shortcut = GetStartupShortcutPath();
  const bool exists = FileExists(shortcut);
  if (on) {
    if (!exists) CreateShortcut(ShellPath(SHELLPATH_MODULE).GetFullPath(), shortcut);
    return;
  }
  if (exists) {
    ShellFileOperation remove;
    remove.AddSourceFile(shortcut);
    remove.SetOperationFlags(FO_DELETE, true, false, true, true, false, false, false);
    remove.Go();
  }
}
