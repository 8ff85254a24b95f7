// The playlist generator window on its page file in the in-memory document,
// generating into the in-process player.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/ITunesPlayer.h"
#include "core/MusicDB.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "platform/player/ITunes.h"
#include "platform/player/standin/PlayerModel.h"
#include "platform/window/MessageBox.h"
#include "tests/core/PlayerTestSupport.h"
#include "tests/support/MemoryPageTestSupport.h"
#include "tests/tools/SchedulerToolsTestSupport.h"
#include "tools/Generator.h"

namespace {

using namespace zorva_test;
using platform::ScriptArgs;

constexpr int kTracks = 40;

class GeneratorTest : public SchedulerToolsTest {
 protected:
  GeneratorTest() {
    iTunesAvailable = true;
    // The same tracks in the player and the database, two genres of 200 s tracks.
    const pp::LibraryData library = MakeLibrary(kTracks, 200);
    model_ = std::make_unique<pp::PlayerModel>(library);
    binding_ = std::make_unique<pp::ScopedInProcessPlayer>(*model_);
    AddTracks(db, library);
    genre0 = db.FindOrCreateTag("Genre 0", TagGenre);
    genre1 = db.FindOrCreateTag("Genre 1", TagGenre);
    evens.AddTag(genre0, false);
    evens.Rename("Evens");
    generator = std::make_unique<CGenerator>();
    EXPECT_TRUE(generator->Create());
    theTagLinks.Reload(nullptr, nullptr, generator.get());
    Page().ClearScriptCalls();
  }
  ~GeneratorTest() override {
    theTagLinks.Reload(nullptr, nullptr, nullptr);
    generator.reset();
  }

  platform::MemoryHtmlDocument& Page() { return MemoryPageOf(*generator); }
  platform::HtmlElementPtr Element(const std::string& id) { return generator->GetElement(id); }
  bool Fire(const platform::HtmlElementPtr& element, const std::string& type = "click") {
    return FireOn(*generator, element, type);
  }
  HRESULT External(const std::string& name, const ScriptArgs& args) { return Page().CallExternal(name, args, nullptr); }
  // Makes markup of the page for an event to happen on; returns its first element.
  platform::HtmlElementPtr Put(const std::string& html) {
    generator->SetElementHtml("mixlinks", html);
    return Element("mixlinks")->GetChildren().front();
  }
  platform::HtmlElementPtr Entry(int scheduleId) { return Element(std::to_string(scheduleId) + "_:_setplaylist"); }
  void ChooseFor(const ScheduleItem& item) {
    generator->SetElementText("currentitem", "itemmix_" + item.GetElementId());
  }
  std::vector<std::string> TakeScriptCalls() { return zorva_test::TakeScriptCalls(Page()); }
  const PlaylistSchedule& Open() { return generator->GetSchedule(); }
  // (start, end, mix id) of the open schedule's slots.
  std::vector<std::vector<int>> Slots() {
    std::vector<std::vector<int>> out;
    for (const ScheduleItem& item : Open().GetItems())
      out.push_back({item.GetStart(), item.GetEnd(), item.GetMix().GetId()});
    return out;
  }
  bool GenerateShown() {
    return generator->GetElementText("generate") == "Re-Generate!" && Element("view")->GetClassName() == "zorvabutton";
  }
  bool NewShown() {
    return generator->GetElementText("generate") == "Generate!" && Element("view")->GetClassName() == "hidden";
  }
  // The player's playlist of that name: its id and track count; 0, 0 when none.
  std::pair<long, long> PlayerPlaylist(const std::string& name) {
    for (const std::shared_ptr<pp::IITPlaylist>& playlist : PlayerPlaylistsNamed(name)) {
      long id = 0;
      playlist->get_PlaylistID(&id);
      std::shared_ptr<pp::IITTrackCollection> tracks;
      playlist->get_Tracks(&tracks);
      long trackCount = 0;
      if (tracks) tracks->get_Count(&trackCount);
      return {id, trackCount};
    }
    return {0, 0};
  }

