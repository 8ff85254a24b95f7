#include "platform/xmlhttp/WebHosts.h"

#include <cstdlib>

namespace platform::xmlhttp {
namespace {

struct ServiceInfo {
  const char* variable;
  const char* defaultBase;
};

ServiceInfo Info(WebService service) {
  switch (service) {
    case WebService::Live:
      return {"ZORVA_LIVE_URL", "https://live.zorva.example"};
    case WebService::Maker:
      return {"ZORVA_WEB_URL", "http://www.zorva.example"};
    case WebService::Twitter:
      return {"ZORVA_TWITTER_URL", "http://twitter.example"};
    case WebService::Wiki:
      return {"ZORVA_WIKI_URL", "https://encyclopedia.example/wiki/"};
  }
  return {"", ""};
}

const char* Override(WebService service) {
  const char* value = std::getenv(Info(service).variable);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

std::string StripSlashes(std::string base) {
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

std::string Join(std::string base, std::string_view path) {
  if (path.empty() || path.front() != '/') base += '/';
  base += path;
  return base;
}

}  // namespace

std::string WebBase(WebService service) {
  const char* value = Override(service);
  std::string base = StripSlashes(value != nullptr ? value : Info(service).defaultBase);
  if (service == WebService::Wiki) base += '/';
  return base;
}

std::string WebUrl(WebService service, std::string_view path) { return Join(StripSlashes(WebBase(service)), path); }

std::string LiveLinkUrl(std::string_view path) {
  if (Override(WebService::Live) != nullptr) return WebUrl(WebService::Live, path);
  return Join("http://live.zorva.example", path);
}

}  // namespace platform::xmlhttp
