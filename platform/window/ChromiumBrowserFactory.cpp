#include "platform/window/ChromiumBrowserFactory.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/html/X11Windows.h"
#include "platform/window/DHtmlDialog.h"
#include "platform/window/PageMessageBox.h"
#include "platform/window/Window.h"
#include "platform/window/Wnd.h"

namespace platform {

namespace {

// The page follows the browser window and the dialog around it; where the
// desktop moved the page's window, the dialog goes too before it is hidden
// or destroyed, so the place it stores is where the user left it.
void Follow(HWND browserWindow, const ChromiumHtmlDocument::Follower& follower,
            const ChromiumHtmlDocument::PlaceReader& reader, const ChromiumHtmlDocument::TitleSetter& title) {
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
    const bool dialog = hwnd != browserWindow;
    auto nextLook = std::make_shared<std::chrono::steady_clock::time_point>();
    *previous = SubclassWindow(hwnd, [previous, update, reader, title, dialog, nextLook](HWND h, UINT message, WPARAM wParam,
                                                                              LPARAM lParam) {
      // The dialog's text is the title the desktop shows for the page's window.
      if (dialog && message == WM_SETTEXT && lParam != 0) title(reinterpret_cast<const char*>(lParam));
      // A dialog with a timer looks now and then, so a window the desktop
      // closes is stored where it was.
      const bool look = message == WM_TIMER && std::chrono::steady_clock::now() >= *nextLook;
      if (look) *nextLook = std::chrono::steady_clock::now() + std::chrono::seconds(1);
      if (dialog && (message == WM_DESTROY || (message == WM_SHOWWINDOW && !wParam) || look) &&
          ::IsWindowVisible(h)) {
        int x = 0;
        int y = 0;
        RECT rect{};
        ::GetWindowRect(h, &rect);
        if (reader(&x, &y) && (x != rect.left || y != rect.top)) {
          ::SetWindowPos(h, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
      }
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
  if (!browser->Headless()) {
    // With a display, questions are windows of their own too, and windows
    // place themselves on the screen the user has.
    UsePageMessageBoxes();
    int width = 0;
    int height = 0;
    if (x11::ScreenSize(&width, &height)) SetDesktopSize(width, height);
  }
  SetBrowserFactory([](HWND browserWindow) -> std::unique_ptr<HtmlDocument> {
    std::string why;
    auto document = ChromiumHtmlDocument::Create(&why);
    if (!document) {
      std::fprintf(stderr, "zorva: %s\n", why.c_str());
      return nullptr;
    }
    if (!chromium::Browser::Shared()->Headless() && browserWindow) {
      Follow(browserWindow, document->MakeFollower(), document->MakePlaceReader(), document->MakeTitleSetter());
    }
    if (browserWindow) {
      // The desktop's close button on the page's window closes the dialog,
      // as a close button on its frame would.
      document->SetWindowClosedHandler([browserWindow] {
        const HWND dialog = ::GetParent(browserWindow);
        if (::IsWindow(dialog)) ::SendMessage(dialog, WM_CLOSE, 0, 0);
      });
      // The browser's own keys are keys of the dialog: its key handling sees them.
      document->SetKeyHandler([browserWindow](int key, bool ctrl, bool shift, bool alt) {
        if (!::IsWindow(browserWindow)) return false;
        const int modifiers[] = {VK_CONTROL, VK_SHIFT, VK_MENU};
        const bool down[] = {ctrl, shift, alt};
        for (int i = 0; i < 3; ++i) SetKeyDown(modifiers[i], down[i]);
        MSG msg{browserWindow, WM_KEYDOWN, static_cast<WPARAM>(key), 0, 0};
        const BOOL taken = PreTranslateWindowMessage(&msg);
        for (int modifier : modifiers) SetKeyDown(modifier, false);
        return taken != FALSE;
      });
    }
    return document;
  });
  return true;
}

}  // namespace platform
