// The tag lists of a library of 100,000 tracks (200 genres, 5,000 artists,
// 10,000 albums) written by TagLinks::LoadLists into one real page in
// headless Chromium, against the same reading with no page to write into.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "benchmarks/GeneratedLibrary.h"
#include "core/MusicDB.h"
#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/window/DHtmlDialog.h"
#include "windows/TagLinks.h"

namespace {

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

void BM_TagLinksLoadListsIntoRealPage(benchmark::State& state) {
  MusicDB db(TheLibrary().AnalysedPath());
  ScopedMusicDB installed(db);
  platform::chromium::Browser::Options options;
  options.headless = true;
  std::string error;
  auto browser = platform::chromium::Browser::Start(options, &error);
  if (!browser) {
    state.SkipWithError(error.c_str());
    return;
  }
  platform::SetBrowserFactory([browser](HWND) -> std::unique_ptr<platform::HtmlDocument> {
    return platform::ChromiumHtmlDocument::Create(browser);
  });
  {
    CDHtmlDialog page(DialogTemplate{300, 0, 0, 200, 150, WS_POPUP, 0}, 301);
    page.Create();
    if (!dynamic_cast<platform::ChromiumHtmlDocument*>(page.GetDocument())) {
      state.SkipWithError("no page in the browser");
    } else {
      page.GetDocument()->LoadHtml(kPage);
      TagLinks links;
      links.Reload(&page, nullptr, nullptr);
      for (auto _ : state) {
        links.LoadLists();
        // The lists are held until the next call: a round trip sends them, so
        // the time includes the page taking them in.
        benchmark::DoNotOptimize(page.GetDocument()->GetElementById("taglinks"));
      }
      CountTags(state);
    }
  }
  platform::SetBrowserFactory(nullptr);
}
BENCHMARK(BM_TagLinksLoadListsIntoRealPage)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The database and the HTML alone: no page is registered.
void BM_TagLinksLoadListsNoPage(benchmark::State& state) {
  MusicDB db(TheLibrary().AnalysedPath());
  ScopedMusicDB installed(db);
  TagLinks links;
  for (auto _ : state) links.LoadLists();
  CountTags(state);
}
BENCHMARK(BM_TagLinksLoadListsNoPage)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
