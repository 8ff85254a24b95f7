// The user's options, one record per program (theSettings), kept in the
// application profile. Also owns the companion's start-with-the-desktop
// shortcut in the Startup folder.
#pragma once

#include <string>

class Settings {
 public:
  Settings();
  ~Settings();
  Settings(const Settings&) = default;
  Settings& operator=(const Settings&) = default;

  // Reads every value; a missing one keeps the field's current value.
  void Load();
  // Writes every value (flags as 1 or 0); false when one could not be
  // written (the profile's folder cannot be written).
  bool Save();

  bool GetMinITunes() const { return MinITunes; }
  bool GetUseVozed() const { return UseVozed; }
  bool GetScanLib() const { return ScanLib; }
  bool GetStartWhenWindowsStarts() const { return StartWhenWindowsStarts; }
  bool GetZorvaLiveUpdate() const { return ZorvaLiveUpdate; }
  bool GetNotifyOnUpdate() const { return NotifyOnUpdate; }
  std::string GetTwitterName() const { return TwitterName; }
  std::string GetTwitterPassword() const { return TwitterPassword; }

  void SetMinITunes(bool on) { MinITunes = on; }
  void SetUseVozed(bool on) { UseVozed = on; }
  void SetScanLib(bool on) { ScanLib = on; }
  void SetStartWhenWindowsStarts(bool on) { StartWhenWindowsStarts = on; }
  void SetZorvaLiveUpdate(bool on) { ZorvaLiveUpdate = on; }
  void SetNotifyOnUpdate(bool on) { NotifyOnUpdate = on; }

  // Each sets one flag and writes it to the profile at once, for options
  // changed while the program runs. False, with the flag as it was, when the
  // profile cannot be written.
  bool StoreMinITunes(bool on);
  bool StoreUseVozed(bool on);
  bool StoreScanLib(bool on);

  // True when the companion's shortcut is in the Startup folder.
  bool HasStartupShortcut() const;
  // On: creates the shortcut to the running program unless there is one.
  // Off: deletes it when there is one. Failures show in HasStartupShortcut.
  void SetStartWithWindows(bool on);
  static std::string GetStartupShortcutPath();

 private:
  bool MinITunes;
  bool UseVozed;
  bool ScanLib;
  bool StartWhenWindowsStarts;
  bool ZorvaLiveUpdate;
  bool NotifyOnUpdate;
  std::string TwitterName;
  std::string TwitterPassword;
};

// The process's settings, built on first use; the main program builds it
// in its order of globals.
Settings& TheSettings();
#define theSettings (::TheSettings())
