// The settings and status windows on their real page files (the build's
// bin folder), with a profile, a music database and a main window of the
// test's own, links caught before they reach a browser, and a configuration
// folder that can be made unwritable.
#pragma once

#include <gtest/gtest.h>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "core/AppMainWindow.h"
#include "platform/kernel/Messages.h"
#include "platform/profile/Profile.h"
#include "platform/shell/Shell.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "windows/FramelessHtmlWindow.h"

namespace zorva_test {

// Records the links that would have been opened in the user's browser.
class CaughtLinks {
 public:
  CaughtLinks()
      : previous_(platform::shell::SetStarter([this](const std::vector<std::string>& argv) {
          if (argv.size() == 2 && argv[0] == "xdg-open") opened_.push_back(argv[1]);
          return true;
        })) {}
  ~CaughtLinks() { platform::shell::SetStarter(previous_); }
  CaughtLinks(const CaughtLinks&) = delete;
  CaughtLinks& operator=(const CaughtLinks&) = delete;

  std::vector<std::string> Take() { return std::exchange(opened_, {}); }

 private:
  std::vector<std::string> opened_;
  platform::shell::Starter previous_;
};

// While it lives nothing can be written in `folder` by this thread: its mode
// says read-only and, as root passes over modes, the thread's file-system
// user is an ordinary one meanwhile (the folders above stay readable).
class UnwritableFolder {
 public:
  UnwritableFolder(const std::string& folder, const std::vector<std::string>& readableAbove)
      : folder_(folder), readable_(readableAbove) {
    for (const std::string& path : readable_) ::chmod(path.c_str(), 0755);
    ::chmod(folder_.c_str(), 0555);
    if (::geteuid() == 0) previousUser_ = ::setfsuid(65534);
  }
  ~UnwritableFolder() {
    if (::geteuid() == 0) ::setfsuid(static_cast<uid_t>(previousUser_));
    ::chmod(folder_.c_str(), 0700);
  }
  UnwritableFolder(const UnwritableFolder&) = delete;
  UnwritableFolder& operator=(const UnwritableFolder&) = delete;

 private:
  std::string folder_;
  std::vector<std::string> readable_;
  int previousUser_ = 0;
};

// Profile, page folder and a main window that records what is posted to it.
class ToolWindowFixture {
 public:
  ToolWindowFixture() {
    SetRegistryKey("Zorva");
    SetProfileName("Zorva");
    platform::ReloadProfile();
    platform::SetDesktopSize(1920, 1080);
    CFramelessHtmlWindow::SetPageFolder(ZORVA_PAGE_DIR);
    mainWindow_ = CreateWindowHandle([this](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
      if (message >= WM_APP) posted_.emplace_back(message, wParam);
      return 0;
    });
    SetAppMainWindow(mainWindow_);
  }
  ~ToolWindowFixture() {
    SetAppMainWindow(nullptr);
    ::DestroyWindow(mainWindow_);
    CFramelessHtmlWindow::SetPageFolder("");
    platform::ReloadProfile();
  }

  // (message, wParam) posted to the main window since the last call.
  std::vector<std::pair<UINT, WPARAM>> TakePosted() {
    platform::PumpMessages();
    return std::exchange(posted_, {});
  }

  TempFolder config;
  ScopedEnv configHome{"XDG_CONFIG_HOME", config.Path()};
  ScopedEnv webHost{"ZORVA_WEB_URL", "http://127.0.0.1:9"};
  CaughtLinks links;

 private:
  HWND mainWindow_ = nullptr;
  std::vector<std::pair<UINT, WPARAM>> posted_;
};

}  // namespace zorva_test
