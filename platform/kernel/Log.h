// Traces of failures the program catches and goes on from: quiet unless
// ZORVA_LOG=1 is set, then one line to standard error each.
#pragma once

#include <string>

namespace platform {

// Writes "zorva: <where>: <what>" when ZORVA_LOG is "1".
void LogLine(const char* where, const std::string& what);

// Inside a catch block: traces the failure in flight, by its what() where
// it has one, by its number for the player's thrown ints.
void LogFailure(const char* where);

}  // namespace platform
