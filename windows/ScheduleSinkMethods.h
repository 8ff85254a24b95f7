// The five dispatch entries that the scheduler's and the generator's page
// sinks share, in the order that gives them their ids 1 to 5; each sink adds
// its own sixth entry after them.
#pragma once

#include "platform/html/ScriptDispatch.h"

template <class Sink>
void AddScheduleSinkMethods(Sink* sink) {
  using platform::ScriptArgs;
  using platform::ScriptType;
  using platform::ScriptValue;
  sink->AddMethod("UpdateScheduleItem",
                  {ScriptType::Text, ScriptType::Int, ScriptType::Int, ScriptType::Int, ScriptType::Int},
                  [sink](const ScriptArgs& a) {
                    sink->UpdateScheduleItem(a[0].ToText(), a[1].AsInt(), a[2].AsInt(), a[3].AsInt(), a[4].AsInt());
                    return ScriptValue();
                  });
  sink->AddMethod("InsertScheduleItem", {ScriptType::Int, ScriptType::Int, ScriptType::Int, ScriptType::Int},
                  [sink](const ScriptArgs& a) {
                    sink->InsertScheduleItem(a[0].AsInt(), a[1].AsInt(), a[2].AsInt(), a[3].AsInt());
                    return ScriptValue();
                  });
  sink->AddMethod("SetSelectorMix", {ScriptType::Text}, [sink](const ScriptArgs& a) {
    sink->SetSelectorMix(a[0].ToText());
    return ScriptValue();
  });
  sink->AddMethod("EditInPlaceUpdate", {ScriptType::Text, ScriptType::Text}, [sink](const ScriptArgs& a) {
    sink->EditInPlaceUpdate(a[0].ToText(), a[1].ToText());
    return ScriptValue();
  });
  sink->AddMethod("FrequecyHider", {ScriptType::Int}, [sink](const ScriptArgs& a) {
    sink->FrequecyHider(a[0].AsInt());
    return ScriptValue();
  });
}
