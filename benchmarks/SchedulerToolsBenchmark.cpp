// The scheduler window opened over 10 schedules of 48 items each, and a
// 24-hour playlist of 8 mixes generated from a library of 100,000 tracks into
// the in-process player, each with its parts measured on their own: where the
// time goes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "benchmarks/BrowserBenchmarkSupport.h"
#include "benchmarks/GeneratedLibrary.h"
#include "core/ITunesPlayer.h"
#include "core/MusicDB.h"
#include "core/PlaylistSchedule.h"
#include "core/Scheduler.h"
#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/player/standin/PlayerModel.h"
#include "platform/window/MessageBox.h"
#include "tools/Automator.h"
#include "tools/Generator.h"

namespace {

using zorva_bench::ScopedHeadlessPages;

namespace pp = platform::player;

constexpr int kMixes = 8;
constexpr int kItemsPerSchedule = 48;

pp::LibraryData PlayerLibrary() {
  pp::LibraryData library;
  pp::PlaylistData main;
  main.playlistId = 1;
  main.name = "Library";
  // The generated database's tracks: id i + 1 lies at "/music/<i>.mp3".
  for (int i = 0; i < zorva_bench::kTracks; ++i) {
    pp::TrackData t;
    t.databaseId = i + 1;
    t.name = "Song " + std::to_string(i);
    t.artist = "Artist " + std::to_string(i % zorva_bench::kArtists);
    t.album = "Album " + std::to_string(i % zorva_bench::kAlbums);
    t.genre = "Genre " + std::to_string(i % zorva_bench::kGenres);
    t.location = "/music/" + std::to_string(i) + ".mp3";
    t.seconds = 120 + i % 300;
    library.tracks.push_back(t);
    main.trackIds.push_back(i + 1);
  }
  library.playlists.push_back(main);
  return library;
}

// The library, its database with 8 mixes of one genre (500 tracks each) and
// 48 half-hour items in each of the 10 fixed schedules, the player, a profile
// folder and the page files; made once per run.
class World {
 public:
  World() : model_(PlayerLibrary()), binding_(model_), db_(library_.AnalysedPath()), installed_(db_) {
    // Window placements go into a profile of the run's own.
    const std::string config = std::filesystem::path(library_.NewPath()).parent_path() / "config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    CFramelessHtmlWindow::SetPageFolder(ZORVA_PAGE_DIR);
    iTunesAvailable = true;
    db_.Exec("BEGIN");
    for (int m = 0; m < kMixes; ++m) {
      Mix mix;
      mix.AddTag(Tag("Genre " + std::to_string(m), TagGenre, zorva_bench::kGenreBase + m), false);
      mix.Rename("Mix " + std::to_string(m));
      mixIds_[m] = mix.GetId();
    }
    for (int schedule = 1; schedule <= 10; ++schedule) {
      for (int slot = 0; slot < kItemsPerSchedule; ++slot) {
        ScheduleItem item(slot * 30, slot * 30 + 30, mixIds_[slot % kMixes], schedule);
        db_.AddScheduleItem(item);
      }
    }
    db_.Exec("COMMIT");
    platform::InstallMessageBoxPresenter(&answers_);
  }
  ~World() { platform::InstallMessageBoxPresenter(nullptr); }

  // 8 slots of three hours, one per mix.
  PlaylistSchedule DaySchedule() const {
    PlaylistSchedule schedule;
    schedule.SetName("Whole day");
    schedule.SetDuration(1440);
    for (int m = 0; m < kMixes; ++m) schedule.InsertItem(ScheduleItem(m * 180, m * 180 + 180, mixIds_[m], -1));
    return schedule;
  }

  platform::ScriptedMessageBoxPresenter answers_;

