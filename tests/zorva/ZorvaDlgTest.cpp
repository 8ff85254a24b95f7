// The player window's play state on its page file in the in-memory
// document, over the in-process player on the test clock.
#include "zorva/ZorvaDlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "core/AppMainWindow.h"
#include "core/Tag.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "tests/support/MemoryPageTestSupport.h"
#include "tests/zorva/ZorvaDlgTestSupport.h"

namespace {

using namespace zorva_test;

class ZorvaDlgTest : public ZorvaDlgFixture {
 protected:
  ZorvaDlgTest() { StartPlayer(MakeLibrary(30, 200)); }

  platform::MemoryHtmlDocument& Page() { return *dynamic_cast<platform::MemoryHtmlDocument*>(dialog->GetDocument()); }
  // The page functions called since the last look.
  std::vector<std::string> TakeScriptCalls() { return zorva_test::TakeScriptCalls(Page(), CallShown::NameOnly); }
  static bool Has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  }
  // Sets the hidden "order" and clicks it, as the page does after a drag.
  void Reorder(const std::string& order) {
    dialog->GetElement("order")->SetInnerHtml(order);
    Page().FireEvent(platform::HtmlEvent{"click", dialog->GetElement("order")});
  }
  // The text of queue entry n on the page, and the text entry i should show.
  std::string Title(int n) { return dialog->GetElementText("track" + std::to_string(n)); }
  std::string Shown(std::size_t i) {
    const Track& track = dialog->GetUpcoming()[i];
    return track.name + track.artist;
  }
  bool AllOfGenre(const std::string& genre) {
    const auto& queue = dialog->GetUpcoming();
    return !queue.empty() && std::all_of(queue.begin(), queue.end(), [&](const Track& t) { return t.genre == genre; });
  }
};

TEST_F(ZorvaDlgTest, TheQueueHoldsTenAndEachTrackPlayedIsRecordedOnceWhileTheQueueRefills) {
  Open();
  // The page's first fill started a track of the random selection and recorded it.
  ASSERT_EQ(PlayRecords().size(), 1u);
  EXPECT_EQ(PlayingId(), PlayRecords()[0]);
  EXPECT_EQ(dialog->GetNowPlaying().location, Track(PlayingId()).location);
  EXPECT_EQ(dialog->GetElementText("trackname"), dialog->GetNowPlaying().name);
  std::vector<int> queue = QueueIds();
  ASSERT_EQ(queue.size(), 10u);
  EXPECT_EQ(std::set<int>(queue.begin(), queue.end()).size(), 10u);
  EXPECT_EQ(Title(1), Shown(0));
  EXPECT_EQ(Title(10), Shown(9));
  TakeScriptCalls();

  for (int play = 1; play <= 3; ++play) {
    dialog->PlayNext();
    Pump();
    EXPECT_EQ(PlayingId(), queue[0]) << play;
    EXPECT_EQ(dialog->GetNowPlaying().location, Track(queue[0]).location) << play;
    EXPECT_EQ(PlayRecords().back(), queue[0]) << play;
    EXPECT_EQ(PlayRecords().size(), 1u + play);
    const std::vector<int> now = QueueIds();
    ASSERT_EQ(now.size(), 10u);
    EXPECT_TRUE(std::equal(queue.begin() + 1, queue.end(), now.begin())) << "moved up, one new at the end";
    EXPECT_EQ(Title(1), Shown(0));
    const auto calls = TakeScriptCalls();
    EXPECT_TRUE(Has(calls, "trackchanged"));
    EXPECT_TRUE(Has(calls, "fadeList"));
    queue = now;
  }
}

