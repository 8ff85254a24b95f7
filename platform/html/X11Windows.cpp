#include "platform/html/X11Windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <string>
#include <vector>

#include "platform/html/X11Display.h"

namespace platform::x11 {

namespace {

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

}  // namespace

WindowId FindWindowByTitle(const std::string& title) {
  SharedDisplay shared;
  Display* display = shared.Get();
  if (!display || title.empty()) return 0;
  XSync(display, False);
  return Search(display, DefaultRootWindow(display), title, 2);
}

bool Withdraw(WindowId window) {
  return WithDisplay(
      window, [](Display* display, Window w) { return XWithdrawWindow(display, w, DefaultScreen(display)) != 0; });
}

bool Map(WindowId window) {
  return WithDisplay(window, [](Display* display, Window w) {
    XMapWindow(display, w);
    return true;
  });
}

bool MouseButtonDown(bool* down) {
  SharedDisplay shared;
  Display* display = shared.Get();
  if (!display) return false;
  Pointer pointer;
  if (!QueryPointer(display, &pointer)) return false;
  *down = (pointer.mask & (Button1Mask | Button2Mask | Button3Mask)) != 0;
  return true;
}

bool ScreenSize(int* width, int* height) {
  SharedDisplay shared;
  Display* display = shared.Get();
  if (!display) return false;
  const int screen = DefaultScreen(display);
  *width = DisplayWidth(display, screen);
  *height = DisplayHeight(display, screen);
  return *width > 0 && *height > 0;
}

}  // namespace platform::x11
