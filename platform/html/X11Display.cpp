#include "platform/html/X11Display.h"

#include <atomic>
#include <cstdlib>
#include <utility>
#include <vector>

namespace platform::x11 {

namespace {

struct ErrorRoutes {
  std::mutex mutex;  // never held across an X call
  std::vector<std::pair<Display*, int (*)(Display*, XErrorEvent*)>> notes;
  std::atomic<int> ignoring{0};
  XErrorHandler before = nullptr;
};

ErrorRoutes& TheErrorRoutes() {
  static ErrorRoutes* const routes = new ErrorRoutes;  // used until the process ends
  return *routes;
}

int RouteError(Display* display, XErrorEvent* error) {
  ErrorRoutes& routes = TheErrorRoutes();
  int (*note)(Display*, XErrorEvent*) = nullptr;
  {
    std::lock_guard<std::mutex> lock(routes.mutex);
    for (const auto& [d, n] : routes.notes)
      if (d == display) note = n;
  }
  if (note) return note(display, error);
  if (routes.ignoring.load() > 0 || !routes.before) return 0;
  return routes.before(display, error);
}

void InstallRouting() {
  static std::once_flag once;
  std::call_once(once, [] { TheErrorRoutes().before = XSetErrorHandler(RouteError); });
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

void NoteErrorsOf(Display* display, int (*note)(Display*, XErrorEvent*)) {
  InstallRouting();
  ErrorRoutes& routes = TheErrorRoutes();
  std::lock_guard<std::mutex> lock(routes.mutex);
  routes.notes.emplace_back(display, note);
}

IgnoredErrors::IgnoredErrors() {
  InstallRouting();
  ++TheErrorRoutes().ignoring;
}

IgnoredErrors::~IgnoredErrors() { --TheErrorRoutes().ignoring; }

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

bool QueryPointer(Display* display, Pointer* pointer) {
  Window root = None;
  Window child = None;
  int x = 0;
  int y = 0;
  return XQueryPointer(display, DefaultRootWindow(display), &root, &child, &pointer->x, &pointer->y, &x, &y,
                       &pointer->mask) != 0;
}

std::vector<unsigned long> LongProperty(Display* display, Window window, Atom property, Atom type, long most) {
  Atom actual = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> items;
  if (XGetWindowProperty(display, window, property, 0, most, False, type, &actual, &format, &count, &after, &data) !=
          Success ||
      !data) {
    return items;
  }
  if (format == 32) {
    const auto* list = reinterpret_cast<const unsigned long*>(data);
    items.assign(list, list + count);
  }
  XFree(data);
  return items;
}

}  // namespace platform::x11