TEST_F(ZorvaDlgTest, PlayNextLooksAtTheHistoryThePauseAndTheScheduleBeforeTakingTheFront) {
  Open();
  for (int i = 0; i < 3; ++i) {
    dialog->PlayNext();
    Pump();
  }
  const std::vector<int> records = PlayRecords();  // four plays
  ASSERT_EQ(records.size(), 4u);

  // Back three and forward three walk the records without writing any.
  // (Each click's player events arrive before the next click, as they do.)
  for (int i = 0; i < 3; ++i) {
    dialog->OnPrevClick();
    Pump();
  }
  EXPECT_EQ(dialog->GetHistorySteps(), 3);
  EXPECT_EQ(PlayingId(), records[0]);
  for (int i = 0; i < 3; ++i) {
    dialog->OnNextClick();
    Pump();
  }
  EXPECT_EQ(dialog->GetHistorySteps(), 0);
  EXPECT_EQ(PlayingId(), records[3]);
  EXPECT_EQ(PlayRecords(), records);
  // From two back, the track reached is recorded first, then the front plays.
  dialog->OnPrevClick();
  Pump();
  dialog->OnPrevClick();
  Pump();
  std::vector<int> queue = QueueIds();
  dialog->PlayNext();
  Pump();
  EXPECT_EQ(dialog->GetHistorySteps(), 0);
  std::vector<int> expected = records;
  expected.push_back(records[1]);
  expected.push_back(queue[0]);
  EXPECT_EQ(PlayRecords(), expected);

  // A pause keeps the place: playing again goes on from there.
  Run(3000);
  const long before = model->Status().position;
  ASSERT_GE(before, 3);
  dialog->TogglePlayPause();
  Run(5000);
  EXPECT_EQ(model->Status().position, before);
  dialog->TogglePlayPause();
  Pump();
  EXPECT_EQ(model->Status().state, pp::ITPlayerStatePlaying);
  EXPECT_EQ(model->Status().position, before);
  EXPECT_EQ(PlayRecords(), expected);

  // Paused and played again at another client: the window follows, plays
  // nothing of its own, and the control shows the state.
  Run(2000);
  std::shared_ptr<pp::IiTunes> other;
  ASSERT_EQ(pp::CoCreateITunesApp(&other), S_OK);
  ASSERT_EQ(other->Pause(), S_OK);
  Pump();
  EXPECT_TRUE(dialog->IsPaused());
  EXPECT_EQ(dialog->GetElement("play")->GetClassName(), "playclass");
  EXPECT_EQ(PlayRecords(), expected);
  ASSERT_EQ(other->Play(), S_OK);
  Pump();
  EXPECT_FALSE(dialog->IsPaused());
  EXPECT_EQ(dialog->GetElement("play")->GetClassName(), "pauseclass");

  // Paused: the stop only refreshes the now-playing area; "next" skips without playing.
  dialog->TogglePlayPause();
  Pump();
  EXPECT_TRUE(dialog->IsPaused());
  EXPECT_EQ(dialog->GetElement("play")->GetClassName(), "playclass");
  EXPECT_EQ(PlayingId(), 0);
  queue = QueueIds();
  dialog->PlayNext();
  EXPECT_EQ(QueueIds(), queue);
  dialog->OnNextClick();
  Pump();
  EXPECT_EQ(QueueIds().size(), 10u);
  EXPECT_EQ(QueueIds()[0], queue[1]);
  EXPECT_EQ(PlayingId(), 0);
  EXPECT_EQ(PlayRecords(), expected);
  dialog->TogglePlayPause();
  Pump();
  EXPECT_FALSE(dialog->IsPaused());
  EXPECT_EQ(dialog->GetElement("play")->GetClassName(), "pauseclass");

  // The schedule runs with nothing due: the player stops, the queue stays.
  theScheduler.Start();
  queue = QueueIds();
  dialog->PlayNext();
  Pump();
  EXPECT_EQ(PlayingId(), 0);
  EXPECT_EQ(QueueIds(), queue);
  EXPECT_EQ(PlayRecords(), expected);

  // A slot is due: its mix becomes current and the new queue's front plays.
  const Mix ones = StoreGenreMix("Genre 1", "Ones");
  ScheduleItem item(540, 600, ones.GetId(), 2);  // weekdays 9:00 - 10:00; the clock says Monday 9:00
  db.AddScheduleItem(item);
  theScheduler.Reload();
  dialog->PlayNext();
  Pump();
  EXPECT_EQ(dialog->GetCurrentMix().GetId(), ones.GetId());
  EXPECT_TRUE(AllOfGenre("Genre 1"));
  EXPECT_EQ(dialog->GetNowPlaying().genre, "Genre 1");
  EXPECT_EQ(PlayRecords().back(), PlayingId());
}

