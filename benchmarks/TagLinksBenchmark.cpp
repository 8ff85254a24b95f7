// The tag lists of a library of 100,000 tracks (200 genres, 5,000 artists,
// 10,000 albums) written by TagLinks::LoadLists into one real page in
// headless Chromium, against the same reading with no page to write into;
// the check that redraws them only when the library's tags changed; and the
// frequency threshold moved on the lists in that page.
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <string>

#include "benchmarks/BrowserBenchmarkSupport.h"
#include "benchmarks/GeneratedLibrary.h"
#include "core/MusicDB.h"
#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/window/DHtmlDialog.h"
#include "windows/TagLinks.h"

namespace {

using zorva_bench::ScopedHeadlessPages;

// As on the real pages: one list shown in a scrolled box, the others hidden.
constexpr char kPage[] =
    "<html><body><div id='taglinks' style='height:200px;overflow-y:auto'><div id='genretaglinks'></div>"
    "<div id='artisttaglinks' style='display:none'></div><div id='albumtaglinks' style='display:none'></div>"
    "</div></body></html>";

zorva_bench::Library& TheLibrary() {
  static zorva_bench::Library library;
  return library;
}

void CountTags(benchmark::State& state) {
  TagList tags;
  for (int type : {TagGenre, TagArtist, TagAlbum}) theMusicDB.GetTagsByType(tags, type, "");
  state.counters["tags"] = static_cast<double>(tags.size());
}

// Runs `measure` on the lists written into one page in a browser of its own.
void WithListsInRealPage(benchmark::State& state, const std::function<void(CDHtmlDialog&, TagLinks&)>& measure) {
  MusicDB db(TheLibrary().AnalysedPath());
  ScopedMusicDB installed(db);
  ScopedHeadlessPages pages(state, false);
  if (!pages.Started()) return;
  {
    CDHtmlDialog page(DialogTemplate{300, 0, 0, 200, 150, WS_POPUP, 0}, 301);
    page.Create();
    if (!dynamic_cast<platform::ChromiumHtmlDocument*>(page.GetDocument())) {
      state.SkipWithError("no page in the browser");
    } else {
      page.GetDocument()->LoadHtml(kPage);
      TagLinks links;
      links.Reload(&page, nullptr, nullptr);
      measure(page, links);
      CountTags(state);
    }
  }
}

// A round trip to the page: the figures include Chromium taking the writes.
void RoundTrip(CDHtmlDialog& page) { page.GetDocument()->GetElementById("genretaglinks"); }

void BM_TagLinksLoadListsIntoRealPage(benchmark::State& state) {
  WithListsInRealPage(state, [&](CDHtmlDialog& page, TagLinks& links) {
    for (auto _ : state) {
      links.LoadLists();
      RoundTrip(page);
    }
  });
}
BENCHMARK(BM_TagLinksLoadListsIntoRealPage)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The frequency slider on the lists in the page: every tag of frequency 1
// to 10 hidden (raise) or shown again (lower).
void BM_TagLinksThresholdInRealPage(benchmark::State& state, bool raise) {
  WithListsInRealPage(state, [&](CDHtmlDialog& page, TagLinks& links) {
    for (auto _ : state) {
      state.PauseTiming();
      links.SetPlayerThreshold(raise ? 0 : 10);
      RoundTrip(page);
      state.ResumeTiming();
      links.SetPlayerThreshold(raise ? 10 : 0);
      RoundTrip(page);
    }
  });
}
BENCHMARK_CAPTURE(BM_TagLinksThresholdInRealPage, raise_0_to_10, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_TagLinksThresholdInRealPage, lower_10_to_0, false)->Unit(benchmark::kMillisecond)->UseRealTime();

// The database and the HTML alone: no page is registered.
void BM_TagLinksLoadListsNoPage(benchmark::State& state) {
  MusicDB db(TheLibrary().AnalysedPath());
  ScopedMusicDB installed(db);
  TagLinks links;
  for (auto _ : state) links.LoadLists();
  CountTags(state);
}
BENCHMARK(BM_TagLinksLoadListsNoPage)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the player window's answer to a change of mixes costs the tag lists
// when the tags stayed as they were: one mixtag row written or deleted
// (untimed; theMusicDB's kept frequencies are then counted again), the lists
// read and compared with the kept ones, nothing written into a page.
void BM_TagLinksRefreshAfterAMixChange(benchmark::State& state) {
  MusicDB db(TheLibrary().AnalysedPath());
  ScopedMusicDB installed(db);
  TagLinks links;
  links.LoadLists();
  const Mix mix(TheLibrary().smallMixId);
  const Tag tag("bench", TagGenre, zorva_bench::kGenreBase + 7);
  bool held = false;
  for (auto _ : state) {
    state.PauseTiming();
    if (held) {
      db.RemoveMixTag(mix, tag);
    } else {
      db.AddMixTag(mix, tag);
    }
    held = !held;
    state.ResumeTiming();
    links.RefreshLists();
  }
  if (held) db.RemoveMixTag(mix, tag);
  CountTags(state);
}
BENCHMARK(BM_TagLinksRefreshAfterAMixChange)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same while nothing changed at all: the kept frequencies are current.
void BM_TagLinksRefreshUnchanged(benchmark::State& state) {
  MusicDB db(TheLibrary().AnalysedPath());
  ScopedMusicDB installed(db);
  TagLinks links;
  links.LoadLists();
  for (auto _ : state) links.RefreshLists();
  CountTags(state);
}
BENCHMARK(BM_TagLinksRefreshUnchanged)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
