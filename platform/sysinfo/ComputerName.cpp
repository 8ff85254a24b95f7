#include "platform/sysinfo/ComputerName.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/kernel/LastError.h"

BOOL GetComputerNameA(char* buffer, DWORD* size) {
  if (buffer == nullptr || size == nullptr || *size == 0) {
    if (size != nullptr) *size = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::string name;
  if (const char* overridden = std::getenv("ZORVA_COMPUTER_NAME")) {
    name = overridden;
  } else {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) name = host;
  }
  const std::size_t length = std::min<std::size_t>(name.size(), *size - 1);
  std::memcpy(buffer, name.data(), length);
  buffer[length] = '\0';
  *size = static_cast<DWORD>(length);
  if (length == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}
