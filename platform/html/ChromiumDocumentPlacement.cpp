// The shown page's window placed where the program's window is: bounds,
// shown, hidden or minimised, followed while kept aside, and read back where
// the desktop moved it.
#include "platform/html/ChromiumHtmlDocument.h"

#include <optional>
#include <utility>

#include "platform/html/X11WindowManager.h"
#include "platform/html/X11Windows.h"

namespace platform {

using chromium::Json;
using chromium::Reply;

void ChromiumHtmlDocument::SetBounds(int x, int y, int width, int height) {
  if (width <= 0 || height <= 0) return;
  viewportWidth_ = width;
  viewportHeight_ = height;
  shownLeft_ = x;
  shownTop_ = y;
  if (browser_->Headless()) {
    Page("Emulation.setDeviceMetricsOverride",
         {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", false}});
    return;
  }
  if (EnsureReady()) SetWindowBounds({{"left", x}, {"top", y}, {"width", width}, {"height", height}});
}

void ChromiumHtmlDocument::SetWindowBounds(const Json& bounds) {
  Reply window = browser_->Call("Browser.getWindowForTarget", {{"targetId", targetId_}});
  if (window.ok)
    browser_->Call("Browser.setWindowBounds", {{"windowId", window.result.value("windowId", 0)}, {"bounds", bounds}});
}

void ChromiumHtmlDocument::SetVisible(bool visible) {
  if (browser_->Headless() || !EnsureReady()) return;
  FoundXWindow();
  if (xWindow_ != 0 && (visible ? x11::Map(xWindow_) : x11::Withdraw(xWindow_))) return;
  // Without a window manager minimising is ignored; a window far off the
  // screen is hidden (the page reads visibilityState "hidden").
  Reply window = browser_->Call("Browser.getWindowForTarget", {{"targetId", targetId_}});
  if (!window.ok) return;
  Json bounds = window.result.value("bounds", Json::object());
  if (visible) {
    bounds = {{"left", shownLeft_}, {"top", shownTop_}};
  } else {
    if (bounds.value("left", 0) > -4000) {
      shownLeft_ = bounds.value("left", 0);
      shownTop_ = bounds.value("top", 0);
    }
    bounds = {{"left", -5000}, {"top", -5000}};
  }
  browser_->Call("Browser.setWindowBounds", {{"windowId", window.result.value("windowId", 0)}, {"bounds", bounds}});
}

ChromiumHtmlDocument::Follower ChromiumHtmlDocument::MakeFollower() {
  std::weak_ptr<bool> alive = alive_;
  return [this, alive](int x, int y, int width, int height, bool visible, bool minimized) {
    if (alive.lock()) Follow(Placed{x, y, width, height, visible, minimized});
  };
}

ChromiumHtmlDocument::XWindowGetter ChromiumHtmlDocument::MakeXWindowGetter() {
  std::weak_ptr<bool> alive = alive_;
  return [this, alive]() -> unsigned long {
    if (!alive.lock() || browser_->Headless() || closed_ || !EnsureReady()) return 0;
    return FoundXWindow();
  };
}

ChromiumHtmlDocument::PressReader ChromiumHtmlDocument::MakePressReader() {
  std::weak_ptr<bool> alive = alive_;
  return [this, alive](int* x, int* y) {
    if (!alive.lock() || !heldPress_) return false;
    *x = heldPress_->first;
    *y = heldPress_->second;
    return true;
  };
}

unsigned long ChromiumHtmlDocument::FoundXWindow() {
  if (!xWindowSought_) {
    xWindowSought_ = true;
    xWindow_ = browser_->FindXWindow(sessionId_);
  }
  return xWindow_;
}

ChromiumHtmlDocument::PlaceReader ChromiumHtmlDocument::MakePlaceReader() {
  std::weak_ptr<bool> alive = alive_;
  return [this, alive](int* x, int* y) {
    if (!alive.lock() || browser_->Headless()) return false;
    if (closed_ || setUp_ != SetUpState::Ready) {
      // Its window closed by the desktop: where it was last seen.
      if (!lastSeen_) return false;
      *x = lastSeen_->first;
      *y = lastSeen_->second;
      return true;
    }
    if (placed_ && !placed_->visible) return false;
    Reply window = browser_->Call("Browser.getWindowForTarget", {{"targetId", targetId_}});
    if (!window.ok) return false;
    const Json bounds = window.result.value("bounds", Json::object());
    if (bounds.value("windowState", std::string("normal")) != "normal") return false;
    *x = bounds.value("left", 0);
    *y = bounds.value("top", 0);
    lastSeen_ = std::make_pair(*x, *y);
    return true;
  };
}

ChromiumHtmlDocument::TitleSetter ChromiumHtmlDocument::MakeTitleSetter() {
  std::weak_ptr<bool> alive = alive_;
  return [this, alive](const std::string& title) {
    if (alive.lock()) Hold("setTitle", Json::array({title}));
  };
}

void ChromiumHtmlDocument::Follow(const Placed& asked) {
  asked_ = asked;
  Placed now = asked;
  now.visible = asked.visible && !standby_;
  Place(now);
}

void ChromiumHtmlDocument::SetStandby(bool standby) {
  if (standby_ == standby) return;
  standby_ = standby;
  if (asked_) Follow(*asked_);
}

void ChromiumHtmlDocument::Place(const Placed& now) {
  if (deferred_) {
    // A hidden window's page waits; one shown needs its page now.
    if (!now.visible) {
      deferredPlace_ = now;
      return;
    }
    deferredPlace_.reset();
    OpenDeferred();
  }
  if (placed_ && *placed_ == now) return;
  const bool wasHidden = placed_ && !placed_->visible;
  const bool wasMinimized = placed_ && placed_->visible && placed_->minimized;
  const bool moved = !placed_ || placed_->x != now.x || placed_->y != now.y || placed_->width != now.width ||
                     placed_->height != now.height;
  const bool shown = !placed_ || placed_->visible != now.visible;
  placed_ = now;
  if (now.visible && now.minimized) {
    // The window manager keeps its size and place for when it comes back.
    if (wasHidden) SetVisible(true);
    if (!browser_->Headless() && EnsureReady() && FoundXWindow() != 0) x11::Iconify(xWindow_);
    return;
  }
  if (now.visible) lastSeen_ = std::make_pair(now.x, now.y);
  if (now.visible) {
    if (wasHidden) SetVisible(true);
    if (wasMinimized && !browser_->Headless() && xWindow_ != 0) x11::Activate(xWindow_);
    if (moved || shown) SetBounds(now.x, now.y, now.width, now.height);
  } else {
    if (shown) SetVisible(false);
    // A hidden window keeps its size, not its place: the browser keeps a
    // drawing buffer of each window's size, and one never shown still had
    // the browser's default (1050x975, 12 MB).
    if (moved) SetHiddenSize(now.width, now.height);
  }
}

void ChromiumHtmlDocument::SetHiddenSize(int width, int height) {
  if (width > 0 && height > 0 && !browser_->Headless() && EnsureReady())
    SetWindowBounds({{"width", width}, {"height", height}});
}

}  // namespace platform
