#include "platform/desktop/DesktopControl.h"

#include <cstdio>
#include <cstdlib>
#include <future>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "platform/kernel/Clock.h"
#include "platform/kernel/Messages.h"
#include "platform/tray/Tray.h"
#include "platform/window/Window.h"
#include "platform/window/Wnd.h"

namespace platform {
namespace {

// Everything due now, handled (bounded, in case handlers keep posting).
void Settle() {
  for (int round = 0; round < 1000 && PumpWindowMessages() > 0; ++round) {
  }
}

void Run(ManualClock& clock, const std::string& line) {
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
  } else if (command == "sync") {
    std::string token;
    in >> token;
    Settle();
    std::printf("sync %s\n", token.c_str());
    std::fflush(stdout);
  }
}

}  // namespace

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
      // One command at a time: a command that settles the queue must not
      // run the commands after it inside its own turn.
      auto done = std::make_shared<std::promise<void>>();
      std::future<void> finished = done->get_future();
      if (!PostThreadCall(thread, [line, done] {
            Run(*clock, line);
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
