// Real pages in headless Chromium for browser tests (CTest label `browser`):
//
//   zorva_add_test(NAME my_browser_test SOURCES MyBrowserTest.cpp
//                  LIBS zorva_platform_html LABELS browser)
//
//   TempFolder folder;
//   auto page = zorva::test::OpenPage(zorva::test::WritePage(folder, "p.htm", "<div id=a>x</div>"));
//   ASSERT_TRUE(page);
//   EXPECT_EQ(page->GetElementById("a")->GetInnerText(), "x");
//
// One headless browser serves every test of a test program (started on first
// use, closed at exit). Documents are the same ChromiumHtmlDocument the
// programs use; give a host to hear events, navigations and window.external.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/html/Url.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Messages.h"

namespace zorva::test {

// The test program's browser, always headless; null (with a failure) when
// Chromium cannot start.
inline std::shared_ptr<platform::chromium::Browser> TestBrowser() {
  static std::shared_ptr<platform::chromium::Browser> browser = [] {
    std::string error;
    platform::chromium::Browser::Options options;
    options.headless = true;
    auto started = platform::chromium::Browser::Start(options, &error);
    if (!started) ADD_FAILURE() << error;
    // A browser that dies under a test fails that test; nothing quits.
    platform::chromium::Browser::SetDeathHandler([] { ADD_FAILURE() << "the browser died"; });
    return started;
  }();
  return browser;
}

// Writes `html` as the page file `name` in `folder`; returns its path.
inline std::string WritePage(const std::filesystem::path& folder, const std::string& name, const std::string& html) {
  const std::filesystem::path path = folder / name;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << html;
  return path.string();
}

// A new page of the test browser with `host` (may be null); when `pageFile`
// is given, the page shows it. Null (with a failure) when it cannot be had.
inline std::unique_ptr<platform::ChromiumHtmlDocument> OpenPage(const std::string& pageFile = {},
                                                                platform::HtmlDocumentHost* host = nullptr) {
  auto browser = TestBrowser();
  if (!browser) return nullptr;
  std::string error;
  auto page = platform::ChromiumHtmlDocument::Create(browser, &error);
  if (!page) {
    ADD_FAILURE() << error;
    return nullptr;
  }
  page->SetSilent(true);
  if (host) page->SetHost(host);
  if (!pageFile.empty() && !page->LoadFile(pageFile)) {
    ADD_FAILURE() << "cannot load " << pageFile << ": " << page->LastError();
    return nullptr;
  }
  return page;
}

// A host that counts the documents completed and hears nothing else.
class CompletionCounter : public platform::HtmlDocumentHost {
 public:
  int completions = 0;
  void HandleEvent(platform::HtmlEvent&) override {}
  void BeforeNavigate(const std::string&, bool*) override {}
  void NavigateComplete(const std::string&) override {}
  void DocumentComplete(const std::string&) override { ++completions; }
  platform::ScriptDispatch* External() override { return nullptr; }
};

// Runs only the thread's message loop until `done()` holds or `timeoutMs`
// passed on the installed clock; returns done().
inline bool PumpMessagesUntil(const std::function<bool()>& done, platform::Millis timeoutMs = 20000) {
  const platform::Millis deadline = platform::TheClock().Now() + timeoutMs;
  while (!done() && platform::TheClock().Now() < deadline) {
    if (platform::PumpMessages() == 0) std::this_thread::yield();
  }
  return done();
}

// Handles the page's events until `done()` holds or `timeoutMs` passed on
// the installed clock; returns done().
inline bool ProcessUntil(platform::ChromiumHtmlDocument& page, const std::function<bool()>& done,
                         platform::Millis timeoutMs = 5000) {
  const platform::Millis deadline = platform::TheClock().Now() + timeoutMs;
  while (!done()) {
    const platform::Millis now = platform::TheClock().Now();
    if (now >= deadline) return false;
    page.ProcessEvents(deadline - now);
  }
  return true;
}

// A real click of the mouse (press, move a pixel, release) at the centre of
// the element, once nothing moves it any more (a menu slides in as a user
// waits for it); false when the element has no box or keeps moving.
inline bool ClickElement(platform::ChromiumHtmlDocument& page, const platform::HtmlElementPtr& element) {
  if (!page.WaitUntilStill(element, 5000)) return false;
  double x = 0;
  double y = 0;
  if (!page.ElementCentre(element, &x, &y)) return false;
  page.MouseEvent("move", x, y);
  page.MouseEvent("down", x, y);
  page.MouseEvent("up", x, y);
  return true;
}

// Script whose value is "true" when the slide-out menu `name` is open; its
// slide is ended at once, so a click aimed at it lands where it is drawn
// whatever the browser's frame rate.
inline std::string MenuSettledScript(const std::string& name) {
  return "(function () { var open = ypSlideOutMenu.isVisible('" + name + "'); if (open) document.getElementById('" +
         name + "Content').getAnimations().forEach(function (a) { a.finish(); }); return String(open); })()";
}

// A real click of the mouse at a point of the page; true once the page has
// had it (so the program's handlers of the click have run).
inline bool ClickAt(platform::ChromiumHtmlDocument& page, double x, double y) {
  const auto eval = [&](const std::string& script) {
    platform::ScriptValue value;
    page.CallScript("eval", {platform::ScriptValue(script)}, &value);
    return value.ToText();
  };
  eval(
      "window.testClickHeard = false;"
      "document.addEventListener('click', function () { window.testClickHeard = true; }, {capture: true, once: true})");
  page.MouseEvent("move", x, y);
  page.MouseEvent("down", x, y);
  page.MouseEvent("up", x, y);
  return ProcessUntil(page, [&] { return eval("String(window.testClickHeard)") == "true"; });
}

}  // namespace zorva::test
