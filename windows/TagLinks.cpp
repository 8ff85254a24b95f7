#include "windows/TagLinks.h"

#include <algorithm>
#include <initializer_list>
#include <optional>

#include "core/MusicDB.h"
#include "platform/window/DHtmlDialog.h"

TagLinks& TheTagLinks() {
  static TagLinks links;
  return links;
}

namespace {

struct ListKind {
  int type;
  const char* elementId;
};

// Genre, artist, album: the order the lists are read, written and walked.
constexpr ListKind kLists[] = {
    {TagGenre, "genretaglinks"},
    {TagArtist, "artisttaglinks"},
    {TagAlbum, "albumtaglinks"},
};

platform::HtmlDocument* DocumentOf(CDHtmlDialog* window) { return window ? window->GetDocument() : nullptr; }

// The tags of the lists that `mix` holds. The page calls that follow are made
// on these copies: page script may call back into the lists while a browser
// runs them.
TagList HeldTags(const Mix& mix, std::initializer_list<const TagList*> lists) {
  TagList held;
  if (mix.IsRandom()) return held;
  for (const TagList* list : lists) {
    for (const Tag& tag : *list) {
      if (mix.HasTag(tag)) held.push_back(tag);
    }
  }
  return held;
}

int LargestFrequency(const TagList& tags) {
  int largest = 0;
  for (const Tag& tag : tags) largest = std::max(largest, tag.frequency);
  return largest;
}

// Every tag visible, whatever the page's threshold: a fresh list shows all.
std::string CloudHtml(TagList& tags, std::size_t reservePerTag) {
  const int largest = LargestFrequency(tags);
  std::string html;
  html.reserve(tags.size() * reservePerTag);
  for (Tag& tag : tags) html += tag.GetCloudHtml(largest, 0);
  return html;
}

}  // namespace

void TagLinks::Reload(CDHtmlDialog* player, CDHtmlDialog* scheduler, CDHtmlDialog* generator) {
  pages_[PlayerPage].window = player;
  pages_[SchedulerPage].window = scheduler;
  pages_[GeneratorPage].window = generator;
  LoadLists();
}

void TagLinks::LoadLists() {
  // theMusicDB keeps its lists until the data changes; a connection of our
  // own would read them all again each time.
  std::optional<MusicDB> own;
  if (!theMusicDB.IsOpen()) own.emplace(theMusicDB.GetPath());
  MusicDB& db = own ? *own : theMusicDB;
  for (const ListKind& kind : kLists) {
    for (Page& page : pages_) {
      if (page.window) page.window->SetElementHtml(kind.elementId, "Loading...");
    }
  }
  for (TagList& list : lists_) list.clear();
  for (int i = 0; i < ListCount; ++i) {
    TagList& list = lists_[i];
    db.GetTagsByType(list, kLists[i].type, std::string());
    RenderToPages(list, kLists[i].elementId);
    for (Page& page : pages_) {
      for (const Tag& tag : HeldTags(page.selector, {&list})) {
        if (platform::HtmlDocument* document = DocumentOf(page.window)) tag.SetClassRemove(*document);
      }
    }
  }
}

void TagLinks::RefreshLists() {
  if (!theMusicDB.IsOpen()) {
    LoadLists();
    return;
  }
  auto same = [](const TagList& a, const TagList& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Tag& x, const Tag& y) {
      return x.id == y.id && x.name == y.name && x.type == y.type && x.frequency == y.frequency;
    });
  };
  for (int i = 0; i < ListCount; ++i) {
    TagList stored;
    theMusicDB.GetTagsByType(stored, kLists[i].type, std::string());
    if (!same(stored, lists_[i])) {
      LoadLists();
      return;
    }
  }
}

void TagLinks::RenderToPages(TagList& tags, const char* elementId) {
  const std::string html = CloudHtml(tags, 270);
  for (Page& page : pages_) {
    if (page.window) page.window->SetElementHtml(elementId, html);
  }
}

