// Stands for the application profile of the desktop class library, which keeps
// its values in the registry under Software\<company>\<program>\<section>.
// Here the same tree lives in one JSON file in the user's configuration folder
// ($XDG_CONFIG_HOME/zorva/profile.json, default ~/.config/zorva/profile.json).
//
// As in the registry, key and value names fold case (the first spelling
// written is kept) and every value has a type: integers are DWORDs, strings
// and binary values are kept apart, and reading a value as the wrong type
// gives the default. Every write reaches the disk at once through a
// temporary file that replaces the profile atomically. A damaged profile
// reads as empty; it is set aside as profile.json.damaged-<n> before the
// next write stores anything, so nothing it held is lost. All functions are
// thread safe and see writes of other processes.
#pragma once

#include <string>
#include <vector>

#include "platform/kernel/WinTypes.h"

// Company part of the key ("Zorva"). Until it is called the key has no
// company part.
void SetRegistryKey(const char* company);
// Program part of the key ("Zorva" or "Vantrel"). Until it is called the
// running program's file name is used.
void SetProfileName(const char* program);

UINT GetProfileInt(const char* section, const char* entry, int defaultValue);
BOOL WriteProfileInt(const char* section, const char* entry, int value);
std::string GetProfileString(const char* section, const char* entry, const char* defaultValue = "");
// A null value deletes the entry, a null entry deletes the whole section;
// deleting what does not exist gives FALSE.
BOOL WriteProfileString(const char* section, const char* entry, const char* value);
// FALSE and empty data when the value is absent or not binary.
BOOL GetProfileBinary(const char* section, const char* entry, std::vector<BYTE>& data);
BOOL WriteProfileBinary(const char* section, const char* entry, const BYTE* data, UINT bytes);

namespace platform {

// The file that holds the profile; "" when no configuration folder is known
// (then reads give defaults and writes fail).
std::string ProfileFilePath();

// Drops what is cached of the file so the next call reads it afresh.
void ReloadProfile();

}  // namespace platform
