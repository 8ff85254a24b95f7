#include "platform/html/X11Display.h"

#include <cstdlib>

namespace platform::x11 {

namespace {

int IgnoreError(Display*, XErrorEvent*) { return 0; }

struct ErrorScopes {
  std::mutex mutex;
  int open = 0;
  XErrorHandler before = nullptr;
};

ErrorScopes& TheErrorScopes() {
  static ErrorScopes* const scopes = new ErrorScopes;  // used until the process ends
  return *scopes;
}

struct Connection {
  std::mutex mutex;
  bool tried = false;
  Display* display = nullptr;
};

Connection& TheConnection() {
  static Connection* const connection = new Connection;  // used until the process ends
  return *connection;
}

}  // namespace

IgnoredErrors::IgnoredErrors() {
  ErrorScopes& scopes = TheErrorScopes();
  std::lock_guard<std::mutex> lock(scopes.mutex);
  if (scopes.open++ == 0) scopes.before = XSetErrorHandler(IgnoreError);
}

IgnoredErrors::~IgnoredErrors() {
  ErrorScopes& scopes = TheErrorScopes();
  std::lock_guard<std::mutex> lock(scopes.mutex);
  if (--scopes.open == 0) XSetErrorHandler(scopes.before);
}

SharedDisplay::SharedDisplay() : lock_(TheConnection().mutex) {
  Connection& c = TheConnection();
  if (!c.tried) {
    c.tried = true;
    c.display = OpenDisplay();
  }
  display_ = c.display;
}

Display* OpenDisplay() {
  const char* name = std::getenv("DISPLAY");
  return name && *name ? XOpenDisplay(name) : nullptr;
}

}  // namespace platform::x11
