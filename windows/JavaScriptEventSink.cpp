#include "windows/JavaScriptEventSink.h"

#include <charconv>

#include "core/AppMainWindow.h"
#include "core/Mix.h"
#include "core/MusicDB.h"
#include "core/Schedule.h"
#include "core/Scheduler.h"
#include "windows/ScheduleSinkMethods.h"
#include "windows/TagSelector.h"

using platform::ScriptArgs;
using platform::ScriptType;
using platform::ScriptValue;

namespace {

// The item id of "sitemid_<id>": the whole rest a positive decimal number.
bool ItemIdOf(const std::string& elementId, int* id) {
  const std::string prefix = ScheduleItem::kElementPrefix;
  if (elementId.compare(0, prefix.size(), prefix) != 0) return false;
  const char* first = elementId.data() + prefix.size();
  const char* last = elementId.data() + elementId.size();
  int value = 0;
  auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || value <= 0) return false;
  *id = value;
  return true;
}

// A slot of one of the scheduler's ten fixed schedules: minutes of the day
// (1440 is the midnight that ends it; an end before the start runs over
// midnight).
bool IsDaySlot(int start, int end, int scheduleId) {
  constexpr int kFirstSchedule = 1;
  constexpr int kLastSchedule = 10;
  auto minuteOfDay = [](int m) { return m >= 0 && m <= ScheduleItem::kMinutesPerDay; };
  return minuteOfDay(start) && minuteOfDay(end) && scheduleId >= kFirstSchedule && scheduleId <= kLastSchedule;
}

}  // namespace

JavaScriptEventSink::JavaScriptEventSink(BYTE pageFlag) : pageFlag_(pageFlag) {
  // The order of the dispatch map gives the ids.
  AddScheduleSinkMethods(this);
  AddMethod("SetScheduleType", {ScriptType::Int}, [this](const ScriptArgs& a) {
    SetScheduleType(a[0].AsInt());
    return ScriptValue();
  });
}

void JavaScriptEventSink::UpdateScheduleItem(const std::string& elementId, int start, int end, int mixId,
                                             int scheduleId) {
  // An id that names no item would have been written as item 0.
  int itemId = 0;
  if (!ItemIdOf(elementId, &itemId) || !IsDaySlot(start, end, scheduleId)) return;
  ScheduleItem item(elementId, start, end, mixId, scheduleId);
  theMusicDB.UpdateScheduleItem(item);
  PostToAppMainWindow(WM_APP_SCHEDULE_CHANGED);
}

void JavaScriptEventSink::InsertScheduleItem(int start, int end, int mixId, int scheduleId) {
  if (!IsDaySlot(start, end, scheduleId)) return;
  ScheduleItem item(start, end, mixId, scheduleId);
  theMusicDB.AddScheduleItem(item);
  PostToAppMainWindow(WM_APP_SCHEDULE_CHANGED);
}

void JavaScriptEventSink::SetSelectorMix(const std::string& text) {
  theTagLinks.SetAutomatorSelector(SelectorMixOf(text));
}

void JavaScriptEventSink::EditInPlaceUpdate(const std::string& elementId, const std::string&) {
  if (elementId == "currentmixname") PostToAppMainWindow(WM_APP_MIX_RENAMED);
}

void JavaScriptEventSink::FrequecyHider(int threshold) {
  if (pageFlag_ == PlayerPage) {
    theTagLinks.SetPlayerThreshold(threshold);
  } else {
    theTagLinks.SetAutomatorThreshold(threshold);
  }
}

void JavaScriptEventSink::SetScheduleType(int type) {
  if (type >= ScheduleAllDays && type <= SchedulePerDay) theScheduler.SetType(type);
  PostToAppMainWindow(WM_APP_SCHEDULE_CHANGED);
}
