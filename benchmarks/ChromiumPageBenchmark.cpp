// Round trips to a real page in headless Chromium: a page function call, an
// element read, and a real mouse click delivered to the window's HandleEvent
// (the page stops until the host has answered) and back. Timed by the wall
// clock: the program mostly waits on the browser, so its CPU time would take
// minutes to reach the minimum time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/html/ChromiumHtmlDocument.h"

namespace {

class CountingHost : public platform::HtmlDocumentHost {
 public:
  int clicks = 0;
  void HandleEvent(platform::HtmlEvent& event) override {
    if (event.type == "click") ++clicks;
  }
  void BeforeNavigate(const std::string&, bool*) override {}
  void NavigateComplete(const std::string&) override {}
  void DocumentComplete(const std::string&) override {}
  platform::ScriptDispatch* External() override { return nullptr; }
  std::vector<std::string> EventTypes() const override { return {"click"}; }
};

struct Fixture {
  Fixture() {
    folder = std::filesystem::temp_directory_path() / "zorva-bench-page";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "bench.htm") << "<div id=timer style='width:100px;height:40px'>0</div>"
                                           "<script>function setthetimer(s) {"
                                           " document.getElementById('timer').innerHTML = s; }</script>";
    std::string error;
    platform::chromium::Browser::Options options;
    browser = platform::chromium::Browser::Start(options, &error);
    if (browser) page = platform::ChromiumHtmlDocument::Create(browser, &error);
    if (page) {
      page->SetHost(&host);
      if (!page->LoadFile((folder / "bench.htm").string())) page.reset();
    }
    if (!page) std::fprintf(stderr, "no page: %s\n", error.c_str());
  }
  ~Fixture() {
    page.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  std::filesystem::path folder;
  std::shared_ptr<platform::chromium::Browser> browser;
  CountingHost host;
  std::unique_ptr<platform::ChromiumHtmlDocument> page;
};

Fixture& Page() {
  static Fixture fixture;
  return fixture;
}

void BM_CallScriptRoundTrip(benchmark::State& state) {
  auto& page = Page().page;
  if (!page) return state.SkipWithError("no browser");
  int n = 0;
  for (auto _ : state) {
    if (page->CallScript("setthetimer", {platform::ScriptValue(std::to_string(++n))}, nullptr) != S_OK) {
      return state.SkipWithError("call failed");
    }
  }
}
BENCHMARK(BM_CallScriptRoundTrip)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ElementReadRoundTrip(benchmark::State& state) {
  auto& page = Page().page;
  if (!page) return state.SkipWithError("no browser");
  auto timer = page->GetElementById("timer");
  for (auto _ : state) benchmark::DoNotOptimize(timer->GetInnerHtml());
}
BENCHMARK(BM_ElementReadRoundTrip)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_RealClickToHandleEventAndBack(benchmark::State& state) {
  auto& fixture = Page();
  if (!fixture.page) return state.SkipWithError("no browser");
  double x = 0;
  double y = 0;
  if (!fixture.page->ElementCentre(fixture.page->GetElementById("timer"), &x, &y)) {
    return state.SkipWithError("no box");
  }
  const int before = fixture.host.clicks;
  for (auto _ : state) {
    // Each press/release pair is answered only after the host handled it.
    fixture.page->MouseEvent("down", x, y);
    fixture.page->MouseEvent("up", x, y);
  }
  // The last click's answer may still be on its way.
  const int expected = before + static_cast<int>(state.iterations());
  while (fixture.host.clicks < expected && fixture.page->ProcessEvents(2000)) {}
  if (fixture.host.clicks != expected) state.SkipWithError("clicks lost");
}
BENCHMARK(BM_RealClickToHandleEventAndBack)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
