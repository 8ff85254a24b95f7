// Benchmarks of windows on real pages: a headless Chromium that every HTML
// window made meanwhile shows its page in, and the memory a process tree uses.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/kernel/UniqueFd.h"
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

// A process and everything it started.
inline std::vector<int> TreeOf(int pid) {
  std::vector<int> pids;
  for (std::vector<int> todo = {pid}; !todo.empty();) {
    const int next = todo.back();
    todo.pop_back();
    pids.push_back(next);
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(next) + "/task", error)) {
      std::ifstream children(task.path() / "children");
      for (int child = 0; children >> child;) todo.push_back(child);
    }
  }
  return pids;
}

// Proportional memory (PSS: each shared page divided among all processes
// that map it) of a process and everything it started, in MB.
inline double TreePssMB(int pid) {
  double kb = 0;
  for (int each : TreeOf(pid)) {
    std::ifstream rollup("/proc/" + std::to_string(each) + "/smaps_rollup");
    for (std::string line; std::getline(rollup, line);)
      if (line.rfind("Pss:", 0) == 0) kb += std::strtod(line.c_str() + 4, nullptr);
  }
  return kb / 1024;
}

// The resident memory of a process and everything it started, each page of
// memory counted once however many of them map it. Unlike PSS it does not
// fall when other programs map the same files (other browsers on the
// machine). Needs the page frame numbers of /proc/<pid>/pagemap (root): 0
// without them.
inline double TreeResidentMB(int pid) {
  std::unordered_set<std::uint64_t> frames;
  for (int each : TreeOf(pid)) {
    const std::string proc = "/proc/" + std::to_string(each);
    std::ifstream smaps(proc + "/smaps");
    // Read whole entries at their own offsets (a buffered stream's reads of
    // other lengths are refused).
    const platform::UniqueFd pagemap(::open((proc + "/pagemap").c_str(), O_RDONLY | O_CLOEXEC));
    std::uint64_t start = 0, end = 0;
    for (std::string line; std::getline(smaps, line);) {
      if (line.rfind("Rss:", 0) == 0) {
        if (std::strtoull(line.c_str() + 4, nullptr, 10) == 0) continue;
        std::vector<std::uint64_t> entries((end - start) / 4096);
        const ssize_t got =
            ::pread(pagemap.Get(), entries.data(), entries.size() * 8, static_cast<off_t>(start / 4096 * 8));
        entries.resize(got > 0 ? static_cast<std::size_t>(got) / 8 : 0);
        for (std::uint64_t entry : entries)
          if ((entry >> 63) && (entry & ((1ull << 55) - 1))) frames.insert(entry & ((1ull << 55) - 1));
      } else if (const auto dash = line.find('-'); dash != std::string::npos && dash < line.find(' ')) {
        start = std::strtoull(line.c_str(), nullptr, 16);
        end = std::strtoull(line.c_str() + dash + 1, nullptr, 16);
      }
    }
  }
  return frames.size() * 4096.0 / (1 << 20);
}

}  // namespace zorva_bench
