#include "platform/desktop/DesktopControl.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <future>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/Messages.h"
#include "platform/tray/Tray.h"
#include "platform/window/DHtmlDialog.h"
#include "platform/window/MessageBox.h"
#include "platform/window/Window.h"
#include "platform/window/Wnd.h"

namespace platform {
namespace {

// Everything due now, handled (bounded, in case handlers keep posting).
void Settle() {
  for (int round = 0; round < 1000 && PumpWindowMessages() > 0; ++round) {}
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

void Click(const std::string& window, const std::string& id, std::ostream& out) {
  for (HWND hwnd : TopLevelWindows()) {
    auto* dialog = dynamic_cast<CDHtmlDialog*>(CWnd::FromHandle(hwnd));
    if (dialog == nullptr || (PageName(hwnd) != window && GetWindowText(hwnd) != window)) continue;
    HtmlElementPtr element = dialog->GetElement(id);
    if (!element || !dialog->GetDocument()) continue;
    out << "clicked\n";
    out.flush();
    dialog->GetDocument()->FireEvent(HtmlEvent{"click", element});
    return;
  }
  out << "no element\n";
}

void WritePlace(const std::string& window, std::ostream& out) {
  for (HWND hwnd : TopLevelWindows()) {
    if (PageName(hwnd) != window && GetWindowText(hwnd) != window) continue;
    RECT rect{};
    if (!GetWindowRect(hwnd, &rect)) continue;
    out << "place " << rect.left << ' ' << rect.top << ' ' << rect.right << ' ' << rect.bottom << '\n';
    return;
  }
  out << "no place\n";
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
  } else if (command == "click") {
    // The id is the rest of the line: ids may hold spaces.
    std::string window;
    std::string id;
    if (in >> window >> std::ws && std::getline(in, id) && !id.empty()) Click(window, id, out);
  } else if (command == "place") {
    std::string window;
    if (in >> window) WritePlace(window, out);
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
  // Lines are read as they come, so time can be moved on while a command
  // waits for the program's thread.
  struct Lines {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::string> waiting;
    bool ended = false;
  };
  auto lines = std::make_shared<Lines>();
  std::thread([lines] {
    std::string line;
    while (std::getline(std::cin, line)) {
      std::lock_guard<std::mutex> lock(lines->mutex);
      lines->waiting.push_back(line);
      lines->ready.notify_all();
    }
    std::lock_guard<std::mutex> lock(lines->mutex);
    lines->ended = true;
    lines->ready.notify_all();
  }).detach();
  std::thread([thread, lines] {
    // Time passes whatever the program's thread is doing: one that waits
    // for a moment to pass (a timed test of an event) must see it pass, also
    // while a command waits for that thread.
    auto runAdvances = [lines] {
      std::vector<std::string> advances;
      {
        std::lock_guard<std::mutex> lock(lines->mutex);
        for (auto it = lines->waiting.begin(); it != lines->waiting.end();) {
          if (it->rfind("advance", 0) == 0) {
            advances.push_back(*it);
            it = lines->waiting.erase(it);
          } else {
            ++it;
          }
        }
      }
      for (const std::string& advance : advances) RunDesktopCommand(*clock, advance, std::cout);
    };
    for (;;) {
      std::string line;
      {
        std::unique_lock<std::mutex> lock(lines->mutex);
        lines->ready.wait(lock, [&] { return !lines->waiting.empty() || lines->ended; });
        if (lines->waiting.empty()) return;
        line = lines->waiting.front();
        lines->waiting.pop_front();
      }
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
      // A command that raised a question (a message box) ends with its
      // answer; meanwhile the question's own loop takes the next commands,
      // as the user may act on the desktop while it waits.
      while (finished.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready && !QuestionWaits()) {
        runAdvances();
      }
    }
  }).detach();
  return true;
}

}  // namespace platform