TEST_F(ZorvaDlgTest, StartedWithTheScheduleOnAndNothingDueNothingIsRecordedAndTheControlFollowsTheDueMix) {
  WriteProfileInt("Startup", "ScheduleOn", 1);
  Open();
  ASSERT_TRUE(theScheduler.IsRunning());
  EXPECT_TRUE(dialog->IsPaused());
  EXPECT_EQ(PlayingId(), 0);
  EXPECT_EQ(PlayRecords(), std::vector<int>{});  // the track shown never played
  EXPECT_EQ(dialog->GetElement("play")->GetClassName(), "playclass");

  // A slot for now is stored: the poll switches to its mix and plays it.
  const Mix ones = StoreGenreMix("Genre 1", "Ones");
  ScheduleItem item(540, 600, ones.GetId(), 2);  // weekdays 9:00 - 10:00; the clock says Monday 9:00
  db.AddScheduleItem(item);
  dialog->PostMessage(WM_APP_SCHEDULE_CHANGED);
  Run(1000);
  EXPECT_FALSE(dialog->IsPaused());
  EXPECT_EQ(dialog->GetCurrentMix().GetId(), ones.GetId());
  ASSERT_NE(PlayingId(), 0);
  EXPECT_EQ(Track(PlayingId()).genre, "Genre 1");
  EXPECT_EQ(PlayRecords(), std::vector<int>{PlayingId()});
  EXPECT_EQ(dialog->GetElement("play")->GetClassName(), "pauseclass");
}

TEST_F(ZorvaDlgTest, EachWayTheMixChangesFillsTheQueueFromTheNewMixOnly) {
  const Mix zeros = StoreGenreMix("Genre 0", "Zeros");
  const Mix ones = StoreGenreMix("Genre 1", "Ones");
  Open();
  theScheduler.Start();  // nothing due: choosing a whole mix overrides it, a tag does not
  Pump();

  auto menuEntry =
      FindElement(dialog->GetElement("zorvamixlinks"), "mixwrap", std::to_string(zeros.GetId()) + "_:_0_:_set");
  ASSERT_TRUE(menuEntry);
  Page().FireEvent(platform::HtmlEvent{"click", menuEntry});
  EXPECT_EQ(dialog->GetCurrentMix().GetId(), zeros.GetId());
  EXPECT_TRUE(AllOfGenre("Genre 0"));
  EXPECT_EQ(dialog->GetElementText("currentmixname"), "Zeros");
  EXPECT_TRUE(theScheduler.IsOverridden());

  theScheduler.Start();
  dialog->SendMessage(WM_APP_PLAY_MIX, static_cast<WPARAM>(ones.GetId()));
  EXPECT_EQ(dialog->GetCurrentMix().GetId(), ones.GetId());
  EXPECT_TRUE(AllOfGenre("Genre 1"));
  EXPECT_TRUE(theScheduler.IsOverridden());

  const Tag genre0 = db.FindOrCreateTag("Genre 0", TagGenre);
  dialog->SendMessage(WM_APP_PLAY_TAG, static_cast<WPARAM>(genre0.id));
  EXPECT_EQ(dialog->GetCurrentMix().GetId(), 0);
  EXPECT_TRUE(AllOfGenre("Genre 0"));

  theScheduler.Start();
  Pump();
  const Tag genre1 = db.FindOrCreateTag("Genre 1", TagGenre);
  auto tagLink = FindElement(dialog->GetElement("genretaglinks"), "mixtagadd", std::to_string(genre1.id) + "_:_");
  ASSERT_TRUE(tagLink);
  Page().FireEvent(platform::HtmlEvent{"click", tagLink});  // added beside Genre 0
  EXPECT_EQ(dialog->GetCurrentMix().GetTags().size(), 2u);
  tagLink = FindElement(dialog->GetElement("genretaglinks"), "mixtagremove", std::to_string(genre0.id) + "_:_");
  ASSERT_TRUE(tagLink);
  Page().FireEvent(platform::HtmlEvent{"click", tagLink});
  EXPECT_TRUE(AllOfGenre("Genre 1"));
  EXPECT_TRUE(theScheduler.IsRunning());

  // A rename or a change of the stored mixes leaves the queue as it is.
  dialog->SendMessage(WM_APP_PLAY_MIX, static_cast<WPARAM>(zeros.GetId()));
  const std::vector<int> queue = QueueIds();
  dialog->GetElement("currentmixname")->SetInnerHtml("Evening &amp; Night");
  dialog->SendMessage(WM_APP_MIX_RENAMED);
  dialog->SendMessage(WM_APP_MIXES_CHANGED);
  EXPECT_EQ(QueueIds(), queue);
  EXPECT_EQ(db.GetMix(zeros.GetId()).GetName(), "Evening & Night");
  EXPECT_EQ(dialog->GetElementText("currentmixname"), "Evening & Night");

  // Deleting the current mix leaves a random selection.
  dialog->OnDeleteCurrentMixClick(*dialog->GetElement("currentmixname"));
  EXPECT_TRUE(dialog->GetCurrentMix().IsRandom());
  EXPECT_EQ(db.GetMix(zeros.GetId()).GetId(), 0);
  EXPECT_EQ(QueueIds().size(), 10u);
}

