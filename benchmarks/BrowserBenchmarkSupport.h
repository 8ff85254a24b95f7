// Benchmarks of windows on real pages: a headless Chromium that every HTML
// window made meanwhile shows its page in, and the memory a process tree uses.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/window/DHtmlDialog.h"

namespace zorva_bench {

// While this lives, each window's page is a page of one headless browser
// (script errors kept quiet when `silent`). A browser that cannot start
// skips the benchmark with the reason.
class ScopedHeadlessPages {
 public:
  explicit ScopedHeadlessPages(benchmark::State& state, bool silent = true) {
    platform::chromium::Browser::Options options;
    options.headless = true;
    std::string error;
    browser_ = platform::chromium::Browser::Start(options, &error);
    if (!browser_) {
      state.SkipWithError(error.c_str());
      return;
    }
    platform::SetBrowserFactory([browser = browser_, silent](HWND) -> std::unique_ptr<platform::HtmlDocument> {
      auto page = platform::ChromiumHtmlDocument::Create(browser);
      if (page && silent) page->SetSilent(true);
      return page;
    });
  }
  ~ScopedHeadlessPages() {
    if (browser_) platform::SetBrowserFactory(nullptr);
  }
  ScopedHeadlessPages(const ScopedHeadlessPages&) = delete;
  ScopedHeadlessPages& operator=(const ScopedHeadlessPages&) = delete;

  bool Started() const { return browser_ != nullptr; }
  int BrowserProcess() const { return browser_ ? browser_->ProcessId() : -1; }

 private:
  std::shared_ptr<platform::chromium::Browser> browser_;
};

// Proportional memory (each shared page counted once) of a process and
// everything it started, in MB.
inline double TreePssMB(int pid) {
  double kb = 0;
  std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
  for (std::string line; std::getline(rollup, line);)
    if (line.rfind("Pss:", 0) == 0) kb += std::strtod(line.c_str() + 4, nullptr);
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream children(task.path() / "children");
    for (int child = 0; children >> child;) kb += TreePssMB(child) * 1024;
  }
  return kb / 1024;
}

}  // namespace zorva_bench
