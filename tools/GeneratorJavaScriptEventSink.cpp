#include "tools/GeneratorJavaScriptEventSink.h"

#include "core/AppMainWindow.h"
#include "core/Schedule.h"
#include "tools/Generator.h"
#include "windows/ScheduleSinkMethods.h"
#include "windows/TagSelector.h"

using platform::ScriptArgs;
using platform::ScriptType;
using platform::ScriptValue;

GeneratorJavaScriptEventSink::GeneratorJavaScriptEventSink() {
  // The order of the dispatch map gives the ids.
  AddScheduleSinkMethods(this);
  AddMethod("SetDuration", {ScriptType::Int}, [this](const ScriptArgs& a) {
    SetDuration(a[0].AsInt());
    return ScriptValue();
  });
}

void GeneratorJavaScriptEventSink::UpdateScheduleItem(const std::string& elementId, int start, int end, int mixId,
                                                      int scheduleId) {
  if (!owner_) return;
  owner_->UpdateScheduleItem(ScheduleItem(elementId, start, end, mixId, scheduleId));
}

void GeneratorJavaScriptEventSink::InsertScheduleItem(int start, int end, int mixId, int scheduleId) {
  if (!owner_) return;
  owner_->InsertScheduleItem(ScheduleItem(start, end, mixId, scheduleId));
}

void GeneratorJavaScriptEventSink::SetSelectorMix(const std::string& text) {
  theTagLinks.SetGeneratorSelector(SelectorMixOf(text));
}

void GeneratorJavaScriptEventSink::EditInPlaceUpdate(const std::string& elementId, const std::string&) {
  if (elementId == "currentmixname") PostToAppMainWindow(WM_APP_MIX_RENAMED);
}

void GeneratorJavaScriptEventSink::FrequecyHider(int threshold) { theTagLinks.SetGeneratorThreshold(threshold); }

void GeneratorJavaScriptEventSink::SetDuration(int minutes) {
  if (owner_) owner_->SetDuration(minutes);
}
