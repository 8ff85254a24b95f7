// What the player, scheduler and generator windows do alike with their
// pages' tag selector and mix menu: the filter box and its clear button, the
// page's selector marks and threshold, which clicked tag and mix links still
// name a record, and a mix deleted from a menu. What each window does with a
// tag or mix it takes stays in the window.
#pragma once

#include <string>

#include "core/Mix.h"
#include "core/Tag.h"
#include "windows/TagLinks.h"

class CDHtmlDialog;
namespace platform {
class HtmlElement;
}

class TagSelector {
 public:
  explicit TagSelector(TagLinks::PageIndex page) : page_(page) {}

  // Key up in "tagfilter": the typed text, as a prefix pattern, filters the
  // page's lists.
  void OnFilterKeyUp(platform::HtmlElement& input);
  // "findclear": the filter box emptied and the page's full lists again.
  void OnFindClear(CDHtmlDialog& window);
  // A page loaded anew has an empty filter box; its lists are written anew.
  void ForgetFilter() { filter_.clear(); }
  const std::string& GetFilter() const { return filter_; }

  // The page's tags of `mix` marked as held.
  void SetSelector(const Mix& mix) const { theTagLinks.SetSelector(page_, mix); }
  void SetThreshold(int threshold) const { theTagLinks.SetThreshold(page_, threshold); }

 private:
  TagLinks::PageIndex page_;
  std::string filter_;
};

// A mix a menu entry may still pick: a stored one, or a new random selection
// (id 0). An entry left over from a mix deleted since picks nothing.
bool IsChoosableMix(const Mix& mix);
// A tag link that still names a tag with tracks: one left over from a tag
// deleted since loads no tracks.
bool IsLiveTag(const Tag& tag);
// The "mixdel" click of a mix menu: the stored mix deleted and every window
// told; the window's own selection is not touched.
void DeleteMenuMix(const platform::HtmlElement& element);
// "<word>_<mix id>", as the pages name their selector mix: that mix, loaded
// (mix 0, holding no tag, for a missing or non-numeric id).
Mix SelectorMixOf(const std::string& text);
