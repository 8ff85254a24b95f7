// The tag clouds of the player, scheduler and generator pages: the library's
// genres, artists and albums as three lists of links ("genretaglinks",
// "artisttaglinks", "albumtaglinks" on each page). One object, theTagLinks,
// keeps the lists, writes them into the pages, marks the tags of each page's
// selector mix, applies each page's filter text and frequency threshold, and
// renames a tag's links in every page. User-interface thread only.
#pragma once

#include <array>
#include <string>

#include "core/Mix.h"
#include "core/Tag.h"

class CDHtmlDialog;
class MusicDB;

class TagLinks {
 public:
  TagLinks() = default;
  TagLinks(const TagLinks&) = delete;
  TagLinks& operator=(const TagLinks&) = delete;

  // The pages are the three windows (null for one there is not); then
  // LoadLists. The windows must stay until the pages are set again.
  void Reload(CDHtmlDialog* player, CDHtmlDialog* scheduler, CDHtmlDialog* generator);
  // Reads the three lists from theMusicDB (a connection of its own while
  // theMusicDB is not open) and
  // writes them into every page, each tag visible, with the selector marks.
  void LoadLists();
  // LoadLists when the tags of enabled tracks differ from the kept lists
  // (made, renamed, deleted or given to other tracks); otherwise the pages
  // keep what they show, filters and all.
  void RefreshLists();

  // The three pages, in the order the lists are written into them.
  enum PageIndex { PlayerPage, SchedulerPage, GeneratorPage, PageCount };

  // The pattern for a filter text typed: "<text>%", or "" for the full lists.
  static std::string FilterPattern(const std::string& typed) { return typed.empty() ? typed : typed + "%"; }
  // The page's lists narrowed to the tags whose names are LIKE `pattern`
  // (theMusicDB); an empty pattern shows the full lists again.
  void Filter(PageIndex page, const std::string& pattern);
  // The page's tags of `mix` get class "mixtagremove", those of its old
  // selector "mixtagadd" again.
  void SetSelector(PageIndex page, const Mix& mix);
  // Tags with a frequency at or below the threshold are hidden in the page.
  void SetThreshold(PageIndex page, int threshold);

  // The same, each for its page.
  void FilterPlayerTags(const std::string& pattern) { Filter(PlayerPage, pattern); }
  void FilterAutomatorTags(const std::string& pattern) { Filter(SchedulerPage, pattern); }
  void FilterGeneratorTags(const std::string& pattern) { Filter(GeneratorPage, pattern); }
  void SetPlayerSelector(const Mix& mix) { SetSelector(PlayerPage, mix); }
  void SetAutomatorSelector(const Mix& mix) { SetSelector(SchedulerPage, mix); }
  void SetGeneratorSelector(const Mix& mix) { SetSelector(GeneratorPage, mix); }
  void SetPlayerThreshold(int threshold) { SetThreshold(PlayerPage, threshold); }
  void SetAutomatorThreshold(int threshold) { SetThreshold(SchedulerPage, threshold); }
  void SetGeneratorThreshold(int threshold) { SetThreshold(GeneratorPage, threshold); }

  // The most frequent artist; an empty artist tag while the list is empty.
  Tag GetFirstArtistTag() const;
  // The tag's links in every page and the kept lists show its (new) name.
  void RenameTagInPages(Tag tag);

 private:
  // The lists in the order they are written: genre, artist, album.
  enum ListIndex { GenreList, ArtistList, AlbumList, ListCount };

  struct Page {
    CDHtmlDialog* window = nullptr;
    std::array<TagList, ListCount> filtered;
    Mix selector;
    int threshold = 0;
  };

  void RenderToPages(TagList& tags, const char* elementId);
  void RenderToPage(Page& page, TagList& tags, const char* elementId);
  void MarkSelectorTags(Page& page, const Mix& mix);
  void UnmarkSelectorTags(Page& page, const Mix& mix);
  void HideTagRange(Page& page, int above, int upTo);
  void ShowTagRange(Page& page, int above, int upTo);

  std::array<TagList, ListCount> lists_;
  std::array<Page, PageCount> pages_;
};

// Built on first use; the main program builds it in its order of globals.
TagLinks& TheTagLinks();
#define theTagLinks (::TheTagLinks())
