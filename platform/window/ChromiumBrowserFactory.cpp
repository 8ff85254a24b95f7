#include "platform/window/ChromiumBrowserFactory.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/html/X11WindowManager.h"
#include "platform/html/X11Windows.h"
#include "platform/window/DHtmlDialog.h"
#include "platform/window/PageMessageBox.h"
#include "platform/window/PageShadow.h"
#include "platform/window/Region.h"
#include "platform/window/RegionInternal.h"
#include "platform/window/Window.h"
#include "platform/window/Wnd.h"

namespace platform {

namespace {

// The pages' X windows by the dialog that shows each, so a window owned by
// another is kept above its owner's, and a page drag moves the right one.
std::map<HWND, ChromiumHtmlDocument::XWindowGetter>& TheXWindows() {
  static auto* const windows = new std::map<HWND, ChromiumHtmlDocument::XWindowGetter>;  // user-interface thread
  return *windows;
}

// And where the button now held on each was pressed, for a page drag.
std::map<HWND, ChromiumHtmlDocument::PressReader>& ThePresses() {
  static auto* const presses = new std::map<HWND, ChromiumHtmlDocument::PressReader>;  // user-interface thread
  return *presses;
}

unsigned long XWindowOf(HWND dialog) {
  auto found = TheXWindows().find(dialog);
  return found == TheXWindows().end() ? 0 : found->second();
}

// The window's region as the rectangles of its bands (empty: none).
std::vector<x11::Rect> RegionRectangles(HWND hwnd) {
  std::vector<x11::Rect> rectangles;
  HRGN copy = ::CreateRectRgn(0, 0, 0, 0);
  if (::GetWindowRgn(hwnd, copy) != ERROR) {
    if (auto shape = region::ShapeOf(copy)) {
      for (const region::Band& band : shape->bands) {
        for (const auto& [from, to] : band.spans) {
          rectangles.push_back(x11::Rect{from, band.top, to - from, band.bottom - band.top});
        }
      }
    }
  }
  ::DeleteObject(copy);
  return rectangles;
}

// What the desktop's window manager is told of a shown page's window: no
// frame (the page draws it all), the dialog's region as its outline, and its
// owner's window as the one it stays above. Told again when the page's
// window is another (made again) or these change.
struct Dressing {
  unsigned long window = 0;
  unsigned long owner = 0;
  std::vector<x11::Rect> outline;
  bool iconic = false;  // the window manager's state at the last look
};

void Dress(HWND dialog, Dressing& dressed) {
  const unsigned long window = XWindowOf(dialog);
  if (!window) return;
  const bool fresh = window != dressed.window;
  if (fresh) {
    dressed = Dressing{};
    dressed.window = window;
    x11::SetUndecorated(window);
  }
  const unsigned long owner = XWindowOf(::GetWindow(dialog, GW_OWNER));
  if (fresh || owner != dressed.owner) {
    dressed.owner = owner;
    x11::SetOwner(window, owner);
  }
  // Not every window manager keeps an owned window above its owner.
  if (owner && x11::StackedBelow(window, owner)) x11::Raise(window);
  std::vector<x11::Rect> outline = RegionRectangles(dialog);
  if ((fresh && !outline.empty()) || outline != dressed.outline) {
    x11::SetShape(window, outline);
    dressed.outline = std::move(outline);
  }
}

// The shown windows that `owner` owns go above it again.
void RaiseOwned(HWND owner) {
  for (const auto& [dialog, window] : TheXWindows()) {
    if (::GetWindow(dialog, GW_OWNER) != owner || !::IsWindowVisible(dialog)) continue;
    const unsigned long mine = window();
    const unsigned long theirs = XWindowOf(owner);
    if (mine && theirs && x11::StackedBelow(mine, theirs)) x11::Raise(mine);
  }
}

// Minimised or brought back on the desktop (the task bar, the window
// manager's keys): the dialog follows. Only a change of the window
// manager's state counts, so the program's own requests are not undone
// while the window manager carries them out.
void FollowIconicState(HWND dialog, Dressing& dressed) {
  if (!dressed.window || !::IsWindowVisible(dialog)) return;
  const bool iconic = x11::IsIconic(dressed.window);
  if (iconic == dressed.iconic) return;
  dressed.iconic = iconic;
  if (iconic != (::IsIconic(dialog) != FALSE)) ::ShowWindow(dialog, iconic ? SW_MINIMIZE : SW_RESTORE);
}

// The page follows the browser window and the dialog around it; where the
// desktop moved the page's window, the dialog goes too before it is hidden
// or destroyed, so the place it stores is where the user left it.
void Follow(HWND browserWindow, const ChromiumHtmlDocument::Follower& follower,
            const ChromiumHtmlDocument::PlaceReader& reader, const ChromiumHtmlDocument::TitleSetter& title) {
  const HWND dialogWindow = ::GetParent(browserWindow);
  auto dressed = std::make_shared<Dressing>();
  auto shadow = std::make_shared<PageShadowState>();
  auto update = [browserWindow, dialogWindow, follower, dressed, shadow] {
    if (!::IsWindow(browserWindow)) return;
    RECT rect{};
    ::GetWindowRect(browserWindow, &rect);
    const bool visible = ::IsWindowVisible(browserWindow) != FALSE;
    const bool minimized = dialogWindow && ::IsIconic(dialogWindow);
    if (minimized && dialogWindow) {
      // Its size and place are those it comes back to.
      WINDOWPLACEMENT placement{};
      placement.length = sizeof placement;
      ::GetWindowPlacement(dialogWindow, &placement);
      rect = placement.rcNormalPosition;
    }
    follower(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, visible, minimized);
    if (visible && dialogWindow) Dress(dialogWindow, *dressed);
    if (dialogWindow) FollowPageShadow(dialogWindow, XWindowOf(dialogWindow), *shadow);
  };
  for (HWND hwnd : {browserWindow, dialogWindow}) {
    if (!hwnd) continue;
    auto previous = std::make_shared<WNDPROC>();
    const bool dialog = hwnd != browserWindow;
    auto nextLook = std::make_shared<std::chrono::steady_clock::time_point>();
    *previous = SubclassWindow(hwnd, [previous, update, reader, title, dialog, nextLook, dressed, shadow](
                                         HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
      // The dialog's text is the title the desktop shows for the page's window.
      if (dialog && message == WM_SETTEXT && lParam != 0) title(reinterpret_cast<const char*>(lParam));
      // A dialog with a timer looks now and then, so a window the desktop
      // closes is stored where it was.
      const bool look = message == WM_TIMER && std::chrono::steady_clock::now() >= *nextLook;
      if (look) *nextLook = std::chrono::steady_clock::now() + std::chrono::seconds(1);
      if (dialog && (message == WM_DESTROY || (message == WM_SHOWWINDOW && !wParam) || look) && ::IsWindowVisible(h)) {
        int x = 0;
        int y = 0;
        RECT rect{};
        ::GetWindowRect(h, &rect);
        if (reader(&x, &y) && (x != rect.left || y != rect.top)) {
          ::SetWindowPos(h, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
      }
      if (dialog && message == WM_TIMER) FollowIconicState(h, *dressed);
      if (dialog && look) RaiseOwned(h);
      // Brought forward by the program (a second start): so is its window.
      if (dialog && message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE && dressed->window &&
          ::IsWindowVisible(h) && !::IsIconic(h)) {
        x11::Activate(dressed->window);
        RaiseOwned(h);
      }
      if (dialog && message == WM_NCDESTROY) {
        FollowPageShadow(h, 0, *shadow);
        TheXWindows().erase(h);
        ThePresses().erase(h);
      }
      const LRESULT result = CallWindowProc(*previous, h, message, wParam, lParam);
      switch (message) {
        case WM_WINDOWPOSCHANGED:
        case WM_SHOWWINDOW:
        case WM_MOVE:
        case WM_SIZE:
        case WM_STYLECHANGED:
        case WM_PAINT:  // after a new region
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

unsigned long PageXWindow(HWND dialog) { return XWindowOf(dialog); }

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
    // A drag on a page moves its window as a drag on a title bar does.
    SetWindowMoveHandler([](HWND hwnd) {
      for (HWND top = hwnd; top; top = ::GetParent(top)) {
        if (const unsigned long window = XWindowOf(top)) {
          // From the press, not from where the pointer is by now: what it
          // travelled while the page told of the drag moves the window too.
          int x = 0;
          int y = 0;
          auto press = ThePresses().find(top);
          if (press != ThePresses().end() && press->second(&x, &y)) {
            x11::BeginMove(window, x11::Point{x, y});
          } else {
            x11::BeginMove(window);
          }
          return;
        }
      }
    });
  }
  SetBrowserFactory([](HWND browserWindow) -> std::unique_ptr<HtmlDocument> {
    std::string why;
    auto document = ChromiumHtmlDocument::Create(&why);
    if (!document) {
      std::fprintf(stderr, "zorva: %s\n", why.c_str());
      return nullptr;
    }
    if (!chromium::Browser::Shared()->Headless() && browserWindow) {
      if (const HWND dialog = ::GetParent(browserWindow)) {
        TheXWindows()[dialog] = document->MakeXWindowGetter();
        ThePresses()[dialog] = document->MakePressReader();
      }
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
