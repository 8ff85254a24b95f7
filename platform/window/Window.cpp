// The window manager's state and the windows' life: classes, creation,
// the procedures and their default, destruction, styles, text, enabling,
// and the desktop's size.
#include "platform/window/Window.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/kernel/LastError.h"
#include "platform/window/RegionInternal.h"
#include "platform/window/WindowInternal.h"

namespace platform::wm {

Manager& M() {
  static Manager* const manager = new Manager;  // windows may outlive static destruction
  return *manager;
}

std::string Folded(const char* name) {
  std::string folded = name ? name : "";
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

std::shared_ptr<WindowData> FindLocked(Manager& m, HWND hwnd) {
  auto it = m.windows.find(hwnd);
  if (it == m.windows.end()) return nullptr;
  if (!::IsWindow(hwnd)) {
    // Its thread ended without destroying it.
    m.windows.erase(it);
    std::erase(m.zOrder, hwnd);
    return nullptr;
  }
  return it->second;
}

std::shared_ptr<WindowData> Find(HWND hwnd) {
  if (!hwnd) return nullptr;
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  return FindLocked(m, hwnd);
}

std::shared_ptr<WindowData> FindOrFail(HWND hwnd) {
  auto data = Find(hwnd);
  if (!data) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return data;
}

void Notify(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (SameThread(hwnd)) {
    ::SendMessage(hwnd, message, wParam, lParam);
  } else {
    ::PostMessage(hwnd, message, wParam, lParam);
  }
}

RECT ScreenRectLocked(Manager& m, const WindowData& data) {
  RECT r = data.rect;
  for (HWND parent = data.parent; parent;) {
    auto p = FindLocked(m, parent);
    if (!p) break;
    r.left += p->rect.left;
    r.right += p->rect.left;
    r.top += p->rect.top;
    r.bottom += p->rect.top;
    parent = p->parent;
  }
  return r;
}

void RequestPaint(HWND hwnd) {
  {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    auto data = FindLocked(m, hwnd);
    if (!data || data->paintPending) return;
    data->paintPending = true;
  }
  ::PostMessage(hwnd, WM_PAINT, 0, 0);
}

HWND TopLevelOf(Manager& m, HWND hwnd) {
  while (hwnd) {
    auto data = FindLocked(m, hwnd);
    if (!data) return nullptr;
    if (!(data->style & WS_CHILD)) return hwnd;
    hwnd = data->parent;
  }
  return nullptr;
}

namespace {

void MoveToFrontLocked(Manager& m, HWND hwnd) {
  auto it = std::find(m.zOrder.begin(), m.zOrder.end(), hwnd);
  if (it == m.zOrder.end()) return;
  m.zOrder.erase(it);
  m.zOrder.insert(m.zOrder.begin(), hwnd);
}

}  // namespace

void Activate(HWND hwnd) {
  HWND previous = nullptr;
  HWND target = nullptr;
  {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    target = TopLevelOf(m, hwnd);
    if (!target) return;
    MoveToFrontLocked(m, target);
    if (m.active == target) return;
    previous = m.active;
    m.active = target;
  }
  if (previous && ::IsWindow(previous)) {
    Notify(previous, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(target));
  }
  Notify(target, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(previous));
}

void Deactivate(HWND hwnd) {
  {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (m.active != hwnd) return;
    m.active = nullptr;
  }
  Notify(hwnd, WM_ACTIVATE, WA_INACTIVE, 0);
}

WNDPROC CurrentProc(HWND hwnd) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  auto data = FindLocked(m, hwnd);
  return data ? data->proc : WNDPROC();
}

}  // namespace platform::wm

using namespace platform::wm;

namespace {

LRESULT CallCurrent(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc = CurrentProc(hwnd);
  return proc ? proc(hwnd, message, wParam, lParam) : DefWindowProc(hwnd, message, wParam, lParam);
}

std::vector<HWND> WindowsWhere(bool (*test)(const WindowData&, HWND), HWND hwnd) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  std::vector<HWND> found;
  for (auto& [handle, data] : m.windows) {
    if (test(*data, hwnd)) found.push_back(handle);
  }
  // Front to back for top-level ones, then the rest.
  std::sort(found.begin(), found.end(), [&m](HWND a, HWND b) {
    auto ia = std::find(m.zOrder.begin(), m.zOrder.end(), a);
    auto ib = std::find(m.zOrder.begin(), m.zOrder.end(), b);
    return ia < ib;
  });
  return found;
}