  platform::ManualClock clock_;
  platform::ScopedClock scopedClock_{clock_};
  std::unique_ptr<pp::PlayerModel> model_;
  std::unique_ptr<pp::ScopedInProcessPlayer> binding_;
  platform::ScriptedMessageBoxPresenter answers;
  platform::ScopedMessageBoxPresenter scopedAnswers{answers};
  Tag genre0;
  Tag genre1;
  Mix evens;
  std::unique_ptr<CGenerator> generator;
};

TEST_F(GeneratorTest, OpensHiddenRightOfCentreWithANewScheduleAndTheStoredList) {
  EXPECT_FALSE(generator->IsWindowVisible());
  RECT rect{};
  generator->GetWindowRect(&rect);
  const LONG width = rect.right - rect.left;
  const LONG height = rect.bottom - rect.top;
  EXPECT_EQ(rect.left, std::min<LONG>(960 + width / 2 + 5, 1920 - width));
  EXPECT_EQ(rect.top, std::max<LONG>(0, 540 - height / 2 - 50));
  EXPECT_EQ(Open().GetId(), 0);
  EXPECT_EQ(Open().GetName(), "untitled playlist");
  EXPECT_TRUE(Entry(0));  // the list's "New" entry
  EXPECT_EQ(Entry(0)->GetAttribute("title"), "Create new schedule");

  // The page names its body "generator"; the window's "Generator" finds it.
  generator->SetWallpaper("url(skin/background2.gif)");
  EXPECT_EQ(Page().GetBody()->GetStyleBackgroundImage(), "url(skin/background2.gif)");
  EXPECT_EQ(TakeScriptCalls(), std::vector<std::string>{"enablewindow"});
  generator->ShowMixLinks(evens.GetPlayerMenuHtml());
  EXPECT_NE(generator->GetElementHtml("mixlinks").find("Evens"), std::string::npos);
}

TEST_F(GeneratorTest, PageSlotsAndLengthReachTheOpenScheduleWithinTheirRanges) {
  ASSERT_EQ(External("InsertScheduleItem", {0, 60, evens.GetId(), -1}), S_OK);
  ASSERT_EQ(External("InsertScheduleItem", {60, 90, 9999, -1}), S_OK);  // no such mix: random
  ASSERT_EQ(Slots(), (std::vector<std::vector<int>>{{0, 60, evens.GetId()}, {60, 90, 0}}));
  const ScheduleItem first = Open().GetItems()[0];
  EXPECT_TRUE(Element(first.GetElementId()));
  EXPECT_EQ(TakeScriptCalls(), (std::vector<std::string>{"positionScheduleItems", "positionScheduleItems"}));
  ASSERT_EQ(External("UpdateScheduleItem", {first.GetElementId(), 0, 45, evens.GetId(), -1}), S_OK);
  EXPECT_EQ(Slots()[0], (std::vector<int>{0, 45, evens.GetId()}));

  const std::vector<ScriptArgs> bad = {{-5, 60, 0, -1}, {60, 60, 0, -1}, {90, 30, 0, -1}, {1400, 1445, 0, -1}};
  for (const ScriptArgs& args : bad) {
    EXPECT_EQ(External("InsertScheduleItem", args), S_OK);
    ScriptArgs update{platform::ScriptValue(first.GetElementId())};
    update.insert(update.end(), args.begin(), args.end());
    EXPECT_EQ(External("UpdateScheduleItem", update), S_OK);
  }
  EXPECT_EQ(External("UpdateScheduleItem", {"newsitem_1", 0, 30, 0, -1}), S_OK);
  EXPECT_EQ(External("UpdateScheduleItem", {"sitemid_4242", 0, 30, 0, -1}), S_OK);
  EXPECT_EQ(Slots(), (std::vector<std::vector<int>>{{0, 45, evens.GetId()}, {60, 90, 0}}));

  TakeScriptCalls();
  struct Length {
    int asked;
    int kept;
  };
  for (const Length& l : {Length{90, 90}, Length{0, 15}, Length{-30, 15}, Length{2000, 1440}, Length{1440, 1440}}) {
    ASSERT_EQ(External("SetDuration", {l.asked}), S_OK);
    EXPECT_EQ(Open().GetDuration(), l.kept) << l.asked;
  }
  EXPECT_EQ(TakeScriptCalls(), std::vector<std::string>{});  // a length is never redrawn
  EXPECT_EQ(Number("SELECT count(*) FROM schedule WHERE type = 5"), 0);
}

TEST_F(GeneratorTest, GenerateStoresTheScheduleWritesThePlaylistAndViewShowsIt) {
  WNDCLASS playerClass{};
  playerClass.lpszClassName = "iTunes";
  playerClass.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProc(h, m, w, l); };
  RegisterClass(&playerClass);
  HWND player = CreateWindowEx(0, "iTunes", "iTunes", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(player);
  Element("playlistname")->SetValue("Party");
  Fire(Element("playlistname"), "keyup");
  External("SetDuration", {60});
  External("InsertScheduleItem", {0, 30, evens.GetId(), -1});
  External("InsertScheduleItem", {30, 60, 0, -1});
  TakePosted();

  answers.QueueAnswer(IDNO);
  Fire(Element("generate"));
  ASSERT_GT(Open().GetId(), 0);
  EXPECT_TRUE(GenerateShown());
  EXPECT_TRUE(Entry(Open().GetId()));
  EXPECT_EQ(TakePosted(), Posts{WM_APP_MIXES_CHANGED});
  const auto questions = answers.Questions();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].caption, "Playlist generated");
  EXPECT_EQ(questions[0].owner, generator->m_hWnd);
  const auto [playlistId, trackCount] = PlayerPlaylist("Party");
  ASSERT_GT(playlistId, 0);
  EXPECT_EQ(trackCount, 18);                                   // 3600 s of 200 s tracks
  EXPECT_NE(model_->Status().selectedPlaylistId, playlistId);  // No leaves the player alone
  EXPECT_EQ(Items(Open().GetId()).size(), 2u);

  ::SetForegroundWindow(*generator);
  EXPECT_FALSE(Fire(Element("view")));
  EXPECT_EQ(model_->Status().selectedPlaylistId, playlistId);
  EXPECT_EQ(GetForegroundWindow(), player);
  EXPECT_EQ(answers.Questions().size(), 1u);
  ::DestroyWindow(player);
  UnregisterClass("iTunes", nullptr);
}

