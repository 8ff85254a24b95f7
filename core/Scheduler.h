// The scheduler's state: whether it runs, which schedule type is in use and
// the schedules of that type. One instance, theScheduler, lives for the whole
// run; it stores its type and on/off state in the profile when destroyed.
#pragma once

#include "core/Mix.h"
#include "core/Schedule.h"

enum class SchedulerState : int {
  Stopped = 0,
  Running = 1,
  Override = 2,
};

// How the week is laid out: 0 one schedule for all days, 1 weekdays and
// weekend, 2 one schedule per day.
enum ScheduleType : int {
  ScheduleAllDays = 0,
  ScheduleWeekdaysWeekend = 1,
  SchedulePerDay = 2,
  SchedulePlaylist = 5,  // the generator's stored playlists
};

class Scheduler {
 public:
  Scheduler();
  ~Scheduler();
  // Writes the type and whether it runs to the profile (also done at exit).
  void Store() const;
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  // Reads the stored type and on/off state (posts nothing); returns the
  // stored "ScheduleOn" value.
  int Load();
  bool IsRunning() const { return state == SchedulerState::Running; }
  bool IsOverridden() const { return state == SchedulerState::Override; }
  SchedulerState GetState() const { return state; }
  int GetType() const { return type; }
  int GetOverriddenMixId() const { return overriddenMixId; }
  const ScheduleList& GetSchedules() const { return schedules; }

  // Loads the schedules of `newType` and keeps the type.
  void SetType(int newType);
  void Reload();

  // Running: whether something is scheduled now. Override: leaves the
  // override once another mix is due (true when that is a stored mix).
  bool CheckDue();
  // The mix due now; a random selection when nothing is.
  Mix GetDueMix() const;

  void Start();
  void Stop();
  // The user chose what to play: remembers the mix due now.
  void Override();

  // Appends the items of the fixed schedules of the current type.
  void GetTypeItems(ScheduleItemList& items) const;

 private:
  // True when some schedule has an item for `day` and `minute`.
  bool HasItemAt(int day, int minute) const;
  void SetState(SchedulerState newState);

  SchedulerState state = SchedulerState::Stopped;
  int overriddenMixId = 0;
  int type = ScheduleWeekdaysWeekend;
  ScheduleList schedules;
};

// The process's scheduler, built on first use; its destructor stores its
// type and on/off state in the profile at exit, so the main program builds
// it right after the application object (see windows/ZorvaGlobals.cpp).
Scheduler& TheScheduler();
#define theScheduler (::TheScheduler())