TEST_F(ZorvaDlgTest, OnlyAPermutationOfTheTenPositionsReordersTheQueue) {
  Open();
  // A track queued from the Lab plays next; the queue grows to eleven.
  const int extra = dialog->GetNowPlaying().id;
  dialog->SendMessage(WM_APP_QUEUE_TRACK, static_cast<WPARAM>(extra));
  std::vector<int> queue = QueueIds();
  ASSERT_EQ(queue.size(), 11u);
  EXPECT_EQ(queue[0], extra);

  Reorder("2:1:3:4:5:6:7:8:9:10");
  std::vector<int> expected(queue.begin(), queue.begin() + 10);
  std::swap(expected[0], expected[1]);
  EXPECT_EQ(QueueIds(), expected);  // cut to ten
  EXPECT_EQ(Title(1), Shown(0));

  queue = QueueIds();
  for (const char* bad : {"2:1:3:4:5:6:7:8:9", "2:1:3:4:5:6:7:8:9:11", "2:2:3:4:5:6:7:8:9:10", "0:1:2:3:4:5:6:7:8:9",
                          "2:1:3:4:5:6:7:8:9:10:1", "2:1:3:4:5:6:7:8:9:10x", "-2:1:3:4:5:6:7:8:9:10", ""}) {
    TakeScriptCalls();
    Reorder(bad);
    EXPECT_EQ(QueueIds(), queue) << bad;
    EXPECT_TRUE(Has(TakeScriptCalls(), "fadeList")) << bad << " redraws";
  }
}

TEST_F(ZorvaDlgTest, EntryCommandsPlayRemoveAndDumpByTheirPlaceInTheQueue) {
  Open();
  std::vector<int> queue = QueueIds();
  // Double-clicking the third entry's name plays it, records it, and the rest move up.
  auto name = dialog->GetElement("track3")->GetChildren().front();
  Page().FireEvent(platform::HtmlEvent{"dblclick", name});
  Pump();
  EXPECT_EQ(PlayingId(), queue[2]);
  EXPECT_EQ(PlayRecords().back(), queue[2]);
  EXPECT_EQ(QueueIds()[2], queue[3]);
  EXPECT_EQ(QueueIds().size(), 10u);

  queue = QueueIds();
  Page().FireEvent(platform::HtmlEvent{"click", dialog->GetElement("trackdel1")});
  EXPECT_EQ(QueueIds()[0], queue[1]);
  // Dumping the first entry keeps it from ever being picked again.
  queue = QueueIds();
  Page().FireEvent(platform::HtmlEvent{"click", dialog->GetElement("trackdump1")});
  EXPECT_FALSE(Track(queue[0]).enabled);
  EXPECT_EQ(QueueIds()[0], queue[1]);
  EXPECT_EQ(QueueIds().size(), 10u);
  // The now-playing dump link is no queue entry: its click goes no further.
  EXPECT_FALSE(dialog->OnDumpClick(*dialog->GetElement("nowplayingdump")) == S_OK);
}

