#include "windows/TagSelector.h"

#include <cstdlib>

#include "core/AppMainWindow.h"
#include "core/MusicDB.h"
#include "core/Token.h"
#include "platform/window/DHtmlDialog.h"

void TagSelector::OnFilterKeyUp(platform::HtmlElement& input) {
  filter_ = TagLinks::FilterPattern(input.GetValue());
  theTagLinks.Filter(page_, filter_);
}

void TagSelector::OnFindClear(CDHtmlDialog& window) {
  // The input shows its value, not its content.
  if (auto input = window.GetElement("tagfilter")) input->SetValue("");
  filter_.clear();
  theTagLinks.Filter(page_, filter_);
}

bool IsChoosableMix(const Mix& mix) {
  return mix.GetId() == 0 || theMusicDB.GetMix(mix.GetId()).GetId() == mix.GetId();
}

bool IsLiveTag(const Tag& tag) { return tag.id > 0 && tag.frequency > 0; }

void DeleteMenuMix(const platform::HtmlElement& element) {
  const Mix mix(element);
  if (mix.GetId() > 0) theMusicDB.DeleteMix(mix);
  PostToAppMainWindow(WM_APP_MIXES_CHANGED);
}

Mix SelectorMixOf(const std::string& text) {
  CToken tokens(text, "_");
  tokens.GetNextToken();
  return Mix(std::atoi(tokens.GetNextToken().c_str()));
}
