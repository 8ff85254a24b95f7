// Message boxes on a desktop with a display: each question is a small window
// of its own, a page of the program's browser with the caption, the text and
// the buttons of its type, modal for its owner (the owner's page takes no
// input meanwhile). A click on a button answers; Enter answers with the
// button that has the focus (the default button at first); Escape, and the
// desktop's close button, with the button that acts on nothing (Cancel, No,
// or OK alone). The question runs its own message loop on the calling
// thread; a WM_QUIT meanwhile answers as Escape does and stays queued.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/html/ChromiumBrowser.h"
#include "platform/window/MessageBox.h"

namespace platform {

class ChromiumHtmlDocument;

class PageMessageBoxPresenter final : public MessageBoxPresenter {
 public:
  // Pages of `browser`; the process's shared browser when null.
  explicit PageMessageBoxPresenter(std::shared_ptr<chromium::Browser> browser = nullptr)
      : browser_(std::move(browser)) {}

  // The answer; asks on standard error (the console presenter) when no page
  // can be had.
  int Present(HWND owner, const std::string& text, const std::string& caption, UINT type) override;

  // Runs once the question's page is shown, before the answer is waited for
  // (tests give their input here).
  void SetShownHook(std::function<void(ChromiumHtmlDocument& page)> hook) { shown_ = std::move(hook); }

  // The page of a question, for the presenter and its tests.
  static std::string PageHtml(const std::string& text, const std::string& caption, UINT type);
  // The answer of Escape and of the close button.
  static int RefusalAnswer(UINT type);

 private:
  std::shared_ptr<chromium::Browser> browser_;
  std::function<void(ChromiumHtmlDocument& page)> shown_;
};

// Installs the page presenter for questions asked from now on, unless a
// presenter was installed (InstallMessageBoxPresenter wins).
void UsePageMessageBoxes();

}  // namespace platform
