// window.external of the generator page: page script reports new and moved
// time slots, the tag selector's mix, edits in place, the tag threshold and
// the playlist length to the generator window. Arguments arrive as text and
// 32-bit integers; nothing is returned. Until the window gives itself as the
// owner, the calls that need it do nothing.
#pragma once

#include <string>

#include "platform/html/ScriptDispatch.h"

class CGenerator;

class GeneratorJavaScriptEventSink : public platform::ScriptDispatch {
 public:
  GeneratorJavaScriptEventSink();

  void SetOwner(CGenerator* owner) { owner_ = owner; }
  CGenerator* GetOwner() const { return owner_; }

  // The slot named by "sitemid_<item id>" gets the times and mix (the
  // schedule id is the open playlist's, whatever the page says).
  void UpdateScheduleItem(const std::string& elementId, int start, int end, int mixId, int scheduleId);
  void InsertScheduleItem(int start, int end, int mixId, int scheduleId);
  // "<word>_<mix id>": that mix becomes the generator page's selector.
  void SetSelectorMix(const std::string& text);
  // "currentmixname" tells the main window to take the mix name from its page.
  void EditInPlaceUpdate(const std::string& elementId, const std::string& content);
  void FrequecyHider(int threshold);
  // The open playlist's length in minutes; nothing is redrawn.
  void SetDuration(int minutes);

 private:
  CGenerator* owner_ = nullptr;
};