// WM_DESTROY from the kernel layer's DestroyWindow: owned windows first, then
// the window itself, its children, and WM_NCDESTROY.
LRESULT Teardown(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  for (HWND owned : WindowsWhere([](const WindowData&d, HWND h) { return d.owner == h; }, hwnd)) {
    ::DestroyWindow(owned);
  }
  const LRESULT result = CallCurrent(hwnd, WM_DESTROY, wParam, lParam);
  for (HWND child : WindowsWhere([](const WindowData&d, HWND h) { return d.parent == h; }, hwnd)) {
    ::DestroyWindow(child);
  }
  CallCurrent(hwnd, WM_NCDESTROY, 0, 0);
  HRGN region = nullptr;
  {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    auto it = m.windows.find(hwnd);
    if (it != m.windows.end()) {
      region = it->second->region;
      m.windows.erase(it);
    }
    std::erase(m.zOrder, hwnd);
    if (m.active == hwnd) m.active = nullptr;
    if (m.capture == hwnd) m.capture = nullptr;
    std::erase_if(m.hotKeys, [hwnd](const HotKey& k) { return k.hwnd == hwnd && Released(k); });
  }
  if (region) platform::region::ReleaseAdopted(region);
  return result;
}

// The kernel-level procedure of every layer window.
LRESULT Route(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) return Teardown(hwnd, wParam, lParam);
  if (message == WM_PAINT) {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (auto data = FindLocked(m, hwnd)) data->paintPending = false;
  }
  return CallCurrent(hwnd, message, wParam, lParam);
}

}  // namespace

ATOM RegisterClass(const WNDCLASS* windowClass) {
  if (!windowClass || !windowClass->lpszClassName || !*windowClass->lpszClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  const std::string key = Folded(windowClass->lpszClassName);
  if (m.classes.count(key)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  ClassEntry entry{windowClass->lpszClassName, *windowClass};
  m.classes.emplace(key, std::move(entry));
  auto& stored = m.classes.at(key);
  stored.windowClass.lpszClassName = stored.name.c_str();
  stored.windowClass.lpszMenuName = nullptr;
  return static_cast<ATOM>(0xC000 + m.classes.size());
}

BOOL UnregisterClass(const char* className, HINSTANCE) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  if (m.classes.erase(Folded(className)) == 0) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return FALSE;
  }
  return TRUE;
}

HINSTANCE GetModuleHandle(const char* moduleName) { return moduleName ? nullptr : kModule; }

HCURSOR LoadCursor(HINSTANCE, const char* cursorName) {
  return reinterpret_cast<HCURSOR>(const_cast<char*>(cursorName));
}

HWND CreateWindowEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y, int width,
                    int height, HWND parent, void*, HINSTANCE, void* param) {
  WNDPROC proc;
  {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    auto it = m.classes.find(Folded(className));
    if (it == m.classes.end()) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    proc = it->second.windowClass.lpfnWndProc;
  }
  return platform::CreateWindowWithProc(exStyle, className, windowName, style, x, y, width, height, parent,
                                        std::move(proc), param);
}

LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_WINDOWPOSCHANGED: {
      const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
      auto data = Find(hwnd);
      if (!pos || !data) return 0;
      if (!(pos->flags & SWP_NOMOVE)) ::SendMessage(hwnd, WM_MOVE, 0, MAKELPARAM(pos->x, pos->y));
      if (!(pos->flags & SWP_NOSIZE) || (pos->flags & SWP_STATECHANGED)) {
        WPARAM type = SIZE_RESTORED;
        if (data->style & WS_MINIMIZE) type = SIZE_MINIMIZED;
        if (data->style & WS_MAXIMIZE) type = SIZE_MAXIMIZED;
        ::SendMessage(hwnd, WM_SIZE, type, MAKELPARAM(pos->cx, pos->cy));
      }
      return 0;
    }
    case WM_NCLBUTTONDOWN:
      if (wParam == HTCAPTION) {
        platform::WindowMoveHandler handler;
        {
          Manager& m = M();
          std::lock_guard<std::mutex> lock(m.mutex);
          auto data = FindLocked(m, hwnd);
          if (!data) return 0;
          ++data->moveRequests;
          handler = m.moveHandler;
        }
        if (handler) handler(hwnd);
      }
      return 0;
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_MOVE:
          return DefWindowProc(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
        case SC_MINIMIZE:
          ShowWindow(hwnd, SW_MINIMIZE);
          return 0;
        case SC_MAXIMIZE:
          ShowWindow(hwnd, SW_MAXIMIZE);
          return 0;
        case SC_RESTORE:
          ShowWindow(hwnd, SW_RESTORE);
          return 0;
        case SC_CLOSE:
          ::SendMessage(hwnd, WM_CLOSE, 0, 0);
          return 0;
        default:
          return 0;
      }
    case WM_CLOSE:
      ::DestroyWindow(hwnd);
      return 0;
    default:
      return 0;
  }
}

LRESULT CallWindowProc(const WNDPROC& proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(hwnd, message, wParam, lParam) : DefWindowProc(hwnd, message, wParam, lParam);
}

HWND GetDesktopWindow() { return kDesktop; }

HWND FindWindow(const char* className, const char* windowName) {
  const std::string wanted = Folded(className ? className : "");
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  for (HWND hwnd : m.zOrder) {
    auto data = FindLocked(m, hwnd);
    if (!data || Folded(data->className.c_str()) != wanted) continue;
    if (windowName && data->text != windowName) continue;
    return hwnd;
  }
  return nullptr;
}

