// The player window and its tool windows (scheduler, generator, Lab) when a
// record they show goes away underneath them: on the page files in the
// in-memory document, over the in-process player on the test clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/AppMainWindow.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "platform/window/MessageBox.h"
#include "tests/support/MemoryPageTestSupport.h"
#include "tests/zorva/ZorvaDlgTestSupport.h"
#include "tools/Automator.h"
#include "tools/Generator.h"
#include "tools/TrackInfo.h"
#include "windows/TagLinks.h"
#include "zorva/ZorvaDlg.h"

namespace {

using namespace zorva_test;

class ZorvaDlgRecordsGoneTest : public ZorvaDlgFixture {
 protected:
  ZorvaDlgRecordsGoneTest() { StartPlayer(MakeLibrary(30, 200)); }
  ~ZorvaDlgRecordsGoneTest() override { theTagLinks.Reload(nullptr, nullptr, nullptr); }

  static bool Fire(CDHtmlDialog& window, const platform::HtmlElementPtr& element, const std::string& type = "click") {
    return FireOn(window, element, type);
  }
  // Puts a link of `className` and element id `id` into the window's page and clicks it.
  static void ClickLink(CDHtmlDialog& window, const std::string& container, const std::string& className,
                        const std::string& id) {
    window.SetElementHtml(container, "<a href='#' class='" + className + "' id='" + id + "'>x</a>");
    Fire(window, window.GetElement(id));
  }
  static std::string TagLinkId(int tagId) { return std::to_string(tagId) + "_:_tag_:_add"; }
  // The tag's link in the page's tag lists, when it is there.
  static platform::HtmlElementPtr TagLink(CDHtmlDialog& window, int tagId) {
    return window.GetElement(TagLinkId(tagId));
  }
  // A tag of its own given to tracks 1 and 2.
  Tag MakeTag(const std::string& name) {
    const Tag tag = db.FindOrCreateTag(name, TagGenre);
    for (int id : {1, 2}) {
      Track track(id);
      db.AddTrackTag(track, tag);
    }
    return tag;
  }
  int Count(const std::string& sql) {
    SQLiteRowSet rows;
    db.Query(sql, rows);
    return rows.empty() || rows.front().Empty() ? -1 : std::atoi(rows.front().begin()->second.c_str());
  }
  int Orphans(const std::string& table) {
    static const std::vector<std::pair<std::string, std::string>> kWhere = {
        {"mixtag", "mixid NOT IN (SELECT id FROM mix) OR tagid NOT IN (SELECT id FROM tag)"},
        {"tracktag", "trackid NOT IN (SELECT id FROM track) OR tagid NOT IN (SELECT id FROM tag)"},
        {"scheduleItem",
         "scheduleid NOT IN (SELECT id FROM schedule) OR (mixid <> 0 AND mixid NOT IN (SELECT id FROM mix))"},
    };
    for (const auto& [name, where] : kWhere) {
      if (name == table) return Count("SELECT count(*) FROM \"" + name + "\" WHERE " + where);
    }
    return -1;
  }