 private:
  zorva_bench::Library library_;
  pp::PlayerModel model_;
  pp::ScopedInProcessPlayer binding_;
  MusicDB db_;
  ScopedMusicDB installed_;
  int mixIds_[kMixes] = {};
};

World& TheWorld() {
  static World world;
  return world;
}

// Opening: the window made, its page loaded, the page's layout answer
// reloading the day schedules, the items drawn.
void OpenScheduler() {
  Automator automator;
  automator.Create();
  automator.ShowScheduleItems();
  benchmark::DoNotOptimize(automator.GetElementHtml("mixdata").size());
  automator.DestroyWindow();
}

void BM_OpenSchedulerInMemoryPage(benchmark::State& state) {
  TheWorld();
  theScheduler.SetType(SchedulePerDay);  // 7 schedules, 336 items shown
  for (auto _ : state) OpenScheduler();
}
BENCHMARK(BM_OpenSchedulerInMemoryPage)->Unit(benchmark::kMillisecond)->UseRealTime();

// Its parts: the schedules read with their items and mixes, and the items' HTML.
void BM_OpenSchedulerReloadSchedules(benchmark::State& state) {
  TheWorld();
  for (auto _ : state) theScheduler.SetType(SchedulePerDay);
}
BENCHMARK(BM_OpenSchedulerReloadSchedules)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenSchedulerItemsHtml(benchmark::State& state) {
  TheWorld();
  theScheduler.SetType(SchedulePerDay);
  for (auto _ : state) {
    ScheduleItemList items;
    theScheduler.GetTypeItems(items);
    std::string html;
    for (const ScheduleItem& item : items) html += item.GetHtml();
    benchmark::DoNotOptimize(html.size());
  }
}
BENCHMARK(BM_OpenSchedulerItemsHtml)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same opening with the page in headless Chromium (the browser started once).
void BM_OpenSchedulerRealPage(benchmark::State& state) {
  TheWorld();
  theScheduler.SetType(SchedulePerDay);
  ScopedHeadlessPages pages(state);
  if (!pages.Started()) return;
  for (auto _ : state) OpenScheduler();
}
BENCHMARK(BM_OpenSchedulerRealPage)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Redrawing the 336 items into an open real page (what each schedule change costs).
void BM_ShowScheduleItemsRealPage(benchmark::State& state) {
  TheWorld();
  theScheduler.SetType(SchedulePerDay);
  ScopedHeadlessPages pages(state);
  if (!pages.Started()) return;
  {
    Automator automator;
    automator.Create();
    for (auto _ : state) automator.ShowScheduleItems();
    automator.DestroyWindow();
  }
}
BENCHMARK(BM_ShowScheduleItemsRealPage)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Generating: the generator's button on a 24-hour schedule of 8 mixes (the
// schedule is stored by the first generation; later ones refill and rewrite
// the same playlist), answering No to viewing it.
void BM_GenerateDayFromWindow(benchmark::State& state) {
  World& world = TheWorld();
  CGenerator generator;
  generator.Create();
  generator.OpenSchedule(world.DaySchedule());
  auto button = generator.GetElement("generate");
  std::size_t tracks = 0;
  for (auto _ : state) {
    world.answers_.QueueAnswer(IDNO);
    generator.GetDocument()->FireEvent(platform::HtmlEvent{"click", button});
    tracks = 0;
    for (const ItemTrackQueue& queue : generator.GetSchedule().GetQueues()) tracks += queue.GetTracks().size();
  }
  state.counters["tracks"] = static_cast<double>(tracks);
  generator.DestroyWindow();
}
BENCHMARK(BM_GenerateDayFromWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

// Its parts: choosing the tracks of the 8 slots, and writing them into the player.
void BM_GenerateFillSlots(benchmark::State& state) {
  World& world = TheWorld();
  const PlaylistSchedule schedule = world.DaySchedule();
  for (auto _ : state) {
    ItemTrackQueueList queues;
    for (const ScheduleItem& slot : schedule.GetItems()) queues.emplace_back(slot);
    benchmark::DoNotOptimize(queues.size());
  }
}
BENCHMARK(BM_GenerateFillSlots)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GenerateWritePlaylist(benchmark::State& state) {
  World& world = TheWorld();
  const PlaylistSchedule schedule = world.DaySchedule();
  ItemTrackQueueList queues;
  for (const ScheduleItem& slot : schedule.GetItems()) queues.emplace_back(slot);
  for (auto _ : state) {
    ITunesPlayer player(nullptr);
    player.Connect(false);
    player.WriteGeneratedPlaylist("Written", queues);
  }
}
BENCHMARK(BM_GenerateWritePlaylist)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
