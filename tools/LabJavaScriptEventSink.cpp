#include "tools/LabJavaScriptEventSink.h"

#include "tools/TrackInfo.h"

using platform::ScriptArgs;
using platform::ScriptType;
using platform::ScriptValue;

LabJavaScriptEventSink::LabJavaScriptEventSink() {
  AddMethod("EditInPlaceUpdate", {ScriptType::Text, ScriptType::Text}, [this](const ScriptArgs& a) {
    EditInPlaceUpdate(a[0].ToText(), a[1].ToText());
    return ScriptValue();
  });
}

void LabJavaScriptEventSink::EditInPlaceUpdate(const std::string& elementId, const std::string& content) {
  if (owner_ == nullptr) return;
  if (elementId == "tagtitle") {
    owner_->RenameTag(content);
  } else if (elementId == "tracktitle") {
    owner_->RenameTrack(content);
  } else if (elementId == "mixtitle") {
    owner_->RenameMix(content);
  }
}
