#include "windows/GeneratorJavaScriptEventSink.h"

#include <cstdlib>

#include "core/AppMainWindow.h"
#include "core/Mix.h"
#include "core/Schedule.h"
#include "core/Token.h"
#include "tools/Generator.h"
#include "windows/TagLinks.h"

using platform::ScriptArgs;
using platform::ScriptType;
using platform::ScriptValue;

GeneratorJavaScriptEventSink::GeneratorJavaScriptEventSink() {
  // The order of the dispatch map gives the ids.
  AddMethod("UpdateScheduleItem",
            {ScriptType::Text, ScriptType::Int, ScriptType::Int, ScriptType::Int, ScriptType::Int},
            [this](const ScriptArgs& a) {
              UpdateScheduleItem(a[0].ToText(), a[1].AsInt(), a[2].AsInt(), a[3].AsInt(), a[4].AsInt());
              return ScriptValue();
            });
  AddMethod("InsertScheduleItem", {ScriptType::Int, ScriptType::Int, ScriptType::Int, ScriptType::Int},
            [this](const ScriptArgs& a) {
              InsertScheduleItem(a[0].AsInt(), a[1].AsInt(), a[2].AsInt(), a[3].AsInt());
              return ScriptValue();
            });
  AddMethod("SetSelectorMix", {ScriptType::Text}, [this](const ScriptArgs& a) {
    SetSelectorMix(a[0].ToText());
    return ScriptValue();
  });
  AddMethod("EditInPlaceUpdate", {ScriptType::Text, ScriptType::Text}, [this](const ScriptArgs& a) {
    EditInPlaceUpdate(a[0].ToText(), a[1].ToText());
    return ScriptValue();
  });
  AddMethod("FrequecyHider", {ScriptType::Int}, [this](const ScriptArgs& a) {
    FrequecyHider(a[0].AsInt());
    return ScriptValue();
  });
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
  CToken tokens(text, "_");
  tokens.GetNextToken();
  const int mixId = std::atoi(tokens.GetNextToken().c_str());
  theTagLinks.SetGeneratorSelector(Mix(mixId));
}

void GeneratorJavaScriptEventSink::EditInPlaceUpdate(const std::string& elementId, const std::string&) {
  if (elementId == "currentmixname") PostToAppMainWindow(WM_APP_MIX_RENAMED);
}

void GeneratorJavaScriptEventSink::FrequecyHider(int threshold) { theTagLinks.SetGeneratorThreshold(threshold); }

void GeneratorJavaScriptEventSink::SetDuration(int minutes) {
  if (owner_) owner_->SetDuration(minutes);
}
