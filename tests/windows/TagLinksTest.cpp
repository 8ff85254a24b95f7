#include "windows/TagLinks.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/windows/TagPagesTestSupport.h"

namespace {

using Names = std::vector<std::string>;

const Names kAll = {"Rock", "Jazz", "Folk", "Band", "Trio", "Solo", "Loud", "Smooth", "Quiet <b> & Calm"};

class TagLinksTest : public zorva_test::TagPagesTest {
 protected:
  void Load() { links.Reload(Page(Player), Page(Scheduler), Page(Generator)); }

  TagLinks links;
};

TEST_F(TagLinksTest, LoadListsWritesTheThreeListsIntoEveryPageMostFrequentFirst) {
  Load();
  for (auto& page : pages) {
    EXPECT_EQ(Shown(*page, "genretaglinks"), (Names{"Rock", "Jazz", "Folk"}));
    EXPECT_EQ(Shown(*page, "artisttaglinks"), (Names{"Band", "Trio", "Solo"}));
    // Record text is escaped once by its renderer: it stays text.
    EXPECT_EQ(Shown(*page, "albumtaglinks"), (Names{"Loud", "Smooth", "Quiet <b> & Calm"}));
    EXPECT_EQ(page->GetDocument()->GetElementById("albumtaglinks")->GetInnerHtml().find("<b>"), std::string::npos);
    for (const auto& link : Links(*page, "genretaglinks")) EXPECT_EQ(link.className, "mixtagadd");
  }
  EXPECT_EQ(links.GetFirstArtistTag().name, "Band");
}

TEST_F(TagLinksTest, AnEmptyLibraryGivesEmptyListsAndAnEmptyFirstArtist) {
  MusicDB empty(folder.File("empty.db"));
  ScopedMusicDB emptyInstalled(empty);
  Load();
  for (auto& page : pages) {
    for (const char* id : zorva_test::kTagListIds) EXPECT_EQ(page->GetElementHtml(id), "") << id;
  }
  const Tag first = links.GetFirstArtistTag();
  EXPECT_EQ(first.name, "");
  EXPECT_EQ(first.type, TagArtist);
}

TEST_F(TagLinksTest, MissingPagesAreSkipped) {
  links.Reload(Page(Player), nullptr, nullptr);
  Mix mix = StoreMix("mix", {{TagGenre, "Rock"}});
  links.SetAutomatorSelector(mix);
  links.SetGeneratorThreshold(2);
  links.FilterAutomatorTags("R%");
  links.RenameTagInPages(links.GetFirstArtistTag());
  EXPECT_EQ(ShownAll(*Page(Player)), kAll);
  EXPECT_EQ(Page(Scheduler)->GetElementText("genretaglinks"), "Tags not loaded... Please restart.");
}

TEST_F(TagLinksTest, SelectorChangesMarkOnlyTheirOwnPage) {
  Load();
  links.SetAutomatorSelector(StoreMix("rock band", {{TagGenre, "Rock"}, {TagArtist, "Band"}}));
  EXPECT_EQ(Shown(*Page(Scheduler), "genretaglinks"), (Names{"-Rock", "Jazz", "Folk"}));
  EXPECT_EQ(Shown(*Page(Scheduler), "artisttaglinks"), (Names{"-Band", "Trio", "Solo"}));

  links.SetAutomatorSelector(StoreMix("band", {{TagArtist, "Band"}}));
  EXPECT_EQ(Shown(*Page(Scheduler), "genretaglinks"), (Names{"Rock", "Jazz", "Folk"}));
  EXPECT_EQ(Shown(*Page(Scheduler), "artisttaglinks"), (Names{"-Band", "Trio", "Solo"}));
  EXPECT_EQ(ShownAll(*Page(Player)), kAll);
  EXPECT_EQ(ShownAll(*Page(Generator)), kAll);

  // A reload keeps each page's marks; a random selector takes them away.
  links.SetPlayerSelector(StoreMix("smooth", {{TagAlbum, "Smooth"}}));
  links.LoadLists();
  EXPECT_EQ(Shown(*Page(Scheduler), "artisttaglinks"), (Names{"-Band", "Trio", "Solo"}));
  EXPECT_EQ(Shown(*Page(Player), "albumtaglinks"), (Names{"Loud", "-Smooth", "Quiet <b> & Calm"}));
  links.SetAutomatorSelector(Mix());
  EXPECT_EQ(ShownAll(*Page(Scheduler)), kAll);
}

TEST_F(TagLinksTest, ThresholdsHideRareTagsInTheirOwnPage) {
  Load();
  struct Step {
    void (TagLinks::*set)(int);
    int threshold;
    int page;
    Names shown;
  };
  const Step steps[] = {
      {&TagLinks::SetAutomatorThreshold, 2, Scheduler, {"Rock", "Band", "Loud"}},
      {&TagLinks::SetAutomatorThreshold, 1, Scheduler, {"Rock", "Jazz", "Band", "Trio", "Loud", "Smooth"}},
      {&TagLinks::SetAutomatorThreshold, 0, Scheduler, kAll},
      {&TagLinks::SetPlayerThreshold, 3, Player, {}},
      {&TagLinks::SetPlayerThreshold, 3, Player, {}},
      {&TagLinks::SetPlayerThreshold, 0, Player, kAll},
      {&TagLinks::SetGeneratorThreshold, 1, Generator, {"Rock", "Jazz", "Band", "Trio", "Loud", "Smooth"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.threshold);
    (links.*step.set)(step.threshold);
    EXPECT_EQ(ShownAll(*Page(step.page)), step.shown);
    for (int other : {Player, Scheduler, Generator}) {
      if (other != step.page) {
        EXPECT_EQ(ShownAll(*Page(other)), kAll);
      }
    }
  }
  // A fresh load shows every tag whatever the threshold.
  links.LoadLists();
  EXPECT_EQ(ShownAll(*Page(Generator)), kAll);
}

TEST_F(TagLinksTest, FilterNarrowsOnePageAndAnEmptyTextRestoresIt) {
  Load();
  links.SetPlayerSelector(StoreMix("trio", {{TagArtist, "Trio"}}));
  links.FilterPlayerTags("%o%");
  EXPECT_EQ(ShownAll(*Page(Player)), (Names{"Rock", "Folk", "-Trio", "Solo", "Loud", "Smooth"}));
  EXPECT_EQ(ShownAll(*Page(Scheduler)), kAll);
  // Thresholds reach the tags a filtered page shows.
  links.SetPlayerThreshold(1);
  EXPECT_EQ(ShownAll(*Page(Player)), (Names{"Rock", "-Trio", "Loud", "Smooth"}));
  links.SetPlayerThreshold(0);

  links.FilterPlayerTags("");
  Names marked = kAll;
  marked[4] = "-Trio";
  EXPECT_EQ(ShownAll(*Page(Player)), marked);
  links.FilterAutomatorTags("nothing like this");
  EXPECT_EQ(ShownAll(*Page(Scheduler)), Names{});
}

TEST_F(TagLinksTest, RenameShowsTheNewNameAsTextInEveryPage) {
  Load();
  Tag band = links.GetFirstArtistTag();
  band.name = "Band <i>x</i>";
  links.RenameTagInPages(band);
  for (auto& page : pages) {
    EXPECT_EQ(Shown(*page, "artisttaglinks"), (Names{"Band <i>x</i>", "Trio", "Solo"}));
    EXPECT_EQ(page->GetElementHtml("artisttaglinks").find("<i>"), std::string::npos);
  }
}

TEST_F(TagLinksTest, ARenameStaysInTheKeptListsAndTheMarksOfItsMixes) {
  Load();
  Mix mix = StoreMix("band", {{TagArtist, "Band"}});
  links.SetPlayerSelector(mix);
  Tag band = links.GetFirstArtistTag();
  band.Rename("Bond");
  links.RenameTagInPages(band);
  EXPECT_EQ(links.GetFirstArtistTag().name, "Bond");
  // A filter draws from the database, an empty one from the kept lists: both
  // show the new name, marked as in the mix whose copy has the old one.
  for (const char* pattern : {"Bo%", ""}) {
    links.FilterPlayerTags(pattern);
    EXPECT_EQ(Shown(*Page(Player), "artisttaglinks")[0], "-Bond") << pattern;
  }
}

TEST_F(TagLinksTest, RefreshRedrawsOnlyWhenTheTagsOfTheLibraryChanged) {
  Load();
  links.FilterPlayerTags("R%");
  const Names filtered = ShownAll(*Page(Player));
  // A mix changed: the tags are the same, and the filtered page stays.
  StoreMix("rock", {{TagGenre, "Rock"}});
  links.RefreshLists();
  EXPECT_EQ(ShownAll(*Page(Player)), filtered);

  struct Change {
    const char* name;
    std::function<void()> make;
    Names genres;
  };
  // Tags deleted, given to more tracks or made: every page shows the new lists.
  const Change changes[] = {
      {"deleted", [&] { db.DeleteTag(db.FindOrCreateTag("Folk", TagGenre)); }, {"Rock", "Jazz"}},
      {"given", [&] { AddTrack("j3", "Trio", "Smooth", "Jazz"); }, {"Rock", "Jazz"}},
      {"made", [&] { AddTrack("b1", "Solo", "Quiet", "Blues"); }, {"Rock", "Jazz", "Blues"}},
  };
  for (const Change& change : changes) {
    links.FilterPlayerTags("R%");
    change.make();
    links.RefreshLists();
    for (auto& page : pages) EXPECT_EQ(Shown(*page, "genretaglinks"), change.genres) << change.name;
  }
}

}  // namespace
