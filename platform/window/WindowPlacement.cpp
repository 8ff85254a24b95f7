// Where windows are and how they show: the show state (normal, minimised,
// maximised, hidden), position and size, the saved placement, window
// regions, and moves the user starts.
#include "platform/window/Window.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>

#include "platform/kernel/LastError.h"
#include "platform/window/Region.h"
#include "platform/window/RegionInternal.h"
#include "platform/window/WindowInternal.h"

using namespace platform::wm;

namespace {

constexpr UINT WPF_RESTORETOMAXIMIZED = 0x0002;
constexpr LONG kMinimizedPosition = -32000;
constexpr LONG kMinimizedWidth = 160;
constexpr LONG kMinimizedHeight = 28;

enum class State { Normal, Minimized, Maximized };

State StateOf(DWORD style) {
  if (style & WS_MINIMIZE) return State::Minimized;
  if (style & WS_MAXIMIZE) return State::Maximized;
  return State::Normal;
}

void SendWindowPosChanged(HWND hwnd, HWND insertAfter, const RECT& rect, UINT flags) {
  WINDOWPOS pos{hwnd, insertAfter, rect.left, rect.top, Width(rect), Height(rect), flags};
  ::SendMessage(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
}

}  // namespace

BOOL ShowWindow(HWND hwnd, int command) {
  auto data = FindOrFail(hwnd);
  if (!data) return FALSE;
  Manager& m = M();
  bool wasVisible;
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    wasVisible = (data->style & WS_VISIBLE) != 0;
  }

  if (command == SW_HIDE) {
    if (!wasVisible) return FALSE;
    ::SendMessage(hwnd, WM_SHOWWINDOW, FALSE, 0);
    RECT rect;
    {
      std::lock_guard<std::mutex> lock(m.mutex);
      data->style &= ~WS_VISIBLE;
      rect = data->rect;
    }
    SendWindowPosChanged(hwnd, nullptr, rect, SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Deactivate(hwnd);
    return TRUE;
  }

  bool activate = false;
  std::optional<State> wanted;
  switch (command) {
    case SW_SHOWNORMAL:
    case SW_SHOWDEFAULT:
      wanted = State::Normal;
      activate = true;
      break;
    case SW_SHOWNOACTIVATE:
      wanted = State::Normal;
      break;
    case SW_RESTORE:
      activate = true;
      break;
    case SW_SHOWMAXIMIZED:
      wanted = State::Maximized;
      activate = true;
      break;
    case SW_SHOWMINIMIZED:
      wanted = State::Minimized;
      activate = true;
      break;
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
      wanted = State::Minimized;
      break;
    case SW_SHOW:
      activate = true;
      break;
    case SW_SHOWNA:
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }

  RECT before;
  RECT after;
  bool stateChanged = false;
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    const State current = StateOf(data->style);
    State target = wanted.value_or(current);
    if (command == SW_RESTORE && current != State::Normal) {
      target = current == State::Minimized && data->restoreToMaximized ? State::Maximized : State::Normal;
    }
    before = data->rect;
    if (target != current && !(data->style & WS_CHILD)) {
      stateChanged = true;
      if (current == State::Normal) data->normal = data->rect;
      data->style &= ~(WS_MINIMIZE | WS_MAXIMIZE);
      switch (target) {
        case State::Normal:
          data->rect = data->normal;
          data->restoreToMaximized = false;
          break;
        case State::Maximized:
          data->rect = RECT{0, 0, m.desktopWidth, m.desktopHeight};
          data->style |= WS_MAXIMIZE;
          data->restoreToMaximized = false;
          break;
        case State::Minimized:
          data->rect = RECT{kMinimizedPosition, kMinimizedPosition, kMinimizedPosition + kMinimizedWidth,
                            kMinimizedPosition + kMinimizedHeight};
          data->style |= WS_MINIMIZE;
          data->restoreToMaximized = current == State::Maximized;
          break;
      }
    }
    after = data->rect;
  }

