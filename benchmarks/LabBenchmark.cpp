// The Lab on a generated library of 100,000 tracks, in its real pages in
// headless Chromium: each view's handler from the click to the page written
// (the largest tag, the largest mix, home, a search, page 500 of the tracks),
// from a view of another kind (its page switched to, kept loaded since its
// first load) and of the same kind (drawn in place), a page file's load
// alone beside its floor (two tiny page files), and beside them the queries
// and renderings the views are made of.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "benchmarks/BrowserBenchmarkSupport.h"
#include "benchmarks/GeneratedLibrary.h"
#include "core/MusicDB.h"
#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/kernel/Clock.h"
#include "platform/window/Wnd.h"
#include "tools/TrackInfo.h"

namespace {

using zorva_bench::ScopedHeadlessPages;
using zorva_bench::TreePssMB;

zorva_bench::Library& TheLibrary() {
  static zorva_bench::Library library;
  return library;
}

// The Lab window on the analysed library with its pages in the browser.
class LabFixture {
 public:
  explicit LabFixture(benchmark::State& state) : db_(TheLibrary().AnalysedPath()), installed_(db_), pages_(state) {
    if (!pages_.Started()) return;
    // By the time a user opens the Lab the program has read the tag lists
    // (its pages' tag links), which the database keeps until they change.
    TagList tags;
    theMusicDB.GetTagsPage(tags, 0, 1);
    CFramelessHtmlWindow::SetPageFolder(ZORVA_PAGE_DIR);
    lab_ = std::make_unique<TrackInfo>();
    lab_->Create();
    if (!Page()) state.SkipWithError("no page in the browser");
  }
  ~LabFixture() {
    lab_.reset();
    CFramelessHtmlWindow::SetPageFolder("");
  }

  platform::ChromiumHtmlDocument* Page() {
    return lab_ ? dynamic_cast<platform::ChromiumHtmlDocument*>(lab_->GetDocument()) : nullptr;
  }
  TrackInfo& Lab() { return *lab_; }
  int BrowserProcess() const { return pages_.BrowserProcess(); }

  // Handles the page's events until the Lab has drawn `views` views since `before`.
  bool WaitForViews(int before, int views = 1) {
    const platform::Millis deadline = platform::TheClock().Now() + 15000;
    while (lab_->GetHistory().GetCount() < before + views) {
      if (platform::TheClock().Now() >= deadline) return false;
      // A round trip to the page lets the finished load through to the window.
      lab_->GetElement("TrackInfo");
      platform::PumpWindowMessages();
    }
    return true;
  }
  // Shows a view and waits until its page runs its scripts (a user cannot
  // click sooner).
  void Show(const std::function<void()>& show) {
    const int before = lab_->GetHistory().GetCount();
    show();
    WaitForViews(before);
    const platform::Millis deadline = platform::TheClock().Now() + 15000;
    while (Page()->CallScript("setlocation", {""}, nullptr) != S_OK && platform::TheClock().Now() < deadline) {
      Page()->ProcessEvents(5);
    }
  }
  // A holder of the class and id as the record renderings make them, clicked.
  void ClickHolder(const std::string& className, const std::string& id) {
    lab_->SetElementHtml("lablookup", "<a href='#' id='" + id + "' class='" + className + "'>x</a>");
    Page()->FireEvent(platform::HtmlEvent{"click", lab_->GetElement(id)});
  }

