// HTML dialogs in the shared test browser: a test file that includes this
// and calls ShowDialogsInTestBrowser() at static initialisation has every
// dialog of its program show its page in headless Chromium.
#pragma once

#include <memory>

#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/window/DHtmlDialog.h"
#include "tests/support/BrowserTestSupport.h"

namespace zorva::test {

inline bool ShowDialogsInTestBrowser() {
  platform::SetBrowserFactory([](HWND) -> std::unique_ptr<platform::HtmlDocument> {
    auto browser = TestBrowser();
    if (!browser) return nullptr;
    auto page = platform::ChromiumHtmlDocument::Create(browser);
    if (page) page->SetSilent(true);
    return page;
  });
  return true;
}

// The dialog's page in the browser.
inline platform::ChromiumHtmlDocument& BrowserPage(CDHtmlDialog& dialog) {
  return *dynamic_cast<platform::ChromiumHtmlDocument*>(dialog.GetDocument());
}

}  // namespace zorva::test
