// What the desktop tests read of an X display from outside: xwininfo's
// facts about a window, the first visible window of a class (xdotool), and
// whether a client holds a selection. Header only: a test that uses it
// links X11.
#pragma once

#include <X11/Xlib.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace zorva_test {

// The value after `label` in xwininfo's answer about `id` ("" when none);
// `option` asks for more of it ("-tree" for the parent).
inline std::string WindowInfo(const std::string& id, const std::string& label, const std::string& option = "") {
  std::vector<std::string> argv{"/usr/bin/xwininfo", "-id", id};
  if (!option.empty()) argv.push_back(option);
  std::istringstream in(RunToEnd(argv));
  for (std::string line; std::getline(in, line);) {
    const std::size_t at = line.find(label);
    if (at != std::string::npos) return line.substr(at + label.size());
  }
  return "";
}

// xwininfo's line on the window that holds `id`: its id, then what it is
// ("(the root window)", a name); "" when none.
inline std::string ParentInfo(const std::string& id) { return WindowInfo(id, "Parent window id: ", "-tree"); }

// The first visible window whose class name is `name`, or "".
inline std::string FirstVisible(const std::string& name) {
  const std::string found = RunToEnd({"/usr/bin/xdotool", "search", "--onlyvisible", "--classname", name});
  return found.substr(0, found.find('\n'));
}

// Whether a client owns `selection` on the display: a system tray
// ("_NET_SYSTEM_TRAY_S0"), a compositing manager ("_NET_WM_CM_S0").
inline bool SelectionOwned(const char* selection) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  const bool owned = XGetSelectionOwner(display, XInternAtom(display, selection, False)) != None;
  XCloseDisplay(display);
  return owned;
}

}  // namespace zorva_test