TEST_F(GeneratorTest, ViewBeforeGeneratingAsksFirst) {
  External("InsertScheduleItem", {0, 30, 0, -1});
  answers.QueueAnswer(IDNO);
  Fire(Element("view"));
  ASSERT_EQ(answers.Questions().size(), 1u);
  EXPECT_EQ(answers.Questions()[0].caption, "Playlist not generated yet");
  EXPECT_EQ(Open().GetId(), 0);
  EXPECT_EQ(PlayerPlaylist("untitled playlist").first, 0);
  answers.QueueAnswer(IDYES);
  Fire(Element("view"));
  EXPECT_GT(Open().GetId(), 0);
  EXPECT_TRUE(GenerateShown());
  EXPECT_EQ(model_->Status().selectedPlaylistId, PlayerPlaylist("untitled playlist").first);
}

TEST_F(GeneratorTest, WithoutAPlayerGenerateSaysItFailedAndKeepsTheDocument) {
  Element("playlistname")->SetValue("Party");
  Fire(Element("playlistname"), "keyup");
  External("InsertScheduleItem", {0, 30, evens.GetId(), -1});
  TakePosted();
  const std::string buttons = generator->GetElementText("generate") + " " + Element("view")->GetClassName();
  binding_.reset();
  {
    ScopedEnv noPlayer("ZORVA_PLAYER_SOCKET", config.File("no-player.sock"));
    Fire(Element("generate"));
  }
  const auto questions = answers.Questions();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].caption, "Playlist not generated");
  EXPECT_EQ(questions[0].owner, generator->m_hWnd);
  EXPECT_EQ(questions[0].type & MB_TYPEMASK, MB_OK);
  EXPECT_EQ(Open().GetId(), 0);
  EXPECT_EQ(Open().GetName(), "Party");
  EXPECT_EQ(Slots(), (std::vector<std::vector<int>>{{0, 30, evens.GetId()}}));
  EXPECT_EQ(generator->GetElementText("generate") + " " + Element("view")->GetClassName(), buttons);
  EXPECT_EQ(Number("SELECT count(*) FROM schedule WHERE type = 5"), 0);
  EXPECT_EQ(TakePosted(), Posts{});

  // The player back, the same document generates.
  binding_ = std::make_unique<pp::ScopedInProcessPlayer>(*model_);
  answers.QueueAnswer(IDNO);
  Fire(Element("generate"));
  EXPECT_GT(Open().GetId(), 0);
  EXPECT_TRUE(GenerateShown());
  EXPECT_EQ(PlayerPlaylist("Party").second, 36);  // the one slot runs to the end: 7200 s of 200 s tracks
  EXPECT_EQ(answers.Questions().back().caption, "Playlist generated");
}

