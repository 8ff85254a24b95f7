#include "platform/window/ChromiumBrowserFactory.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/window/DHtmlDialog.h"
#include "platform/window/Window.h"

namespace platform {

namespace {

// The page follows the browser window and the dialog around it.
void Follow(HWND browserWindow, const ChromiumHtmlDocument::Follower& follower) {
  auto update = [browserWindow, follower] {
    if (!::IsWindow(browserWindow)) return;
    RECT rect{};
    ::GetWindowRect(browserWindow, &rect);
    follower(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
             ::IsWindowVisible(browserWindow) != FALSE);
  };
  for (HWND hwnd : {browserWindow, ::GetParent(browserWindow)}) {
    if (!hwnd) continue;
    auto previous = std::make_shared<WNDPROC>();
    *previous = SubclassWindow(hwnd, [previous, update](HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
      const LRESULT result = CallWindowProc(*previous, h, message, wParam, lParam);
      switch (message) {
        case WM_WINDOWPOSCHANGED:
        case WM_SHOWWINDOW:
        case WM_MOVE:
        case WM_SIZE:
        case WM_STYLECHANGED:
          // After the window layer has taken the change.
          PostThreadCall(GetCurrentThreadId(), update);
          break;
        default:
          break;
      }
      return result;
    });
  }
  update();
}

}  // namespace

bool InstallChromiumBrowser() {
  std::string error;
  auto browser = chromium::Browser::Shared(&error);
  if (!browser) return false;
  // Nothing the program started outlives it: the browser goes at exit.
  static const bool closedAtExit = std::atexit([] { chromium::Browser::ReleaseShared(); }) == 0;
  static_cast<void>(closedAtExit);
  SetBrowserFactory([](HWND browserWindow) -> std::unique_ptr<HtmlDocument> {
    std::string why;
    auto document = ChromiumHtmlDocument::Create(&why);
    if (!document) {
      std::fprintf(stderr, "zorva: %s\n", why.c_str());
      return nullptr;
    }
    if (!chromium::Browser::Shared()->Headless() && browserWindow) Follow(browserWindow, document->MakeFollower());
    return document;
  });
  return true;
}

}  // namespace platform
