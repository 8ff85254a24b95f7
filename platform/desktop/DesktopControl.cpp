#include "platform/desktop/DesktopControl.h"

#include <cstdlib>
#include <future>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/Messages.h"
#include "platform/tray/Tray.h"
#include "platform/window/DHtmlDialog.h"
#include "platform/window/Window.h"
#include "platform/window/Wnd.h"

namespace platform {
namespace {

// Everything due now, handled (bounded, in case handlers keep posting).
void Settle() {
  for (int round = 0; round < 1000 && PumpWindowMessages() > 0; ++round) {
  }
}

const CDHtmlDialog* HtmlDialogOf(HWND hwnd) { return dynamic_cast<const CDHtmlDialog*>(CWnd::FromHandle(hwnd)); }

// The file name of the page a window shows ("" for a window without a page).
std::string PageName(HWND hwnd) {
  const CDHtmlDialog* dialog = HtmlDialogOf(hwnd);
  if (dialog == nullptr) return {};
  std::string url = dialog->GetCurrentUrl();
  url = url.substr(0, url.find_first_of("?#"));
  return url.substr(url.rfind('/') + 1);
}

// Each answer is one line.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

// Front to back.
std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  for (HWND hwnd = GetTopWindow(nullptr); hwnd != nullptr; hwnd = GetWindow(hwnd, GW_HWNDNEXT)) windows.push_back(hwnd);
  return windows;
}

void ListWindows(std::ostream& out) {
  for (HWND hwnd : TopLevelWindows()) {
    const std::string page = PageName(hwnd);
    out << "window " << (IsWindowVisible(hwnd) ? 1 : 0) << ' ' << (page.empty() ? "-" : page) << ' '
        << OneLine(GetWindowText(hwnd)) << '\n';
  }
}

void WriteText(const std::string& window, const std::string& id, std::ostream& out) {
  for (HWND hwnd : TopLevelWindows()) {
    const CDHtmlDialog* dialog = HtmlDialogOf(hwnd);
    if (dialog == nullptr || (PageName(hwnd) != window && GetWindowText(hwnd) != window)) continue;
    if (!dialog->GetElement(id)) continue;
    out << "text " << OneLine(dialog->GetElementText(id)) << '\n';
    return;
  }
  out << "no text\n";
}

}  // namespace

void RunDesktopCommand(ManualClock& clock, const std::string& line, std::ostream& out) {
  std::istringstream in(line);
  std::string command;
  in >> command;
  if (command == "advance") {
    Millis ms = 0;
    if (in >> ms && ms > 0) clock.Advance(ms);
  } else if (command == "hotkey") {
    UINT modifiers = 0;
    UINT key = 0;
    if (in >> modifiers >> key) PressHotKey(modifiers, key);
  } else if (command == "tray") {
    UINT event = 0;
    const auto icons = tray::Icons();
    if (in >> event && !icons.empty()) tray::SendIconEvent(icons.front().hwnd, icons.front().id, event);
  } else if (command == "menu") {
    UINT id = 0;
    if (in >> id) {
      tray::SetMenuChooser([id](const tray::ShownMenu&) {
        tray::SetMenuChooser(nullptr);
        return id;
      });
    }
  } else if (command == "quit") {
    PostQuitMessage(0);
  } else if (command == "windows") {
    ListWindows(out);
  } else if (command == "text") {
    std::string window;
    std::string id;
    if (in >> window >> id) WriteText(window, id, out);
  } else if (command == "sync") {
    std::string token;
    in >> token;
    Settle();
    out << "sync " << token << '\n';
  }
  out.flush();
}

bool StartDesktopControl() {
  const char* wanted = std::getenv("ZORVA_DESKTOP_CONTROL");
  if (wanted == nullptr || std::string(wanted) != "1") return false;
  // Lives as long as the process.
  static ManualClock* const clock = new ManualClock;
  InstallClock(clock);
  EnsureMessageQueue();
  const DWORD thread = GetCurrentThreadId();
  std::thread([thread] {
    std::string line;
    while (std::getline(std::cin, line)) {
      // Time passes whatever the program's thread is doing: one that waits
      // for a moment to pass (a timed test of an event) must see it pass.
      if (line.rfind("advance", 0) == 0) {
        RunDesktopCommand(*clock, line, std::cout);
        continue;
      }
      // One command at a time: a command that settles the queue must not
      // run the commands after it inside its own turn.
      auto done = std::make_shared<std::promise<void>>();
      std::future<void> finished = done->get_future();
      if (!PostThreadCall(thread, [line, done] {
            RunDesktopCommand(*clock, line, std::cout);
            done->set_value();
          })) {
        return;
      }
      finished.wait();
    }
  }).detach();
  return true;
}

}  // namespace platform