int GetSystemMetrics(int index) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  switch (index) {
    case SM_CXSCREEN:
      return m.desktopWidth;
    case SM_CYSCREEN:
      return m.desktopHeight;
    default:
      return 0;
  }
}

LONG GetWindowLong(HWND hwnd, int index) {
  auto data = FindOrFail(hwnd);
  if (!data) return 0;
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  switch (index) {
    case GWL_STYLE:
      return static_cast<LONG>(data->style);
    case GWL_EXSTYLE:
      return static_cast<LONG>(data->exStyle);
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

LONG SetWindowLong(HWND hwnd, int index, LONG value) {
  auto data = FindOrFail(hwnd);
  if (!data) return 0;
  if (index != GWL_STYLE && index != GWL_EXSTYLE) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  STYLESTRUCT change{};
  {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    DWORD& field = index == GWL_STYLE ? data->style : data->exStyle;
    change.styleOld = field;
    change.styleNew = static_cast<DWORD>(value);
    field = change.styleNew;
  }
  ::SendMessage(hwnd, WM_STYLECHANGED, static_cast<WPARAM>(static_cast<LPARAM>(index)),
                reinterpret_cast<LPARAM>(&change));
  return static_cast<LONG>(change.styleOld);
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  auto data = FindOrFail(hwnd);
  if (!data) return FALSE;
  bool wasDisabled;
  {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    wasDisabled = (data->style & WS_DISABLED) != 0;
    if (enable) {
      data->style &= ~WS_DISABLED;
    } else {
      data->style |= WS_DISABLED;
    }
  }
  if (wasDisabled == !enable) return wasDisabled ? TRUE : FALSE;
  ::SendMessage(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  return wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
  auto data = Find(hwnd);
  if (!data) return FALSE;
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  return (data->style & WS_DISABLED) ? FALSE : TRUE;
}

// The text is the window's at once; on the window's own thread its procedure
// is then told with WM_SETTEXT (lParam the text), as hooks that show the
// title elsewhere need.
BOOL SetWindowText(HWND hwnd, const char* text) {
  auto data = FindOrFail(hwnd);
  if (!data) return FALSE;
  const std::string now = text ? text : "";
  {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (data->text == now) return TRUE;
    data->text = now;
  }
  if (SameThread(hwnd)) ::SendMessage(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(now.c_str()));
  return TRUE;
}

std::string GetWindowText(HWND hwnd) {
  auto data = Find(hwnd);
  if (!data) return std::string();
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  return data->text;
}

BOOL InvalidateRect(HWND hwnd, const RECT*, BOOL) {
  if (!FindOrFail(hwnd)) return FALSE;
  RequestPaint(hwnd);
  return TRUE;
}

namespace platform {

WNDPROC SubclassWindow(HWND hwnd, WNDPROC proc) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  auto data = FindLocked(m, hwnd);
  if (!data) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return WNDPROC();
  }
  return std::exchange(data->proc, std::move(proc));
}

WNDPROC GetWindowProc(HWND hwnd) { return CurrentProc(hwnd); }

HWND CreateWindowWithProc(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y,
                          int width, int height, HWND parent, WNDPROC proc, void* param) {
  auto data = std::make_shared<WindowData>();
  data->className = className ? className : "";
  data->text = windowName ? windowName : "";
  data->style = style & ~WS_VISIBLE;
  data->exStyle = exStyle;
  data->proc = std::move(proc);
  if (x == CW_USEDEFAULT) x = 0;
  if (y == CW_USEDEFAULT) y = 0;
  if (width == CW_USEDEFAULT) width = 0;
  if (height == CW_USEDEFAULT) height = 0;
  data->rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
  data->normal = data->rect;

  Manager& m = M();
  HWND hwnd;
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    if (style & WS_CHILD) {
      if (!FindLocked(m, parent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
      data->parent = parent;
    } else if (parent && parent != kDesktop) {
      data->owner = TopLevelOf(m, parent);
    }
  }
  hwnd = CreateWindowHandle(
      [](HWND h, UINT message, WPARAM wParam, LPARAM lParam) { return Route(h, message, wParam, lParam); });
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    m.windows.emplace(hwnd, data);
    if (!(style & WS_CHILD)) m.zOrder.insert(m.zOrder.begin(), hwnd);
  }

  CREATESTRUCT create{param,      kModule,   parent, height, width, y, x, static_cast<LONG>(style),
                      windowName, className, exStyle};
  if (::SendMessage(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    ::DestroyWindow(hwnd);
    return nullptr;
  }
  if (!::IsWindow(hwnd)) return nullptr;
  ::SendMessage(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height));
  ::SendMessage(hwnd, WM_MOVE, 0, MAKELPARAM(x, y));
  if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
  return hwnd;
}

void SetDesktopSize(int width, int height) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.desktopWidth = std::max(width, 0);
  m.desktopHeight = std::max(height, 0);
}

}  // namespace platform