  platform::ScriptedMessageBoxPresenter answers;
  platform::ScopedMessageBoxPresenter scopedAnswers{answers};
};

TEST_F(ZorvaDlgRecordsGoneTest, DeletingTheCurrentMixFromAnyMixMenuFallsBackToARandomSelection) {
  struct Menu {
    const char* name;
    std::function<CDHtmlDialog&()> window;
    const char* list;
  };
  const Menu menus[] = {
      {"player", [&]() -> CDHtmlDialog& { return *dialog; }, "zorvamixlinks"},
      {"scheduler", [&]() -> CDHtmlDialog& { return dialog->GetAutomator(); }, "zorvamixlinks"},
      {"generator", [&]() -> CDHtmlDialog& { return dialog->GetGenerator(); }, "mixlinks"},
  };
  Open();
  const Tag genre1 = db.FindOrCreateTag("Genre 1", TagGenre);
  for (const Menu& menu : menus) {
    const Mix zeros = StoreGenreMix("Genre 0", std::string("Zeros of the ") + menu.name);
    dialog->SendMessage(WM_APP_PLAY_MIX, static_cast<WPARAM>(zeros.GetId()));
    ASSERT_EQ(dialog->GetCurrentMix().GetId(), zeros.GetId());
    CDHtmlDialog& window = menu.window();
    window.SetElementHtml(menu.list, zeros.GetPlayerMenuHtml());
    Fire(window, FindElement(window.GetElement(menu.list), "mixdel", std::to_string(zeros.GetId()) + "_:_"));
    Run(1000);
    EXPECT_EQ(db.GetMix(zeros.GetId()).GetId(), 0) << menu.name;
    EXPECT_EQ(dialog->GetCurrentMix().GetId(), 0) << menu.name;
    EXPECT_TRUE(dialog->GetCurrentMix().IsRandom()) << menu.name;
    EXPECT_EQ(dialog->GetElementText("currentmixname"), "Random selection") << menu.name;
    EXPECT_EQ(dialog->GetUpcoming().size(), 10u) << menu.name;

    // A tag then shapes the new selection and no row names the deleted mix.
    Fire(*dialog, TagLink(*dialog, genre1.id));
    EXPECT_EQ(dialog->GetCurrentMix().GetTags().size(), 1u) << menu.name;
    EXPECT_EQ(Orphans("mixtag"), 0) << menu.name;
    // Naming it stores it as a new mix.
    dialog->SetElementHtml("currentmixname", std::string("Evening ") + menu.name);
    dialog->SendMessage(WM_APP_MIX_RENAMED, 0);
    EXPECT_GT(dialog->GetCurrentMix().GetId(), zeros.GetId()) << menu.name;
    EXPECT_EQ(db.GetMix(dialog->GetCurrentMix().GetId()).GetTags().size(), 1u) << menu.name;
  }
}

TEST_F(ZorvaDlgRecordsGoneTest, TagsDeletedOrMadeInTheLabReachEveryPagesTagLists) {
  Open();
  const Tag chill = MakeTag("Chill");
  dialog->RebuildTagLinks();
  std::vector<CDHtmlDialog*> pages = {dialog.get(), &dialog->GetAutomator(), &dialog->GetGenerator()};
  for (CDHtmlDialog* page : pages) ASSERT_TRUE(TagLink(*page, chill.id));
  const Mix before = dialog->GetCurrentMix();

  // Deleted on the Lab's home view, after the question.
  TrackInfo& lab = dialog->GetLab();
  lab.ShowHome(false);
  answers.QueueAnswer(IDYES);
  Fire(lab, FindElement(lab.GetDocument()->GetDocumentElement(), "deletetagimg", std::to_string(chill.id) + "_:_"));
  Run(1000);
  for (CDHtmlDialog* page : pages) EXPECT_FALSE(TagLink(*page, chill.id));
  // A link that a page still holds names nothing in the player.
  for (const char* className : {"mixtagadd", "mixtag"}) {
    ClickLink(*dialog, "genretaglinks", className, TagLinkId(chill.id));
    EXPECT_EQ(dialog->GetCurrentMix().GetTags().size(), before.GetTags().size()) << className;
  }
  EXPECT_EQ(Orphans("mixtag"), 0);

  // Made on a track in the Lab: the pages offer it at once.
  lab.ShowTrack(Track(3), false, false);
  lab.GetElement("newtag")->SetValue("Dusk");
  Fire(lab, lab.GetElement("newtagsubmit"));
  Run(1000);
  const Tag dusk = db.FindOrCreateTag("Dusk", TagGenre);
  for (CDHtmlDialog* page : pages) EXPECT_TRUE(TagLink(*page, dusk.id));
}

TEST_F(ZorvaDlgRecordsGoneTest, ATagRenamedInTheLabStaysMarkedInTheMixAndIsNeverAddedTwice) {
  const Mix zeros = StoreGenreMix("Genre 0", "Zeros");
  const Tag genre0 = db.FindOrCreateTag("Genre 0", TagGenre);
  Open();
  dialog->SendMessage(WM_APP_PLAY_MIX, static_cast<WPARAM>(zeros.GetId()));
  ASSERT_EQ(TagLink(*dialog, genre0.id)->GetClassName(), "mixtagremove");

  TrackInfo& lab = dialog->GetLab();
  lab.ShowTag(Tag(genre0.id), false);
  lab.RenameTag("Zero");
  Run(1000);
  EXPECT_EQ(TagLink(*dialog, genre0.id)->GetInnerText(), "Zero");
  EXPECT_EQ(TagLink(*dialog, genre0.id)->GetClassName(), "mixtagremove");
  // The filtered lists mark it too.
  dialog->GetElement("tagfilter")->SetValue("Ze");
  Fire(*dialog, dialog->GetElement("tagfilter"), "keyup");
  ASSERT_TRUE(TagLink(*dialog, genre0.id));
  EXPECT_EQ(TagLink(*dialog, genre0.id)->GetClassName(), "mixtagremove");

  // Even an add of it, as a page with an old mark would send, adds nothing.
  dialog->OnMixTagAddClick(*TagLink(*dialog, genre0.id));
  EXPECT_EQ(dialog->GetCurrentMix().GetTags().size(), 1u);
  EXPECT_EQ(Count("SELECT count(*) FROM mixtag WHERE mixid = " + std::to_string(zeros.GetId())), 1);
}

// One record of each kind is deleted underneath the windows, which go on
// showing it; then every window's commands on it run.
enum class Gone { Tag, Track, Mix, ScheduleItem };

const char* const kGoneNames[] = {"Tag", "Track", "Mix", "ScheduleItem"};

void PrintTo(Gone gone, std::ostream* out) { *out << kGoneNames[static_cast<int>(gone)]; }

class ZorvaDlgRecordGoneWalkTest : public ZorvaDlgRecordsGoneTest, public ::testing::WithParamInterface<Gone> {};

TEST_P(ZorvaDlgRecordGoneWalkTest, NoWindowWritesARowForARecordThatIsGone) {
  Open();
  const Tag chill = MakeTag("Chill");
  MakeTag("Spare");  // a later tag: the deleted one's id is not given again
  Mix evening = StoreGenreMix("Genre 0", "Evening");
  evening.AddTag(chill, true);
  const Mix spare = StoreGenreMix("Genre 1", "Spare");
  const Track track(5);  // not the last: its id is not given again
  ScheduleItem item(60, 120, evening.GetId(), 2);
  db.AddScheduleItem(item);
  ScheduleItem randomItem(180, 240, 0, 2);
  db.AddScheduleItem(randomItem);
  dialog->SendMessage(WM_APP_SCHEDULE_CHANGED);
  dialog->RebuildTagLinks();
  CGenerator& generator = dialog->GetGenerator();
  generator.InsertScheduleItem(ScheduleItem(0, 30, evening.GetId(), -1));
  generator.InsertScheduleItem(ScheduleItem(30, 60, 0, -1));
  Fire(generator, generator.GetElement("generate"));  // stored; the question answered No
  ASSERT_GT(generator.GetSchedule().GetId(), 0);
  dialog->SendMessage(WM_APP_PLAY_MIX, static_cast<WPARAM>(evening.GetId()));
  // The Lab's history holds the three records; it shows the one that goes.
  TrackInfo& lab = dialog->GetLab();
  lab.ShowMix(evening, false);
  lab.ShowTag(Tag(chill.id), false);
  lab.ShowTrack(track, false, false);

  switch (GetParam()) {
    case Gone::Tag:
      lab.ShowTag(Tag(chill.id), false);
      db.DeleteTag(chill);
      break;
    case Gone::Track:
      lab.ShowTrack(track, false, false);
      db.Exec("UPDATE track SET ondisk = 0 WHERE id = " + std::to_string(track.id));
      db.DeleteTracksNotOnDisk();
      break;
    case Gone::Mix:
      lab.ShowMix(evening, false);
      db.DeleteMix(evening);
      break;
    case Gone::ScheduleItem:
      lab.ShowHome(false);
      db.DeleteScheduleItem(item);
      break;
  }

  // The scheduler: tags and mixes of its two items.
  Automator& automator = dialog->GetAutomator();
  for (const ScheduleItem& slot : {item, randomItem}) {
    automator.SetElementText("currentitem", "itemmix_" + slot.GetElementId());
    ClickLink(automator, "mixdata", "mixtagadd", TagLinkId(chill.id));
    ClickLink(automator, "mixdata", "mixwrap", std::to_string(evening.GetId()) + "_:_0_:_set");
  }
  // The generator: its stored slots and a generation.
  for (const ScheduleItem& slot : generator.GetSchedule().GetItems()) {
    generator.SetElementText("currentitem", "itemmix_" + slot.GetElementId());
    ClickLink(generator, "mixlinks", "mixtagadd", TagLinkId(chill.id));
    ClickLink(generator, "mixlinks", "mixwrap", std::to_string(evening.GetId()) + "_:_0_:_set");
  }
  Fire(generator, generator.GetElement("generate"));
  // The Lab: every command of the view it shows, and back through its history.
  for (int step = 0; step < 4; ++step) {
    lab.SetElementHtml("lablookup", Tag("Chill", TagGenre, chill.id).GetAddHolderHtml() + spare.GetLabAddHolderHtml() +
                                        "<a href='#' class='addtag' id='Dusk'>Dusk</a>");
    Fire(lab, FindElement(lab.GetDocument()->GetDocumentElement(), "addexistingtag", ""));
    Fire(lab, FindElement(lab.GetDocument()->GetDocumentElement(), "mixlink", ""));
    Fire(lab, lab.GetElement("Dusk"));
    if (auto box = lab.GetElement("newtag")) {
      box->SetValue("Dawn");
      Fire(lab, lab.GetElement("newtagsubmit"));
    }
    lab.OnCreateMix(*lab.GetElement("back"));
    lab.OnPlayTitle(*lab.GetElement("back"));
    Run(500);
    lab.OnBack(*lab.GetElement("back"));
  }
  // The player: the stale tag link, and the Lab's requests by id.
  ClickLink(*dialog, "genretaglinks", "mixtagadd", TagLinkId(chill.id));
  ClickLink(*dialog, "genretaglinks", "mixtag", TagLinkId(chill.id));
  ClickLink(*dialog, "zorvamixlinks", "mixwrap", std::to_string(evening.GetId()) + "_:_0_:_set");
  dialog->SendMessage(WM_APP_PLAY_TAG, static_cast<WPARAM>(chill.id));
  dialog->SendMessage(WM_APP_PLAY_MIX, static_cast<WPARAM>(evening.GetId()));
  dialog->SendMessage(WM_APP_QUEUE_TRACK, static_cast<WPARAM>(track.id));
  dialog->OnMixTagAddClick(*dialog->GetElement(TagLinkId(chill.id)));
  Run(1000);

  EXPECT_EQ(Orphans("mixtag"), 0);
  EXPECT_EQ(Orphans("tracktag"), 0);
  EXPECT_EQ(Orphans("scheduleItem"), 0);
}

std::string GoneName(const ::testing::TestParamInfo<Gone>& param) { return kGoneNames[static_cast<int>(param.param)]; }

INSTANTIATE_TEST_SUITE_P(EachKind, ZorvaDlgRecordGoneWalkTest,
                         ::testing::Values(Gone::Tag, Gone::Track, Gone::Mix, Gone::ScheduleItem), GoneName);

}  // namespace
