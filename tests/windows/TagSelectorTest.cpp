#include "windows/TagSelector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/windows/TagPagesTestSupport.h"

namespace {

using Names = std::vector<std::string>;

const Names kAll = {"Rock", "Jazz", "Folk", "Band", "Trio", "Solo", "Loud", "Smooth", "Quiet <b> & Calm"};

class TagSelectorTest : public zorva_test::TagPagesTest {
 protected:
  TagSelectorTest() { theTagLinks.Reload(Page(Player), Page(Scheduler), Page(Generator)); }
  ~TagSelectorTest() override {
    theTagLinks.Reload(nullptr, nullptr, nullptr);
    for (int page = TagLinks::PlayerPage; page < TagLinks::PageCount; ++page) {
      theTagLinks.SetSelector(static_cast<TagLinks::PageIndex>(page), Mix());
    }
  }

  // The first element of `html`, put into the page.
  platform::HtmlElementPtr Put(CDHtmlDialog& page, const std::string& html) {
    page.SetElementHtml("artisttaglinks", html);
    return page.GetElement("artisttaglinks")->GetChildren().front();
  }
};

// Each page's selector works on its own page alone, whichever window it is.
class EachPage : public TagSelectorTest, public ::testing::WithParamInterface<TagLinks::PageIndex> {};

TEST_P(EachPage, TheFilterBoxNarrowsItsOwnPageAndClearingShowsEveryTagAgain) {
  const TagLinks::PageIndex index = GetParam();
  CDHtmlDialog& page = *Page(index);
  page.GetDocument()->GetBody()->SetInnerHtml(page.GetDocument()->GetBody()->GetInnerHtml() + "<input id='tagfilter'>");
  TagSelector selector(index);
  auto input = page.GetElement("tagfilter");
  ASSERT_TRUE(input);
  input->SetValue("R");
  selector.OnFilterKeyUp(*input);
  EXPECT_EQ(selector.GetFilter(), "R%");
  EXPECT_EQ(ShownAll(page), (Names{"Rock"}));
  for (int other = TagLinks::PlayerPage; other < TagLinks::PageCount; ++other) {
    if (other != index) {
      EXPECT_EQ(ShownAll(*Page(other)), kAll) << other;
    }
  }

  selector.OnFindClear(page);
  EXPECT_EQ(page.GetElement("tagfilter")->GetValue(), "");
  EXPECT_EQ(selector.GetFilter(), "");
  EXPECT_EQ(ShownAll(page), kAll);
}

TEST_P(EachPage, SelectorMarksAndThresholdReachItsOwnPageOnly) {
  const TagLinks::PageIndex index = GetParam();
  const TagSelector selector(index);
  selector.SetSelector(StoreMix("band", {{TagArtist, "Band"}}));
  selector.SetThreshold(2);
  EXPECT_EQ(ShownAll(*Page(index)), (Names{"Rock", "-Band", "Loud"}));
  for (int other = TagLinks::PlayerPage; other < TagLinks::PageCount; ++other) {
    if (other != index) {
      EXPECT_EQ(ShownAll(*Page(other)), kAll) << other;
    }
  }
  selector.SetThreshold(0);
}

std::string PageName(const ::testing::TestParamInfo<TagLinks::PageIndex>& info) {
  static const char* const kNames[] = {"Player", "Scheduler", "Generator"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Pages, EachPage,
                         ::testing::Values(TagLinks::PlayerPage, TagLinks::SchedulerPage, TagLinks::GeneratorPage),
                         PageName);

TEST_F(TagSelectorTest, OnlyStoredMixesAndANewRandomSelectionCanBeChosen) {
  const Mix stored = StoreMix("rock", {{TagGenre, "Rock"}});
  Mix gone = StoreMix("gone", {{TagGenre, "Jazz"}});
  db.DeleteMix(gone);
  EXPECT_TRUE(IsChoosableMix(stored));
  EXPECT_TRUE(IsChoosableMix(Mix()));
  EXPECT_FALSE(IsChoosableMix(gone));
}

TEST_F(TagSelectorTest, OnlyATagLinkWithIdAndTracksIsLive) {
  const struct {
    int id;
    int frequency;
    bool live;
  } cases[] = {{4, 2, true}, {4, 0, false}, {0, 3, false}, {-1, 3, false}};
  for (const auto& c : cases) {
    Tag tag(TagGenre);
    tag.id = c.id;
    tag.frequency = c.frequency;
    EXPECT_EQ(IsLiveTag(tag), c.live) << c.id << " " << c.frequency;
  }
}

TEST_F(TagSelectorTest, TheSelectorMixOfAPageIsItsSecondWord) {
  const Mix stored = StoreMix("rock", {{TagGenre, "Rock"}});
  EXPECT_EQ(SelectorMixOf("mix_" + std::to_string(stored.GetId())).GetId(), stored.GetId());
  EXPECT_EQ(SelectorMixOf("mix_" + std::to_string(stored.GetId())).GetName(), "rock");
  for (const char* text : {"mix", "mix_", "mix_x", ""}) {
    EXPECT_EQ(SelectorMixOf(text).GetId(), 0) << text;
    EXPECT_TRUE(SelectorMixOf(text).GetTags().empty()) << text;
  }
}

TEST_F(TagSelectorTest, AMenuDeleteRemovesAStoredMixAndTellsEveryWindow) {
  const Mix stored = StoreMix("rock", {{TagGenre, "Rock"}});
  TakePosted();
  DeleteMenuMix(
      *Put(*Page(Player), "<a id='" + std::to_string(stored.GetId()) + "_:_0_:_delete' class='mixdel'>X</a>"));
  EXPECT_NE(db.GetMix(stored.GetId()).GetId(), stored.GetId());
  EXPECT_EQ(TakePosted(), std::vector<UINT>{WM_APP_MIXES_CHANGED});

  // The entry of a new random selection deletes nothing; the windows are still told.
  const Mix kept = StoreMix("jazz", {{TagGenre, "Jazz"}});
  DeleteMenuMix(*Put(*Page(Player), "<a id='0_:_0_:_delete' class='mixdel'>X</a>"));
  EXPECT_EQ(db.GetMix(kept.GetId()).GetId(), kept.GetId());
  EXPECT_EQ(TakePosted(), std::vector<UINT>{WM_APP_MIXES_CHANGED});
}

}  // namespace
