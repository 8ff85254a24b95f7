// The scheduler and generator windows on their real page files (the build's
// bin folder), over a music database, profile and clock of the test's own,
// with a main window that records what is posted to it; theScheduler and
// theTagLinks are put back as they were afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/AppMainWindow.h"
#include "core/Scheduler.h"
#include "platform/kernel/Messages.h"
#include "platform/profile/Profile.h"
#include "platform/window/Window.h"
#include "tests/core/RecordsTestSupport.h"
#include "tests/support/ScopedEnv.h"
#include "windows/FramelessHtmlWindow.h"
#include "windows/TagLinks.h"

namespace zorva_test {

using Posts = std::vector<UINT>;

inline void ResetScheduler() {
  if (theScheduler.IsOverridden()) theScheduler.Start();
  if (theScheduler.IsRunning()) theScheduler.Stop();
  theScheduler.SetType(ScheduleWeekdaysWeekend);
}

class SchedulerToolsTest : public RecordsTest {
 protected:
  SchedulerToolsTest() {
    SetRegistryKey("Zorva");
    SetProfileName("Zorva");
    platform::ReloadProfile();
    platform::SetDesktopSize(1920, 1080);
    CFramelessHtmlWindow::SetPageFolder(ZORVA_PAGE_DIR);
    mainWindow_ = CreateWindowHandle([this](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
      if (message >= WM_APP) posted_.push_back(message);
      return 0;
    });
    SetAppMainWindow(mainWindow_);
    ResetScheduler();
  }
  ~SchedulerToolsTest() override {
    theTagLinks.Reload(nullptr, nullptr, nullptr);
    theTagLinks.SetAutomatorSelector(Mix());
    theTagLinks.SetGeneratorSelector(Mix());
    ResetScheduler();
    SetAppMainWindow(nullptr);
    ::DestroyWindow(mainWindow_);
    CFramelessHtmlWindow::SetPageFolder("");
    platform::ReloadProfile();
  }

  // Messages posted to the main window since the last call.
  Posts TakePosted() {
    platform::PumpMessages();
    return std::exchange(posted_, {});
  }

  ScheduleItem StoreItem(int scheduleId, int start, int end, int mixId = 0) {
    ScheduleItem item(start, end, mixId, scheduleId);
    db.AddScheduleItem(item);
    return item;
  }

  // (start, end, mix id) of the stored items of a schedule.
  std::vector<std::vector<int>> Items(int scheduleId) {
    std::vector<ScheduleItem> items;
    db.GetScheduleItems(scheduleId, items);
    std::vector<std::vector<int>> out;
    for (const ScheduleItem& item : items) out.push_back({item.GetStart(), item.GetEnd(), item.GetMix().GetId()});
    return out;
  }

  TempFolder config;
  ScopedEnv configHome{"XDG_CONFIG_HOME", config.Path()};

 private:
  HWND mainWindow_ = nullptr;
  Posts posted_;
};

}  // namespace zorva_test
