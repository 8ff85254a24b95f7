// Schedules and their time slots. A schedule is a set of weekdays of one
// schedule type with its items; an item binds a span of minutes to the mix
// played in it. The generator reuses items with times counted from the start
// of its playlist.
#pragma once

#include <string>
#include <vector>

#include "core/Mix.h"
#include "core/SQLiteDB.h"
#include "core/Tag.h"

namespace platform {
class HtmlElement;
}

// Days as the scheduler counts them: the local weekday with Sunday as 1.
enum ScheduleDay {
  ScheduleSunday = 1,
  ScheduleMonday,
  ScheduleTuesday,
  ScheduleWednesday,
  ScheduleThursday,
  ScheduleFriday,
  ScheduleSaturday,
};

class ScheduleItem {
 public:
  static constexpr const char* kElementPrefix = "sitemid_";
  static constexpr const char* kDeleteElementPrefix = "delsitemid_";
  static constexpr int kMinutesPerDay = 1440;

  // id 0; the mix is loaded when mixId is above 0, else a random selection.
  ScheduleItem(int start, int end, int mixId, int scheduleId);
  // As above; an element id "sitemid_<n>" gives the item id n.
  ScheduleItem(const std::string& elementId, int start, int end, int mixId, int scheduleId);
  // A row of "scheduleItem" (its mix is loaded by id).
  explicit ScheduleItem(const SQLiteRow& row);
  // The delete link of an item ("delsitemid_<id>_<schedule id>"): names the
  // item only; the times stay 0 and the mix is a random selection.
  explicit ScheduleItem(const platform::HtmlElement& element);

  int GetId() const { return id; }
  int GetStart() const { return starttime; }
  int GetEnd() const { return endtime; }
  int GetScheduleId() const { return scheduleid; }
  Mix GetMix() const { return mix; }
  void SetMix(const Mix& newMix) { mix = newMix; }
  void SetId(int newId) { id = newId; }
  void SetScheduleId(int newScheduleId) { scheduleid = newScheduleId; }
  void SetStart(int minutes) { starttime = minutes; }
  void SetEnd(int minutes) { endtime = minutes; }

  // Change the item's mix and its stored tags at once.
  void AddMixTag(const Tag& tag);
  void RemoveMixTag(const Tag& tag);

  // True when the slot holds minute m of the day. An end not after the start
  // runs over midnight; equal times hold the whole day.
  bool Contains(int minute) const;
  // "%2d:%02d"; the fixed day schedules show hours after noon on a 12-hour clock.
  std::string FormatTime(int minutes) const;

  std::string GetElementId() const;
  std::string GetDeleteElementId() const;
  // The item's div on the scheduler and generator pages.
  std::string GetHtml() const;

 private:
  int id = 0;
  int starttime = 0;
  int endtime = 0;
  Mix mix;
  int scheduleid = 0;
};

using ScheduleItemList = std::vector<ScheduleItem>;

class Schedule {
 public:
  // A row of "schedule"; its items are loaded at once.
  explicit Schedule(const SQLiteRow& row);

  int GetId() const { return id; }
  std::string GetName() const { return name; }
  int GetType() const { return type; }
  int GetDuration() const { return duration; }
  const ScheduleItemList& GetItems() const { return items; }
  // True when the schedule applies on `day` (ScheduleDay).
  bool AppliesOn(int day) const;

  // Reloads the items from the database.
  void LoadItems();
  bool HasItemAt(int day, int minute) const;
  // The mix of the first item that holds the minute on a day of the
  // schedule; otherwise a random selection.
  Mix GetMixAt(int day, int minute) const;
  // The entry of the generator's list of stored playlists ("" without a name).
  std::string GetGeneratorListHtml() const;

 private:
  int id = 0;
  std::string name;
  bool monday = false;
  bool tuesday = false;
  bool wednesday = false;
  bool thursday = false;
  bool friday = false;
  bool saturday = false;
  bool sunday = false;
  int type = 0;
  int duration = ScheduleItem::kMinutesPerDay;
  ScheduleItemList items;
};

using ScheduleList = std::vector<Schedule>;
