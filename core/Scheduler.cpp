#include "core/Scheduler.h"

#include "core/AppMainWindow.h"
#include "core/MusicDB.h"
#include "platform/kernel/Clock.h"
#include "platform/profile/Profile.h"
#include "platform/kernel/Log.h"

namespace {

constexpr const char* kSection = "Startup";
constexpr const char* kTypeValue = "ScheduleType";
constexpr const char* kOnValue = "ScheduleOn";

// The scheduler's day (Sunday 1 .. Saturday 7) and minute of the day, read once.
struct Moment {
  int day;
  int minute;
};

Moment Now() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wDayOfWeek + 1, now.wHour * 60 + now.wMinute};
}

}  // namespace

Scheduler::Scheduler() = default;

Scheduler::~Scheduler() {
  // At exit: nothing may escape a destructor, and a profile that cannot be
  // written only costs the stored state.
  try {
    Store();
  } catch (...) {
    platform::LogFailure("Scheduler::~Scheduler");
  }
}

void Scheduler::Store() const {
  WriteProfileInt(kSection, kTypeValue, type);
  WriteProfileInt(kSection, kOnValue, state == SchedulerState::Stopped ? 0 : 1);
}

int Scheduler::Load() {
  SetType(static_cast<int>(GetProfileInt(kSection, kTypeValue, ScheduleWeekdaysWeekend)));
  const int on = static_cast<int>(GetProfileInt(kSection, kOnValue, 0));
  state = on == 1 ? SchedulerState::Running : SchedulerState::Stopped;
  return on;
}

void Scheduler::SetType(int newType) {
  schedules.clear();
  theMusicDB.GetSchedules(newType, schedules);
  type = newType;
}

void Scheduler::Reload() { SetType(type); }

bool Scheduler::HasItemAt(int day, int minute) const {
  for (const Schedule& schedule : schedules) {
    if (schedule.HasItemAt(day, minute)) return true;
  }
  return false;
}

bool Scheduler::CheckDue() {
  switch (state) {
    case SchedulerState::Stopped:
      return false;
    case SchedulerState::Running: {
      const Moment now = Now();
      return HasItemAt(now.day, now.minute);
    }
    case SchedulerState::Override: {
      const int due = GetDueMix().GetId();
      if (due == overriddenMixId) return false;
      overriddenMixId = 0;
      SetState(SchedulerState::Running);
      return due > 0;
    }
  }
  return false;
}

Mix Scheduler::GetDueMix() const {
  const Moment now = Now();
  for (const Schedule& schedule : schedules) {
    if (schedule.HasItemAt(now.day, now.minute)) return schedule.GetMixAt(now.day, now.minute);
  }
  return Mix();
}

void Scheduler::Start() { SetState(SchedulerState::Running); }

void Scheduler::Stop() { SetState(SchedulerState::Stopped); }

void Scheduler::Override() {
  state = SchedulerState::Override;
  overriddenMixId = GetDueMix().GetId();
  PostToAppMainWindow(WM_APP_SCHEDULER_MODE);
}

void Scheduler::SetState(SchedulerState newState) {
  state = newState;
  PostToAppMainWindow(WM_APP_SCHEDULER_MODE);
}

void Scheduler::GetTypeItems(ScheduleItemList& items) const {
  int first = 0;
  int last = -1;
  switch (type) {
    case ScheduleAllDays:
      first = last = 1;
      break;
    case ScheduleWeekdaysWeekend:
      first = 2;
      last = 3;
      break;
    case SchedulePerDay:
      first = 4;
      last = 10;
      break;
    default:
      break;
  }
  for (int scheduleId = first; scheduleId <= last; ++scheduleId) {
    theMusicDB.GetScheduleItems(scheduleId, items);
  }
}