TEST_F(GeneratorTest, AScheduleLeftWithoutANameIsStoredUnderTheDefaultOne) {
  External("InsertScheduleItem", {0, 30, 0, -1});
  for (const char* typed : {"", "  "}) {
    Element("playlistname")->SetValue(typed);
    Fire(Element("playlistname"), "keyup");
    answers.QueueAnswer(IDNO);
    Fire(Element("generate"));  // the second time generates the stored one again
  }
  const int stored = Open().GetId();
  ASSERT_GT(stored, 0);
  EXPECT_EQ(Open().GetName(), "untitled playlist");
  EXPECT_EQ(Element("playlistname")->GetValue(), "untitled playlist");
  EXPECT_TRUE(Entry(stored));  // listed, so it can be opened and deleted again
  EXPECT_GT(PlayerPlaylist("untitled playlist").first, 0);
  // Emptied again and left for another schedule, which stores it once more.
  Element("playlistname")->SetValue("");
  Fire(Element("playlistname"), "keyup");
  Fire(Entry(0));
  generator->ShowPlaylistSchedules();
  EXPECT_TRUE(Entry(stored));
  EXPECT_EQ(Number("SELECT count(*) FROM schedule WHERE trim(name) = ''"), 0);
}

TEST_F(GeneratorTest, OpeningSchedulesStoresTheStoredOneAndDropsANewOne) {
  auto generate = [&](const std::string& name, int minutes) {
    generator->OpenSchedule(PlaylistSchedule());
    Element("playlistname")->SetValue(name);
    Fire(Element("playlistname"), "keyup");
    External("SetDuration", {minutes});
    External("InsertScheduleItem", {0, 30, evens.GetId(), -1});
    answers.QueueAnswer(IDNO);
    Fire(Element("generate"));
    return Open().GetId();
  };
  const int morning = generate("Morning", 90);
  const int evening = generate("Evening", 240);
  // Typing changes nothing stored yet.
  Element("playlistname")->SetValue("Late evening");
  Fire(Element("playlistname"), "keyup");
  External("SetDuration", {300});
  EXPECT_EQ(Number("SELECT count(*) FROM schedule WHERE name = 'Late evening'"), 0);

  TakeScriptCalls();
  Fire(Entry(morning));
  EXPECT_EQ(Number("SELECT duration FROM schedule WHERE name = 'Late evening'"), 300);
  EXPECT_EQ(Open().GetId(), morning);
  EXPECT_EQ(Element("playlistname")->GetValue(), "Morning");
  EXPECT_TRUE(GenerateShown());
  EXPECT_EQ(Slots(), (std::vector<std::vector<int>>{{0, 30, evens.GetId()}}));
  EXPECT_EQ(TakeScriptCalls(), (std::vector<std::string>{"setplaylistlength(90)", "positionScheduleItems"}));
  (void)evening;

  // The list's "New" entry and "newplaylist" both give a new schedule.
  auto newButton = Put("<a id='newplaylist' href='#'>new</a>");
  for (const auto& opener : {Entry(0), newButton}) {
    Fire(Entry(morning));
    External("InsertScheduleItem", {30, 60, 0, -1});
    const bool went = Fire(opener);
    EXPECT_EQ(went, opener != newButton);
    EXPECT_EQ(Open().GetId(), 0);
    EXPECT_EQ(Open().GetName(), "untitled playlist");
    EXPECT_EQ(Open().GetDuration(), 120);
    EXPECT_EQ(Element("playlistname")->GetValue(), "untitled playlist");
    EXPECT_TRUE(NewShown());
  }
  // The slot added to the stored one was stored at once; the new one's is dropped.
  External("InsertScheduleItem", {0, 15, 0, -1});
  Fire(Entry(morning));
  EXPECT_EQ(Items(morning).size(), 3u);
  EXPECT_EQ(Number("SELECT count(*) FROM schedule WHERE type = 5"), 2);

  // Entries of what is not a stored playlist open nothing.
  Put("<div class='playlistwrap' id='1_:_setplaylist'>fixed</div><div class='playlistwrap' "
      "id='77_:_setplaylist'>gone</div>");
  for (const auto& entry : Element("mixlinks")->GetChildren()) {
    Fire(entry);
    EXPECT_EQ(Open().GetId(), morning);
  }
}

