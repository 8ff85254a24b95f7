// window.external of the Lab pages: an edit in place of the shown title (a
// tag, track or mix name) reaches the Lab window, which renames the object.
// Element ids are compared exactly; any other id is ignored.
#pragma once

#include <string>

#include "platform/html/ScriptDispatch.h"

class TrackInfo;

class LabJavaScriptEventSink : public platform::ScriptDispatch {
 public:
  LabJavaScriptEventSink();

  // The Lab window; nothing is renamed while there is none.
  void SetOwner(TrackInfo* owner) { owner_ = owner; }
  TrackInfo* GetOwner() const { return owner_; }

  // "tagtitle", "tracktitle" or "mixtitle" with the edited text.
  void EditInPlaceUpdate(const std::string& elementId, const std::string& content);

 private:
  TrackInfo* owner_ = nullptr;
};
