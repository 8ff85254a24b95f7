// A music database, profile folder and clock of their own for the schedule
// and scheduler tests, with a main window that counts what is posted to it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/AppMainWindow.h"
#include "core/MusicDB.h"
#include "core/Schedule.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Messages.h"
#include "platform/profile/Profile.h"
#include "tests/core/RecordsTestSupport.h"

namespace zorva_test {

class ScheduleFixture : public RecordsTest {
 protected:
  ScheduleFixture() {
    platform::ReloadProfile();
    window_ = CreateWindowHandle([this](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
      if (message == WM_APP_SCHEDULER_MODE) ++modeMessages_;
      return 0;
    });
    SetAppMainWindow(window_);
  }
  ~ScheduleFixture() override {
    SetAppMainWindow(nullptr);
    DestroyWindow(window_);
    platform::ReloadProfile();
  }

  // WM_APP_SCHEDULER_MODE messages posted since the last call.
  int TakeModeMessages() {
    platform::PumpMessages();
    const int count = modeMessages_;
    modeMessages_ = 0;
    return count;
  }

  // Stores an item in the schedule; returns it with its id.
  ScheduleItem AddItem(int scheduleId, int start, int end, const Mix& mix) {
    ScheduleItem item(start, end, mix.GetId(), scheduleId);
    db.AddScheduleItem(item);
    return item;
  }

  // Local time: 2026-01-05 is a Monday, 2026-01-10 a Saturday, 2026-01-11 a Sunday.
  void SetNow(int day, int hour, int minute) { clock.SetLocalDateTime(2026, 1, day, hour, minute); }

  TempFolder config;
  ScopedEnv configHome{"XDG_CONFIG_HOME", config.Path()};
  platform::ManualClock clock;
  platform::ScopedClock installedClock{clock};

 private:
  HWND window_ = nullptr;
  int modeMessages_ = 0;
};

}  // namespace zorva_test