TEST_F(GeneratorTest, DeletingAScheduleKeepsTheOpenDocumentAsANewOne) {
  auto generate = [&](const std::string& name) {
    generator->OpenSchedule(PlaylistSchedule());
    Element("playlistname")->SetValue(name);
    Fire(Element("playlistname"), "keyup");
    External("InsertScheduleItem", {0, 30, evens.GetId(), -1});
    answers.QueueAnswer(IDNO);
    Fire(Element("generate"));
    return Open().GetId();
  };
  const int other = generate("Other");
  const int open = generate("Open");
  Fire(Element(std::to_string(other) + "_:_setplaylist_:_del"));
  EXPECT_FALSE(Entry(other));
  EXPECT_EQ(Items(other).size(), 0u);
  EXPECT_EQ(Open().GetId(), open);

  Fire(Element(std::to_string(open) + "_:_setplaylist_:_del"));
  EXPECT_FALSE(Entry(open));
  EXPECT_EQ(Number("SELECT count(*) FROM schedule WHERE type = 5"), 0);
  EXPECT_EQ(Open().GetId(), 0);
  EXPECT_EQ(Open().GetName(), "Open");
  EXPECT_EQ(Slots(), (std::vector<std::vector<int>>{{0, 30, evens.GetId()}}));
  EXPECT_TRUE(NewShown());
  // Nothing of the deleted row comes back until it is generated again.
  External("InsertScheduleItem", {30, 45, 0, -1});
  EXPECT_EQ(Number("SELECT count(*) FROM scheduleItem"), 0);
  answers.QueueAnswer(IDNO);
  Fire(Element("generate"));
  EXPECT_EQ(Items(Open().GetId()).size(), 2u);
  // The fixed schedules of the scheduler are never deleted from here.
  Put("<a class='playlistdel' id='1_:_setplaylist_:_del'>X</a>");
  Fire(Element("1_:_setplaylist_:_del"));
  EXPECT_EQ(Number("SELECT count(*) FROM schedule WHERE id = 1"), 1);
}