  if (!wasVisible) ::SendMessage(hwnd, WM_SHOWWINDOW, TRUE, 0);
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    data->style |= WS_VISIBLE;
  }
  const bool moved = before.left != after.left || before.top != after.top;
  const bool sized = Width(before) != Width(after) || Height(before) != Height(after);
  if (!wasVisible || stateChanged) {
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (!wasVisible) flags |= SWP_SHOWWINDOW;
    if (!moved) flags |= SWP_NOMOVE;
    if (!sized) flags |= SWP_NOSIZE;
    if (stateChanged) flags |= SWP_STATECHANGED;
    SendWindowPosChanged(hwnd, nullptr, after, flags);
    RequestPaint(hwnd);
  }
  if (activate && !(data->style & WS_CHILD)) Activate(hwnd);
  return wasVisible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  for (HWND h = hwnd; h;) {
    auto data = FindLocked(m, h);
    if (!data || !(data->style & WS_VISIBLE)) return FALSE;
    h = data->parent;
  }
  return hwnd ? TRUE : FALSE;
}

BOOL IsIconic(HWND hwnd) { return (static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE)) & WS_MINIMIZE) ? TRUE : FALSE; }

BOOL IsZoomed(HWND hwnd) { return (static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE)) & WS_MAXIMIZE) ? TRUE : FALSE; }

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  auto data = FindOrFail(hwnd);
  if (!data) return FALSE;
  Manager& m = M();
  RECT before;
  RECT after;
  bool shown = false;
  bool visible;
  bool child;
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    before = data->rect;
    after = before;
    if (!(flags & SWP_NOMOVE)) {
      after.right = x + Width(before);
      after.bottom = y + Height(before);
      after.left = x;
      after.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
      after.right = after.left + std::max(cx, 0);
      after.bottom = after.top + std::max(cy, 0);
    }
    data->rect = after;
    child = (data->style & WS_CHILD) != 0;
    if (!(flags & SWP_NOZORDER) && !child) {
      auto it = std::find(m.zOrder.begin(), m.zOrder.end(), hwnd);
      if (it != m.zOrder.end() && insertAfter != hwnd) {
        if (insertAfter == HWND_TOP || insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) {
          if (insertAfter == HWND_TOPMOST) data->exStyle |= WS_EX_TOPMOST;
          if (insertAfter == HWND_NOTOPMOST) data->exStyle &= ~WS_EX_TOPMOST;
          m.zOrder.erase(it);
          m.zOrder.insert(m.zOrder.begin(), hwnd);
        } else if (insertAfter == HWND_BOTTOM) {
          m.zOrder.erase(it);
          m.zOrder.push_back(hwnd);
        } else if (std::find(m.zOrder.begin(), m.zOrder.end(), insertAfter) != m.zOrder.end()) {
          m.zOrder.erase(it);
          auto behind = std::find(m.zOrder.begin(), m.zOrder.end(), insertAfter);
          m.zOrder.insert(behind + 1, hwnd);
        }
      }
    }
    if ((flags & SWP_SHOWWINDOW) && !(data->style & WS_VISIBLE)) {
      data->style |= WS_VISIBLE;
      shown = true;
    }
    if (flags & SWP_HIDEWINDOW) data->style &= ~WS_VISIBLE;
    visible = (data->style & WS_VISIBLE) != 0;
  }
  const bool moved = before.left != after.left || before.top != after.top;
  const bool sized = Width(before) != Width(after) || Height(before) != Height(after);
  UINT reported = flags & ~SWP_STATECHANGED;
  if (!moved) reported |= SWP_NOMOVE;
  if (!sized) reported |= SWP_NOSIZE;
  SendWindowPosChanged(hwnd, insertAfter, after, reported);
  if ((sized || shown) && visible && !(flags & SWP_NOREDRAW)) RequestPaint(hwnd);
  if (flags & SWP_HIDEWINDOW) Deactivate(hwnd);
  if (!(flags & SWP_NOACTIVATE) && visible && !child) Activate(hwnd);
  return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : SWP_NOREDRAW));
}

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
  if (!rect) return FALSE;
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  if (hwnd == kDesktop) {
    *rect = RECT{0, 0, m.desktopWidth, m.desktopHeight};
    return TRUE;
  }
  auto data = FindLocked(m, hwnd);
  if (!data) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  *rect = ScreenRectLocked(m, *data);
  return TRUE;
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
  RECT window;
  if (!rect || !GetWindowRect(hwnd, &window)) return FALSE;
  *rect = RECT{0, 0, Width(window), Height(window)};
  return TRUE;
}

BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* placement) {
  if (!placement) return FALSE;
  auto data = FindOrFail(hwnd);
  if (!data) return FALSE;
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  const State state = StateOf(data->style);
  placement->length = sizeof(WINDOWPLACEMENT);
  placement->flags = data->restoreToMaximized ? WPF_RESTORETOMAXIMIZED : 0;
  placement->showCmd = state == State::Minimized   ? SW_SHOWMINIMIZED
                       : state == State::Maximized ? SW_SHOWMAXIMIZED
                                                   : SW_SHOWNORMAL;
  placement->ptMinPosition = data->minPosition;
  placement->ptMaxPosition = data->maxPosition;
  placement->rcNormalPosition = state == State::Normal ? data->rect : data->normal;
  return TRUE;
}

BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* placement) {
  if (!placement || placement->length != sizeof(WINDOWPLACEMENT)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto data = FindOrFail(hwnd);
  if (!data) return FALSE;
  RECT r = placement->rcNormalPosition;
  bool normal;
  {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    // A place entirely off the desktop is brought onto it, as the desktop API does.
    if (r.right <= 0 || r.bottom <= 0 || r.left >= m.desktopWidth || r.top >= m.desktopHeight) {
      const std::int64_t w = std::clamp<std::int64_t>(std::int64_t{r.right} - r.left, 0, INT32_MAX);
      const std::int64_t h = std::clamp<std::int64_t>(std::int64_t{r.bottom} - r.top, 0, INT32_MAX);
      r.left = static_cast<LONG>(std::clamp<std::int64_t>(r.left, 0, std::max<std::int64_t>(m.desktopWidth - w, 0)));
      r.top = static_cast<LONG>(std::clamp<std::int64_t>(r.top, 0, std::max<std::int64_t>(m.desktopHeight - h, 0)));
      r.right = static_cast<LONG>(r.left + w);
      r.bottom = static_cast<LONG>(r.top + h);
    }
    data->minPosition = placement->ptMinPosition;
    data->maxPosition = placement->ptMaxPosition;
    normal = StateOf(data->style) == State::Normal;
    if (!normal) data->normal = r;
  }
  if (normal) SetWindowPos(hwnd, nullptr, r.left, r.top, Width(r), Height(r), SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(hwnd, static_cast<int>(placement->showCmd));
  return TRUE;
}

int SetWindowRgn(HWND hwnd, HRGN region, BOOL redraw) {
  auto data = FindOrFail(hwnd);
  if (!data) return 0;
  if (region && !platform::region::Adopt(region)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  HRGN old;
  {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    old = data->region;
    data->region = region;
  }
  if (old && old != region) platform::region::ReleaseAdopted(old);
  if (redraw) RequestPaint(hwnd);
  return 1;
}

int GetWindowRgn(HWND hwnd, HRGN region) {
  auto data = Find(hwnd);
  if (!data) return ERROR;
  HRGN own;
  {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    own = data->region;
  }
  return own ? CopyRgn(region, own) : ERROR;
}

namespace platform {

int WindowMoveRequests(HWND hwnd) {
  auto data = Find(hwnd);
  if (!data) return 0;
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  return data->moveRequests;
}

void SetWindowMoveHandler(WindowMoveHandler handler) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.moveHandler = std::move(handler);
}

}  // namespace platform