void TagLinks::RenderToPage(Page& page, TagList& tags, const char* elementId) {
  const std::string html = CloudHtml(tags, 300);
  if (page.window) page.window->SetElementHtml(elementId, html);
}

void TagLinks::MarkSelectorTags(Page& page, const Mix& mix) {
  for (const Tag& tag : HeldTags(mix, {&lists_[0], &lists_[1], &lists_[2]})) {
    if (platform::HtmlDocument* document = DocumentOf(page.window)) tag.SetClassRemove(*document);
  }
}

void TagLinks::UnmarkSelectorTags(Page& page, const Mix& mix) {
  for (const Tag& tag : HeldTags(mix, {&lists_[0], &lists_[1], &lists_[2]})) {
    if (platform::HtmlDocument* document = DocumentOf(page.window)) tag.SetClassAdd(*document);
  }
}

void TagLinks::Filter(PageIndex index, const std::string& pattern) {
  Page& page = pages_[index];
  for (TagList& list : page.filtered) list.clear();
  if (pattern.empty()) {
    for (int i = 0; i < ListCount; ++i) RenderToPage(page, lists_[i], kLists[i].elementId);
    MarkSelectorTags(page, page.selector);
    return;
  }
  for (int i = 0; i < ListCount; ++i) {
    TagList& list = page.filtered[i];
    theMusicDB.GetTagsByType(list, kLists[i].type, pattern);
    RenderToPage(page, list, kLists[i].elementId);
    for (const Tag& tag : HeldTags(page.selector, {&list})) {
      if (platform::HtmlDocument* document = DocumentOf(page.window)) tag.SetClassRemove(*document);
    }
  }
}

void TagLinks::SetSelector(PageIndex index, const Mix& mix) {
  Page& page = pages_[index];
  UnmarkSelectorTags(page, page.selector);
  MarkSelectorTags(page, mix);
  page.selector = mix;
}

void TagLinks::SetThreshold(PageIndex index, int threshold) {
  Page& page = pages_[index];
  if (threshold > page.threshold) {
    HideTagRange(page, page.threshold, threshold);
  } else if (threshold < page.threshold) {
    ShowTagRange(page, threshold, page.threshold);
  }
  page.threshold = threshold;
}

// The lists run most frequent first, so each walk starts at its end.
void TagLinks::HideTagRange(Page& page, int above, int upTo) {
  TagList range;
  for (const TagList& list : lists_) {
    for (auto tag = list.rbegin(); tag != list.rend() && tag->frequency <= upTo; ++tag) {
      if (tag->frequency > above) range.push_back(*tag);
    }
  }
  // One write for the whole range: a round trip per tag froze the windows on
  // a large library.
  if (platform::HtmlDocument* document = DocumentOf(page.window)) Tag::HideElements(range, *document);
}

void TagLinks::ShowTagRange(Page& page, int above, int upTo) {
  TagList range;
  for (const TagList& list : lists_) {
    for (auto tag = list.rbegin(); tag != list.rend(); ++tag) {
      if (tag->frequency > above) range.push_back(*tag);
      if (tag->frequency > upTo) break;
    }
  }
  if (platform::HtmlDocument* document = DocumentOf(page.window)) Tag::ShowElements(range, *document);
}

Tag TagLinks::GetFirstArtistTag() const {
  const TagList& artists = lists_[ArtistList];
  return artists.empty() ? Tag(TagArtist) : artists.front();
}

void TagLinks::RenameTagInPages(Tag tag) {
  // The kept lists too: they are drawn again by filters and reloads.
  auto rename = [&tag](TagList& list) {
    for (Tag& listed : list) {
      if (listed.id != tag.id) continue;
      listed.name = tag.name;
      listed.UpdateLabel();
    }
  };
  for (TagList& list : lists_) rename(list);
  for (Page& page : pages_) {
    for (TagList& list : page.filtered) rename(list);
  }
  for (Page& page : pages_) {
    if (platform::HtmlDocument* document = DocumentOf(page.window)) tag.SetAddLinkText(*document);
  }
}
