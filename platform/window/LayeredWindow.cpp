// Layered windows (a bitmap with per-pixel alpha in place of painting) and
// the desktop's composition, with the switches that make either absent.
#include "platform/window/Window.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/kernel/LastError.h"
#include "platform/window/WindowInternal.h"

using namespace platform::wm;

BOOL UpdateLayeredWindow(HWND hwnd, const POINT* position, const SIZE* size, const LayeredBitmap* bitmap,
                         const POINT* sourcePosition, COLORREF, const BLENDFUNCTION* blend, DWORD flags) {
  auto data = FindOrFail(hwnd);
  if (!data) return FALSE;
  Manager& m = M();
  RECT rect;
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    if (!(data->exStyle & WS_EX_LAYERED)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    rect = data->rect;
  }
  const POINT where = position ? *position : POINT{rect.left, rect.top};
  const SIZE extent = size ? *size : SIZE{Width(rect), Height(rect)};
  const POINT from = sourcePosition ? *sourcePosition : POINT{0, 0};
  if (extent.cx < 0 || extent.cy < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<std::uint32_t> pixels;
  if (bitmap) {
    if (!bitmap->bits || from.x < 0 || from.y < 0 || from.x + extent.cx > bitmap->width ||
        from.y + extent.cy > bitmap->height) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    pixels.resize(static_cast<std::size_t>(extent.cx) * static_cast<std::size_t>(extent.cy));
    for (LONG row = 0; row < extent.cy; ++row) {
      const std::size_t source =
          static_cast<std::size_t>(bitmap->height - 1 - (from.y + row)) * static_cast<std::size_t>(bitmap->width) +
          static_cast<std::size_t>(from.x);
      const std::size_t target = static_cast<std::size_t>(extent.cy - 1 - row) * static_cast<std::size_t>(extent.cx);
      std::copy_n(bitmap->bits + source, extent.cx, pixels.begin() + static_cast<std::ptrdiff_t>(target));
    }
  }
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    platform::LayeredSurface surface{};
    if (data->surface) surface = *data->surface;
    surface.position = where;
    surface.size = extent;
    if (bitmap) surface.pixels = std::move(pixels);
    surface.blend = blend ? *blend : BLENDFUNCTION{AC_SRC_OVER, 0, 255, 0};
    surface.flags = flags;
    ++surface.updates;
    data->surface = std::move(surface);
  }
  if (where.x != rect.left || where.y != rect.top || extent.cx != Width(rect) || extent.cy != Height(rect)) {
    SetWindowPos(hwnd, nullptr, where.x, where.y, extent.cx, extent.cy, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
  }
  return TRUE;
}

HRESULT DwmIsCompositionEnabled(BOOL* enabled) {
  if (!enabled) return E_INVALIDARG;
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  *enabled = m.composition ? TRUE : FALSE;
  return S_OK;
}

namespace platform {

void SetDesktopComposition(bool enabled) {
  std::vector<HWND> windows;
  {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    m.composition = enabled;
    windows = m.zOrder;
  }
  for (HWND hwnd : windows) ::PostMessage(hwnd, WM_DWMCOMPOSITIONCHANGED, 0, 0);
}

void SetLayeredWindowsAvailable(bool available) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.layeredAvailable = available;
}

void SetCompositionApiAvailable(bool available) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.compositionApiAvailable = available;
}

UpdateLayeredWindowProc FindUpdateLayeredWindow() {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  return m.layeredAvailable ? &::UpdateLayeredWindow : nullptr;
}

DwmIsCompositionEnabledProc FindDwmIsCompositionEnabled() {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  return m.compositionApiAvailable ? &::DwmIsCompositionEnabled : nullptr;
}

std::optional<LayeredSurface> GetLayeredSurface(HWND hwnd) {
  auto data = Find(hwnd);
  if (!data) return std::nullopt;
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  return data->surface;
}

}  // namespace platform
