#include "platform/window/PageShadow.h"

#include <utility>

#include "platform/html/X11Shadows.h"
#include "platform/window/Window.h"

namespace platform {

namespace {

// The layered window that `dialog` owns (its shadow); null when none.
HWND ShadowOf(HWND dialog) {
  for (HWND hwnd = ::GetWindow(dialog, GW_HWNDFIRST); hwnd; hwnd = ::GetWindow(hwnd, GW_HWNDNEXT)) {
    if (::GetWindow(hwnd, GW_OWNER) == dialog &&
        (static_cast<DWORD>(::GetWindowLong(hwnd, GWL_EXSTYLE)) & WS_EX_LAYERED) != 0) {
      return hwnd;
    }
  }
  return nullptr;
}

}  // namespace

void FollowPageShadow(HWND dialog, unsigned long window, PageShadowState& state) {
  if (window != state.window) {
    if (state.window && state.shown) x11::RemoveShadow(state.window);
    state = PageShadowState{};
    state.window = window;
  }
  if (!window) return;
  const HWND shadow = ::IsWindowVisible(dialog) ? ShadowOf(dialog) : nullptr;
  const auto surface = shadow && ::IsWindowVisible(shadow) ? GetLayeredSurface(shadow) : std::nullopt;
  if (!surface || surface->pixels.empty()) {
    if (state.shown) x11::RemoveShadow(window);
    state.shown = false;
    state.updates = -1;
    return;
  }
  // The shadow's window moves with the dialog; its image keeps the place
  // it was drawn at.
  RECT rect{};
  RECT at{};
  ::GetWindowRect(dialog, &rect);
  ::GetWindowRect(shadow, &at);
  const POINT offset{at.left - rect.left, at.top - rect.top};
  if (state.shown && surface->updates == state.updates && offset.x == state.offsetX && offset.y == state.offsetY) {
    return;
  }
  x11::ShadowImage image;
  image.x = offset.x;
  image.y = offset.y;
  image.width = surface->size.cx;
  image.height = surface->size.cy;
  image.pixels.resize(surface->pixels.size());
  for (int row = 0; row < image.height; ++row) {
    for (int x = 0; x < image.width; ++x) {
      image
          .pixels[static_cast<std::size_t>(row) * static_cast<std::size_t>(image.width) + static_cast<std::size_t>(x)] =
          surface->Pixel(x, row);
    }
  }
  state.shown = x11::SetShadow(window, std::move(image));
  state.updates = surface->updates;
  state.offsetX = offset.x;
  state.offsetY = offset.y;
}

}  // namespace platform