 private:
  MusicDB db_;
  ScopedMusicDB installed_;
  ScopedHeadlessPages pages_;
  std::unique_ptr<TrackInfo> lab_;
};

// From another view, what a click on a holder does: the record loaded by its
// id and its view shown on its own page. (Synthetic clicks right after a page
// load are sometimes lost by the page host, so the handler's work is called.)
void RunViewClick(benchmark::State& state, const std::function<void(LabFixture&)>& start,
                  const std::function<void(TrackInfo&)>& click) {
  LabFixture lab(state);
  if (!lab.Page()) return;
  // The view's page once, untimed: a user's first view of each kind loads
  // its page (LabPageLoadOnly), every later one finds it kept.
  lab.Show([&] { click(lab.Lab()); });
  for (auto _ : state) {
    state.PauseTiming();
    lab.Show([&] { start(lab); });
    const int before = lab.Lab().GetHistory().GetCount();
    state.ResumeTiming();
    click(lab.Lab());
    if (!lab.WaitForViews(before)) {
      state.SkipWithError("the view was not drawn");
      break;
    }
    // One more round trip: everything written is in the page.
    lab.Lab().GetElement("TrackInfo");
  }
  // The browser's memory with every kind of page shown once (all kept).
  lab.Show([&] { lab.Lab().ShowTag(Tag(zorva_bench::kGenreBase), false); });
  lab.Show([&] { lab.Lab().ShowMix(Mix(TheLibrary().largeMixId), false); });
  lab.Show([&] { lab.Lab().ShowHome(false); });
  lab.Show([&] { lab.Lab().ShowTrack(Track(2), false, false); });
  state.counters["browser_pss_MB"] = TreePssMB(lab.BrowserProcess());
}

void ShowHome(LabFixture& lab) { lab.Lab().ShowHome(false); }
void ShowTrack(LabFixture& lab) { lab.Lab().ShowTrack(Track(2), false, false); }

void BM_LabLargestTag(benchmark::State& state) {
  RunViewClick(state, ShowHome, [](TrackInfo& lab) { lab.ShowTag(Tag(zorva_bench::kGenreBase), false); });
}

void BM_LabLargestMix(benchmark::State& state) {
  RunViewClick(state, ShowHome, [](TrackInfo& lab) { lab.ShowMix(Mix(TheLibrary().largeMixId), false); });
}

void BM_LabHome(benchmark::State& state) {
  RunViewClick(state, ShowTrack, [](TrackInfo& lab) { lab.ShowHome(false); });
}

// The same views from a view of their own kind, which the Lab draws in
// place on the page it shows (browsing from tag to tag, mix to mix).
void BM_LabLargestTagInPlace(benchmark::State& state) {
  RunViewClick(
      state, [](LabFixture& lab) { lab.Lab().ShowTag(Tag(zorva_bench::kGenreBase + 1), false); },
      [](TrackInfo& lab) { lab.ShowTag(Tag(zorva_bench::kGenreBase), false); });
}

void BM_LabLargestMixInPlace(benchmark::State& state) {
  RunViewClick(
      state, [](LabFixture& lab) { lab.Lab().ShowMix(Mix(TheLibrary().smallMixId), false); },
      [](TrackInfo& lab) { lab.ShowMix(Mix(TheLibrary().largeMixId), false); });
}

void BM_LabHomeInPlace(benchmark::State& state) {
  RunViewClick(state, ShowHome, [](TrackInfo& lab) { lab.ShowHome(false); });
}

// The home's page keeps the lists the Lab last wrote into it, so a view that
// shows them again sends nothing. Here the home's page shows its second
// pages of tags and tracks, and the view writes the first ones: every list
// is sent, parsed and laid out.
void ShowHomeSecondPages(LabFixture& lab) {
  lab.Lab().ShowHome(false);
  lab.Lab().RenderAllTags(TrackInfo::kPageSize, TrackInfo::kPageSize);
  lab.Lab().RenderAllTracks(TrackInfo::kPageSize, TrackInfo::kPageSize);
}

void BM_LabHomeChanged(benchmark::State& state) {
  RunViewClick(
      state,
      [](LabFixture& lab) {
        ShowHomeSecondPages(lab);
        ShowTrack(lab);
      },
      [](TrackInfo& lab) { lab.ShowHome(false); });
}

void BM_LabHomeChangedInPlace(benchmark::State& state) {
  RunViewClick(state, ShowHomeSecondPages, [](TrackInfo& lab) { lab.ShowHome(false); });
}

// Each iteration loads the other of the two page files into the Lab's page.
void LoadInTurn(benchmark::State& state, LabFixture& lab, const std::string (&pages)[2]) {
  int n = 0;
  for (auto _ : state) {
    if (!lab.Page()->LoadFile(pages[++n % 2])) {
      state.SkipWithError(("the page did not load: " + lab.Page()->LastError()).c_str());
      break;
    }
    // The page answers: it has loaded.
    lab.Page()->GetElementById("TrackInfo");
  }
}

// What a change of view kind costs before anything is written: the Lab's
// page going from one of its page files to another and loading, nothing
// filled in.
void BM_LabPageLoadOnly(benchmark::State& state) {
  LabFixture lab(state);
  if (!lab.Page()) return;
  const std::string pages[] = {std::string(ZORVA_PAGE_DIR) + "/LabHome.htm",
                               std::string(ZORVA_PAGE_DIR) + "/SelectorInfo.htm"};
  LoadInTurn(state, lab, pages);
}

// The floor of a page load, in the same page: a navigation between two tiny
// page files (a body of the Lab's id, nothing else).
void BM_LabTinyPageLoadFloor(benchmark::State& state) {
  LabFixture lab(state);
  if (!lab.Page()) return;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("zorva-bench-tiny-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string pages[] = {(folder / "a.htm").string(), (folder / "b.htm").string()};
  for (const std::string& page : pages) std::ofstream(page) << "<!DOCTYPE html><body id=TrackInfo>tiny</body>";
  LoadInTurn(state, lab, pages);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

// In place on the track page: the four find lists for a typed text.
void BM_LabSearch(benchmark::State& state) {
  LabFixture lab(state);
  if (!lab.Page()) return;
  lab.Show([&] { ShowTrack(lab); });
  auto box = lab.Lab().GetElement("searchbox");
  box->SetValue("love 01");
  for (auto _ : state) lab.Page()->FireEvent(platform::HtmlEvent{"keyup", box});
  state.counters["found"] = static_cast<double>(lab.Lab().GetElement("findtracklist")->GetChildren().size());
}

// In place on the home page: the track table's page 500 (offset 49,900).
void BM_LabTrackPage500(benchmark::State& state) {
  LabFixture lab(state);
  if (!lab.Page()) return;
  lab.Show([&] { ShowHome(lab); });
  for (auto _ : state) lab.ClickHolder("pushbutton next", "49900_:_next");
  state.counters["offset"] = lab.Lab().GetTrackPageOffset();
}

// The parts: each view's queries and renderings with no page to write into.
class DatabaseOnly {
 public:
  DatabaseOnly() : db_(TheLibrary().AnalysedPath()), installed_(db_) {}

 private:
  MusicDB db_;
  ScopedMusicDB installed_;
};

void BM_QueryTagTracksAndRelated(benchmark::State& state) {
  DatabaseOnly db;
  const Tag largest(zorva_bench::kGenreBase);
  for (auto _ : state) {
    TrackList tracks;
    theMusicDB.GetTracksOfTag(largest, tracks, 0, 100);
    TagList related;
    theMusicDB.GetRelatedTags(related, largest);
    std::string html;
    for (const Track& track : tracks) html += track.GetLabListHtml();
    for (const Tag& tag : related) html += tag.GetTrackHolderHtml(largest.frequency);
    benchmark::DoNotOptimize(html);
  }
}

void BM_QueryMixTracks(benchmark::State& state) {
  DatabaseOnly db;
  for (auto _ : state) {
    Mix mix(TheLibrary().largeMixId);
    TrackList tracks;
    theMusicDB.GetTracksOfMix(mix, tracks, 0, 100);
    benchmark::DoNotOptimize(tracks);
  }
}

void BM_QueryHomeLists(benchmark::State& state) {
  DatabaseOnly db;
  for (auto _ : state) {
    TagList tags;
    theMusicDB.GetTagsPage(tags, 0, 100);
    TrackList tracks;
    theMusicDB.GetEnabledTracks(tracks, 0, 100);
    TrackList dumped;
    theMusicDB.GetDisabledTracks(dumped, 0, 100);
    MixList mixes;
    theMusicDB.GetMixes(mixes, false);
    benchmark::DoNotOptimize(tracks);
  }
}

void BM_QuerySearch(benchmark::State& state) {
  DatabaseOnly db;
  for (auto _ : state) {
    for (int type : {TagGenre, TagArtist, TagAlbum}) {
      TagList tags;
      theMusicDB.GetTagsByTypePage(tags, type, "%love 01%", 0, 10);
    }
    TrackList tracks;
    theMusicDB.SearchTracks(tracks, "%love 01%", 0, 10);
    benchmark::DoNotOptimize(tracks);
  }
}

void BM_QueryTrackPage500(benchmark::State& state) {
  DatabaseOnly db;
  for (auto _ : state) {
    TrackList tracks;
    benchmark::DoNotOptimize(theMusicDB.GetEnabledTracks(tracks, 49900, 100));
  }
}

}  // namespace

BENCHMARK(BM_LabLargestTag)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_LabLargestMix)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_LabHome)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_LabLargestTagInPlace)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_LabLargestMixInPlace)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_LabHomeInPlace)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_LabHomeChanged)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_LabHomeChangedInPlace)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_LabPageLoadOnly)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_LabTinyPageLoadFloor)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_LabSearch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LabTrackPage500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QueryTagTracksAndRelated)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QueryMixTracks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QueryHomeLists)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuerySearch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QueryTrackPage500)->Unit(benchmark::kMillisecond);
