// window.external of the player page and the scheduler page: the methods page
// script calls by name to change schedule items, pick the scheduler page's
// selector mix, report an edited mix name, hide rare tags and switch the
// schedule type. Arguments arrive as text and 32-bit integers; nothing is
// returned. A call with a wrong name, a missing argument or a non-numeric
// number is refused by the dispatch and changes nothing.
#pragma once

#include <string>

#include "platform/html/ScriptDispatch.h"
#include "platform/kernel/WinTypes.h"

class JavaScriptEventSink : public platform::ScriptDispatch {
 public:
  // Which page's tag threshold FrequecyHider moves.
  enum PageFlag : BYTE { SchedulerPage = 0, PlayerPage = 1 };

  explicit JavaScriptEventSink(BYTE pageFlag);

  // The item named by "sitemid_<item id>" gets the times, mix and schedule;
  // an element id that names no item changes nothing. Times are minutes of
  // the day (0 to 1440) of one of the fixed schedules 1 to 10; other slots
  // are refused.
  void UpdateScheduleItem(const std::string& elementId, int start, int end, int mixId, int scheduleId);
  void InsertScheduleItem(int start, int end, int mixId, int scheduleId);
  // "<word>_<mix id>": that mix becomes the scheduler page's selector.
  void SetSelectorMix(const std::string& text);
  // "currentmixname" tells the main window to take the mix name from its page.
  void EditInPlaceUpdate(const std::string& elementId, const std::string& content);
  void FrequecyHider(int threshold);
  // 0, 1 or 2 switches the scheduler's type; the schedule is redrawn in any case.
  void SetScheduleType(int type);

  BYTE GetPageFlag() const { return pageFlag_; }

 private:
  BYTE pageFlag_;
};