TEST_F(GeneratorTest, MixesAndTagsOfSlotsAndTheTagFilter) {
  theTagLinks.LoadLists();
  External("InsertScheduleItem", {0, 30, 0, -1});
  External("InsertScheduleItem", {30, 60, 0, -1});
  const ScheduleItem random = Open().GetItems()[0];
  const ScheduleItem other = Open().GetItems()[1];
  const int mixesBefore = Number("SELECT count(*) FROM mix");

  ChooseFor(other);
  Fire(Put(evens.GetPlayerMenuHtml()));
  EXPECT_EQ(Slots()[1][2], evens.GetId());
  EXPECT_EQ(TakePosted(), Posts{});

  // Tags of a random slot stay with the slot; no untitled mix is made.
  ChooseFor(random);
  Fire(Element(std::to_string(genre1.id) + "_:_tag_:_add"));
  EXPECT_EQ(Open().GetItemMix(random.GetId()).GetTags().size(), 1u);
  EXPECT_EQ(Element(std::to_string(genre1.id) + "_:_tag_:_add")->GetClassName(), "mixtagremove");
  EXPECT_EQ(Number("SELECT count(*) FROM mix"), mixesBefore);
  EXPECT_EQ(TakePosted(), Posts{WM_APP_MIXES_CHANGED});
  Fire(Element(std::to_string(genre1.id) + "_:_tag_:_add"));
  EXPECT_TRUE(Open().GetItemMix(random.GetId()).IsRandom());
  TakePosted();
  // A stale chooser touches nothing.
  generator->SetElementText("currentitem", "itemmix_newsitem_2");
  Fire(Element(std::to_string(genre1.id) + "_:_tag_:_add"));
  EXPECT_EQ(TakePosted(), Posts{});

  Element("tagfilter")->SetValue("Genre 1");
  Fire(Element("tagfilter"), "keyup");
  EXPECT_EQ(generator->GetTagFilter(), "Genre 1%");
  EXPECT_EQ(generator->GetElementText("genretaglinks").find("Genre 0"), std::string::npos);
  Fire(Element("findclear"));
  EXPECT_EQ(Element("tagfilter")->GetValue(), "");
  EXPECT_NE(generator->GetElementText("genretaglinks").find("Genre 0"), std::string::npos);

  // Deleting: a slot of the open schedule, never one the link's schedule id names elsewhere.
  generator->ShowScheduleItems();
  Fire(Element(random.GetDeleteElementId()));
  EXPECT_EQ(Slots().size(), 1u);
  EXPECT_EQ(TakePosted(), Posts{WM_APP_MIXES_CHANGED});
  const ScheduleItem fixed = StoreItem(2, 60, 120);
  Put("<a class='deleteitem' id='" + fixed.GetDeleteElementId() + "'>x</a>");
  Fire(Element(fixed.GetDeleteElementId()));
  EXPECT_EQ(Items(2).size(), 1u);

  auto menu = Put(evens.GetPlayerMenuHtml());
  Fire(menu->GetChildren().at(0)->GetChildren().at(0));
  EXPECT_EQ(db.GetMix(evens.GetId()).GetId(), 0);
  EXPECT_EQ(TakePosted(), Posts{WM_APP_MIXES_CHANGED});
}

