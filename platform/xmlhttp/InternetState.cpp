#include "platform/xmlhttp/InternetState.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cstdlib>
#include <string>

namespace {

bool HasNetworkInterface() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (ifaddrs* entry = list; entry != nullptr && !found; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    const int family = entry->ifa_addr->sa_family;
    const unsigned flags = entry->ifa_flags;
    found = (family == AF_INET || family == AF_INET6) && (flags & IFF_UP) && (flags & IFF_RUNNING) &&
            !(flags & IFF_LOOPBACK);
  }
  freeifaddrs(list);
  return found;
}

}  // namespace

BOOL InternetGetConnectedState(DWORD* flags, DWORD) {
  bool online = false;
  const char* forced = std::getenv("ZORVA_INTERNET_CONNECTED");
  if (forced != nullptr && (std::string(forced) == "1" || std::string(forced) == "0")) {
    online = std::string(forced) == "1";
  } else {
    online = HasNetworkInterface();
  }
  if (flags != nullptr) *flags = online ? INTERNET_CONNECTION_LAN : INTERNET_CONNECTION_OFFLINE;
  return online ? TRUE : FALSE;
}