TEST_F(ZorvaDlgTest, BadInputLeavesAClearStateAndLosesNothing) {
  Open();
  std::vector<int> queue = QueueIds();
  const size_t plays = PlayRecords().size();

  // Ids the database does not hold, or that no record id can be, change nothing.
  for (const WPARAM id : {WPARAM{0}, WPARAM{9999}, static_cast<WPARAM>(-1), (WPARAM{1} << 32) + 1}) {
    for (const UINT message : {WM_APP_QUEUE_TRACK, WM_APP_PLAY_MIX, WM_APP_PLAY_TAG}) dialog->SendMessage(message, id);
    EXPECT_EQ(QueueIds(), queue) << id;
    EXPECT_TRUE(dialog->GetCurrentMix().IsRandom()) << id;
  }

  // The player vanishes mid-play: the front stays queued for the player to
  // take later, however often Next is asked; nothing is recorded that did
  // not play.
  iTunesAvailable = false;
  for (int i = 0; i < 3; ++i) dialog->PlayNext();
  EXPECT_EQ(QueueIds(), queue);
  EXPECT_EQ(Title(1), Shown(0));
  EXPECT_EQ(PlayRecords().size(), plays);
  Run(2000);  // the poll fails quietly meanwhile
  iTunesAvailable = true;

  // A library with no enabled track: an empty queue that never spins, even
  // when the schedule has it due while the player stands still.
  for (int id = 1; id <= 30; ++id) {
    Track track(id);
    db.DisableTrack(track);
  }
  Page().FireEvent(platform::HtmlEvent{"click", FindElement(dialog->GetElement("zorvamixlinks"), "mixwrap", "0_:_")});
  EXPECT_TRUE(QueueIds().empty());
  EXPECT_EQ(Title(1), "");
  theScheduler.Stop();
  ScheduleItem item(540, 600, 0, 2);
  db.AddScheduleItem(item);
  theScheduler.Reload();
  theScheduler.Start();
  Pump();
  model->UserStop();
  Pump();
  TakeScriptCalls();
  for (int i = 0; i < 4; ++i) dialog->PlayNext();
  Run(3000);
  EXPECT_TRUE(QueueIds().empty());
  EXPECT_FALSE(Has(TakeScriptCalls(), "fadeList"));  // not filled again and again
  EXPECT_EQ(PlayRecords().size(), plays);
  EXPECT_EQ(PlayingId(), 0);
}

TEST_F(ZorvaDlgTest, TheLabStartsWithTheTrackPlayingAndAHandOverNeverFreezesNowPlaying) {
  dialog = std::make_unique<CZorvaDlg>();
  dialog->SetShowLabAtStart();
  ASSERT_TRUE(dialog->Create(CWnd::GetDesktopWindow()));
  Run(5000);
  // Shown once the track was known, not before.
  EXPECT_TRUE(dialog->GetLab().IsWindowVisible());
  EXPECT_FALSE(dialog->GetNowPlaying().location.empty());
  EXPECT_EQ(dialog->GetLab().GetCurrentTrack().location, dialog->GetNowPlaying().location);

  // A hand-over is pending when the user plays another entry at once: that
  // one shows straight away.
  std::vector<int> queue = QueueIds();
  dialog->PlayNext();
  Page().FireEvent(platform::HtmlEvent{"dblclick", dialog->GetElement("track2")});
  EXPECT_EQ(dialog->GetNowPlaying().location, Track(queue[2]).location);
  EXPECT_TRUE(dialog->GetHandedOver().location.empty());
  Run(500);
  EXPECT_EQ(dialog->GetNowPlaying().location, Track(PlayingId()).location);

  // A track the player cannot find is never taken as handed over, so what
  // the player plays next still shows.
  Track lost;
  lost.name = "Lost";
  lost.location = "/music/gone/lost.mp3";
  db.AddOrUpdateTrack(lost);
  std::string genre;
  db.FindTrackByLocation(lost, genre);
  dialog->SendMessage(WM_APP_QUEUE_TRACK, static_cast<WPARAM>(lost.id));
  const std::string before = dialog->GetNowPlaying().location;
  dialog->PlayNext();
  Pump();
  EXPECT_TRUE(dialog->GetHandedOver().location.empty());
  EXPECT_EQ(dialog->GetNowPlaying().location, before);
  model->UserNext();
  Run(500);
  EXPECT_NE(dialog->GetNowPlaying().location, before);
  EXPECT_EQ(dialog->GetNowPlaying().location, Track(PlayingId()).location);
}

using ZorvaDlgPlayThroughTest = ZorvaDlgFixture;

TEST_F(ZorvaDlgPlayThroughTest, AWholeMixPlaysThroughOnTheTestClock) {
  StartPlayer(MakeLibrary(12, 60));
  Open();
  std::vector<int> played = {PlayingId()};
  for (int track = 0; track < 20; ++track) {
    const int next = QueueIds().front();
    Run(60000);  // the track ends by itself
    EXPECT_EQ(PlayingId(), next) << track;
    EXPECT_EQ(QueueIds().size(), 10u) << track;
    played.push_back(PlayingId());
  }
  // Each play recorded once, in the order played.
  EXPECT_EQ(PlayRecords(), played);
}

}  // namespace
