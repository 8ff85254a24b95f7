#include "platform/html/X11Windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <mutex>
#include <vector>

namespace platform::x11 {

namespace {

struct Connection {
  std::mutex mutex;
  bool tried = false;
  Display* display = nullptr;
};

Connection& TheConnection() {
  static Connection* const connection = new Connection;  // used until the process ends
  return *connection;
}

// Under the connection's mutex.
Display* Open(Connection& c) {
  if (!c.tried) {
    c.tried = true;
    const char* name = std::getenv("DISPLAY");
    if (name && *name) c.display = XOpenDisplay(name);
  }
  return c.display;
}

std::string TitleOf(Display* display, Window window) {
  static const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
  static const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) ==
          Success &&
      data) {
    if (type == utf8 && format == 8) title.assign(reinterpret_cast<const char*>(data), count);
    XFree(data);
    if (!title.empty()) return title;
  }
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name) {
    title = name;
    XFree(name);
  }
  return title;
}

Window Search(Display* display, Window parent, const std::string& title, int depth) {
  Window root = 0;
  Window up = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, parent, &root, &up, &children, &count)) return 0;
  std::vector<Window> list(children, children + count);
  if (children) XFree(children);
  for (Window child : list) {
    if (TitleOf(display, child) == title) return child;
  }
  if (depth <= 0) return 0;
  for (Window child : list) {
    if (Window found = Search(display, child, title, depth - 1)) return found;
  }
  return 0;
}

// X errors (a window gone meanwhile) are no reason to end the program.
int IgnoreError(Display*, XErrorEvent*) { return 0; }

// Runs `act` on the window with the display's connection, then waits until
// the server has done it.
template <class Act>
bool WithDisplay(WindowId window, Act act) {
  Connection& c = TheConnection();
  std::lock_guard<std::mutex> lock(c.mutex);
  Display* display = Open(c);
  if (!display || !window) return false;
  auto* const previous = XSetErrorHandler(IgnoreError);
  const bool done = act(display, static_cast<Window>(window));
  XSync(display, False);
  XSetErrorHandler(previous);
  return done;
}

}  // namespace

WindowId FindWindowByTitle(const std::string& title) {
  Connection& c = TheConnection();
  std::lock_guard<std::mutex> lock(c.mutex);
  Display* display = Open(c);
  if (!display || title.empty()) return 0;
  auto* const previous = XSetErrorHandler(IgnoreError);
  XSync(display, False);
  const Window found = Search(display, DefaultRootWindow(display), title, 2);
  XSetErrorHandler(previous);
  return found;
}

bool Withdraw(WindowId window) {
  return WithDisplay(window, [](Display* display, Window w) {
    return XWithdrawWindow(display, w, DefaultScreen(display)) != 0;
  });
}

bool Map(WindowId window) {
  return WithDisplay(window, [](Display* display, Window w) {
    XMapWindow(display, w);
    return true;
  });
}

bool MouseButtonDown(bool* down) {
  Connection& c = TheConnection();
  std::lock_guard<std::mutex> lock(c.mutex);
  Display* display = Open(c);
  if (!display) return false;
  Window root = 0;
  Window child = 0;
  int rootX = 0;
  int rootY = 0;
  int x = 0;
  int y = 0;
  unsigned int mask = 0;
  if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &x, &y, &mask)) return false;
  *down = (mask & (Button1Mask | Button2Mask | Button3Mask)) != 0;
  return true;
}

bool ScreenSize(int* width, int* height) {
  Connection& c = TheConnection();
  std::lock_guard<std::mutex> lock(c.mutex);
  Display* display = Open(c);
  if (!display) return false;
  const int screen = DefaultScreen(display);
  *width = DisplayWidth(display, screen);
  *height = DisplayHeight(display, screen);
  return *width > 0 && *height > 0;
}

}  // namespace platform::x11