TEST_F(GeneratorTest, SinkCallsWithoutAWindowAndSelectorAndRename) {
  GeneratorJavaScriptEventSink loose;
  EXPECT_EQ(loose.Invoke("InsertScheduleItem", {0, 30, 0, -1}, nullptr), S_OK);
  EXPECT_EQ(loose.Invoke("SetDuration", {60}, nullptr), S_OK);
  EXPECT_EQ(loose.Invoke("SetDuration", {"long"}, nullptr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Open().GetItems().size(), 0u);

  theTagLinks.LoadLists();
  ASSERT_EQ(External("SetSelectorMix", {"itemmix_" + std::to_string(evens.GetId())}), S_OK);
  EXPECT_EQ(Element(std::to_string(genre0.id) + "_:_tag_:_add")->GetClassName(), "mixtagremove");
  ASSERT_EQ(External("EditInPlaceUpdate", {"CurrentMixName", "x"}), S_OK);
  EXPECT_EQ(TakePosted(), Posts{});
  ASSERT_EQ(External("EditInPlaceUpdate", {"currentmixname", "x"}), S_OK);
  EXPECT_EQ(TakePosted(), Posts{WM_APP_MIX_RENAMED});
  ASSERT_EQ(External("FrequecyHider", {1}), S_OK);
}

TEST_F(GeneratorTest, AfterTheFirstGenerateThePageNamesTheStoredSlotsAndNoOtherRowIsWritten) {
  // A slot of the scheduler's weekday schedule, which the page must never reach.
  const ScheduleItem weekday = StoreItem(2, 60, 120);
  External("InsertScheduleItem", {0, 30, 0, -1});
  External("InsertScheduleItem", {30, 60, 0, -1});
  std::vector<std::string> unsaved;
  for (const ScheduleItem& item : Open().GetItems()) unsaved.push_back(item.GetElementId());

  answers.QueueAnswer(IDNO);
  Fire(Element("generate"));
  ASSERT_GT(Open().GetId(), 0);
  std::vector<std::string> stored;
  for (const ScheduleItem& item : Open().GetItems()) {
    stored.push_back(item.GetElementId());
    EXPECT_TRUE(Element(item.GetElementId())) << item.GetElementId();
  }
  for (const std::string& id : unsaved) {
    if (std::find(stored.begin(), stored.end(), id) == stored.end()) {
      EXPECT_FALSE(Element(id)) << id;
    }
  }

  // A chooser that names no slot of the document, here the weekday's, writes nothing.
  ChooseFor(weekday);
  Fire(Put(evens.GetPlayerMenuHtml()));
  EXPECT_EQ(Items(2), (std::vector<std::vector<int>>{{60, 120, 0}}));
  ChooseFor(Open().GetItems()[1]);
  Fire(Put(evens.GetPlayerMenuHtml()));
  EXPECT_EQ(Items(Open().GetId())[1], (std::vector<int>{30, 60, evens.GetId()}));
}

TEST_F(GeneratorTest, MovingOrResizingASlotKeepsItsMixAndTags) {
  theTagLinks.LoadLists();
  External("InsertScheduleItem", {0, 30, 0, -1});
  External("InsertScheduleItem", {30, 60, evens.GetId(), -1});
  const ScheduleItem random = Open().GetItems()[0];
  const ScheduleItem stored = Open().GetItems()[1];
  ChooseFor(random);
  Fire(Element(std::to_string(genre1.id) + "_:_tag_:_add"));
  ASSERT_EQ(Open().GetItemMix(random.GetId()).GetTags().size(), 1u);

  struct Move {
    ScheduleItem item;
    int start;
    int end;
    std::size_t tags;
  };
  for (const Move& m : {Move{random, 0, 45, 1}, Move{stored, 45, 90, 1}, Move{random, 90, 100, 1}}) {
    // The page names the slot's mix by the id it drew: 0 for a random slot.
    ASSERT_EQ(External("UpdateScheduleItem", {m.item.GetElementId(), m.start, m.end, m.item.GetMix().GetId(), -1}),
              S_OK);
    const Mix mix = Open().GetItemMix(m.item.GetId());
    EXPECT_EQ(mix.GetId(), m.item.GetMix().GetId());
    EXPECT_EQ(mix.GetTags().size(), m.tags) << m.item.GetElementId();
    // The redrawn page shows the tags as the slot's description.
    EXPECT_NE(generator->GetElementHtml("mixdata").find(mix.GetDescription()), std::string::npos);
  }
  EXPECT_EQ(Slots(), (std::vector<std::vector<int>>{{90, 100, 0}, {45, 90, evens.GetId()}}));
}

TEST_F(GeneratorTest, ATagLinkLeftFromADeletedTagWritesNothing) {
  theTagLinks.LoadLists();
  const Tag gone = db.FindOrCreateTag("Gone", TagGenre);
  Track track;
  track.id = 1;
  db.AddTrackTag(track, gone);
  theTagLinks.LoadLists();
  External("InsertScheduleItem", {0, 30, evens.GetId(), -1});
  ChooseFor(Open().GetItems()[0]);
  auto link = Element(std::to_string(gone.id) + "_:_tag_:_add");
  ASSERT_TRUE(link);
  db.DeleteTag(gone);
  TakePosted();
  Fire(link);
  EXPECT_EQ(Open().GetItemMix(Open().GetItems()[0].GetId()).GetTags().size(), 1u);
  EXPECT_EQ(Number("SELECT count(*) FROM mixtag WHERE tagid NOT IN (SELECT id FROM tag)"), 0);
  EXPECT_EQ(TakePosted(), Posts{});
}

}  // namespace
