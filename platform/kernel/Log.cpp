#include "platform/kernel/Log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace platform {

void LogLine(const char* where, const std::string& what) {
  // Read each time: the failures are rare, and tests switch it.
  const char* value = std::getenv("ZORVA_LOG");
  if (!value || std::strcmp(value, "1") != 0) return;
  std::fprintf(stderr, "zorva: %s: %s\n", where, what.c_str());
}

void LogFailure(const char* where) {
  std::string what = "unknown failure";
  try {
    throw;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (int code) {
    what = "error " + std::to_string(code);
  } catch (...) {
    // Neither kind: the line below says "unknown failure". Tracing it from
    // here would throw the same failure again, without end.
  }
  LogLine(where, what);
}

}  // namespace platform
