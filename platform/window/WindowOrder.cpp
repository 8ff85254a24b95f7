// How windows stand to one another: parent and owner, the z-order,
// activation and the foreground window, and mouse capture.
#include "platform/window/Window.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "platform/kernel/LastError.h"
#include "platform/window/WindowInternal.h"

using namespace platform::wm;

HWND GetParent(HWND hwnd) {
  auto data = Find(hwnd);
  if (!data) return nullptr;
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  return (data->style & WS_CHILD) ? data->parent : data->owner;
}

HWND GetWindow(HWND hwnd, UINT command) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  auto data = FindLocked(m, hwnd);
  if (!data) return nullptr;
  std::erase_if(m.zOrder, [&m](HWND h) { return !FindLocked(m, h); });
  auto it = std::find(m.zOrder.begin(), m.zOrder.end(), hwnd);
  switch (command) {
    case GW_OWNER:
      return data->owner;
    case GW_HWNDFIRST:
      return m.zOrder.empty() ? nullptr : m.zOrder.front();
    case GW_HWNDLAST:
      return m.zOrder.empty() ? nullptr : m.zOrder.back();
    case GW_HWNDNEXT:
      return it == m.zOrder.end() || it + 1 == m.zOrder.end() ? nullptr : *(it + 1);
    case GW_HWNDPREV:
      return it == m.zOrder.end() || it == m.zOrder.begin() ? nullptr : *(it - 1);
    default:
      return nullptr;
  }
}

HWND GetTopWindow(HWND hwnd) {
  if (hwnd && hwnd != kDesktop) return nullptr;
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  std::erase_if(m.zOrder, [&m](HWND h) { return !FindLocked(m, h); });
  return m.zOrder.empty() ? nullptr : m.zOrder.front();
}

BOOL BringWindowToTop(HWND hwnd) { return SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }

BOOL SetForegroundWindow(HWND hwnd) {
  if (!FindOrFail(hwnd)) return FALSE;
  Activate(hwnd);
  return TRUE;
}

HWND GetForegroundWindow() { return GetActiveWindow(); }

HWND SetActiveWindow(HWND hwnd) {
  HWND previous = GetActiveWindow();
  if (!FindOrFail(hwnd)) return nullptr;
  Activate(hwnd);
  return previous;
}

HWND GetActiveWindow() {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  if (m.active && !FindLocked(m, m.active)) m.active = nullptr;
  return m.active;
}

HWND SetCapture(HWND hwnd) {
  if (!Find(hwnd)) return nullptr;
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  return std::exchange(m.capture, hwnd);
}

BOOL ReleaseCapture() {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.capture = nullptr;
  return TRUE;
}

HWND GetCapture() {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  if (m.capture && !FindLocked(m, m.capture)) m.capture = nullptr;
  return m.capture;
}
