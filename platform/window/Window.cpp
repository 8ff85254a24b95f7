#include "platform/window/Window.h"

#include <algorithm>
#include <cstdint>
#include <cctype>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/kernel/LastError.h"
#include "platform/window/Region.h"
#include "platform/window/RegionInternal.h"
#include "platform/window/X11HotKeys.h"

namespace {

// Lock order: the manager's mutex before the kernel layer's; it is never held
// while a window procedure runs or a message is sent.

constexpr UINT WPF_RESTORETOMAXIMIZED = 0x0002;
constexpr LONG kMinimizedPosition = -32000;
constexpr LONG kMinimizedWidth = 160;
constexpr LONG kMinimizedHeight = 28;

struct WindowData {
  std::string className;
  std::string text;
  DWORD style = 0;
  DWORD exStyle = 0;
  RECT rect{};    // screen coordinates; a child's are in its parent's client area
  RECT normal{};  // where the window goes when restored, while minimised or maximised
  POINT minPosition{-1, -1};
  POINT maxPosition{-1, -1};
  bool restoreToMaximized = false;
  HWND parent = nullptr;  // child windows only
  HWND owner = nullptr;   // top-level windows only
  HRGN region = nullptr;
  WNDPROC proc;
  bool paintPending = false;
  int moveRequests = 0;
  std::optional<platform::LayeredSurface> surface;
};

struct ClassEntry {
  std::string name;
  WNDCLASS windowClass;
};

struct HotKey {
  HWND hwnd;
  int id;
  UINT modifiers;
  UINT key;
};

// A hot key's window is gone: the display lets the key go too.
bool Released(const HotKey& key) {
  platform::x11::UngrabHotKey(key.modifiers, key.key);
  return true;
}

struct Manager {
  std::mutex mutex;
  std::unordered_map<HWND, std::shared_ptr<WindowData>> windows;
  std::vector<HWND> zOrder;  // top-level windows, frontmost first
  std::unordered_map<std::string, ClassEntry> classes;
  HWND active = nullptr;
  HWND capture = nullptr;
  LONG desktopWidth = 1920;
  LONG desktopHeight = 1080;
  bool composition = false;
  bool layeredAvailable = true;
  bool compositionApiAvailable = true;
  std::vector<HotKey> hotKeys;
  std::unordered_set<int> keysDown;
  platform::WindowMoveHandler moveHandler;
};

Manager& M() {
  static Manager* const manager = new Manager;  // windows may outlive static destruction
  return *manager;
}

const HWND kDesktop = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10001));
const HINSTANCE kModule = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x400000));

std::string Folded(const char* name) {
  std::string folded = name ? name : "";
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

LONG Width(const RECT& r) { return r.right - r.left; }
LONG Height(const RECT& r) { return r.bottom - r.top; }

// Under the manager's mutex.
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

bool SameThread(HWND hwnd) { return GetWindowThreadId(hwnd) == GetCurrentThreadId(); }

// Sends on the window's own thread; other threads' windows get it posted.
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

void MoveToFrontLocked(Manager& m, HWND hwnd) {
  auto it = std::find(m.zOrder.begin(), m.zOrder.end(), hwnd);
  if (it == m.zOrder.end()) return;
  m.zOrder.erase(it);
  m.zOrder.insert(m.zOrder.begin(), hwnd);
}

// Makes the top-level window of `hwnd` the active one and brings it forward.
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
  for (HWND owned : WindowsWhere([](const WindowData& d, HWND h) { return d.owner == h; }, hwnd)) {
    ::DestroyWindow(owned);
  }
  const LRESULT result = CallCurrent(hwnd, WM_DESTROY, wParam, lParam);
  for (HWND child : WindowsWhere([](const WindowData& d, HWND h) { return d.parent == h; }, hwnd)) {
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

HWND CreateWindowEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x,
                    int y, int width, int height, HWND parent, void*, HINSTANCE, void* param) {
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
    SendWindowPosChanged(hwnd, nullptr, rect,
                         SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
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

BOOL RegisterHotKey(HWND hwnd, int id, UINT modifiers, UINT virtualKey) {
  if (!FindOrFail(hwnd)) return FALSE;
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  std::erase_if(m.hotKeys, [&m](const HotKey& k) { return !FindLocked(m, k.hwnd) && Released(k); });
  for (const HotKey& key : m.hotKeys) {
    if ((key.modifiers == modifiers && key.key == virtualKey) || (key.hwnd == hwnd && key.id == id)) {
      SetLastError(ERROR_HOTKEY_ALREADY_REGISTERED);
      return FALSE;
    }
  }
  // Grabbed on the display too, so the key comes whichever window has the focus.
  if (!platform::x11::GrabHotKey(modifiers, virtualKey)) {
    SetLastError(ERROR_HOTKEY_ALREADY_REGISTERED);
    return FALSE;
  }
  m.hotKeys.push_back(HotKey{hwnd, id, modifiers, virtualKey});
  return TRUE;
}

BOOL UnregisterHotKey(HWND hwnd, int id) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  const auto removed = std::erase_if(m.hotKeys, [&](const HotKey& k) {
    if (k.hwnd != hwnd || k.id != id) return false;
    platform::x11::UngrabHotKey(k.modifiers, k.key);
    return true;
  });
  return removed ? TRUE : FALSE;
}

SHORT GetKeyState(int virtualKey) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  return m.keysDown.count(virtualKey) ? static_cast<SHORT>(0x8000 | 1) : static_cast<SHORT>(0);
}

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
    SetWindowPos(hwnd, nullptr, where.x, where.y, extent.cx, extent.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
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

HWND CreateWindowWithProc(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x,
                          int y, int width, int height, HWND parent, WNDPROC proc, void* param) {
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
  hwnd = CreateWindowHandle([](HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    return Route(h, message, wParam, lParam);
  });
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    m.windows.emplace(hwnd, data);
    if (!(style & WS_CHILD)) m.zOrder.insert(m.zOrder.begin(), hwnd);
  }

  CREATESTRUCT create{param,  kModule, parent,    height,         width, y,
                      x,      static_cast<LONG>(style), windowName, className, exStyle};
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

bool PressHotKey(UINT modifiers, UINT virtualKey) {
  HotKey found{};
  {
    Manager& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    auto it = std::find_if(m.hotKeys.begin(), m.hotKeys.end(), [&](const HotKey& k) {
      return k.modifiers == modifiers && k.key == virtualKey && FindLocked(m, k.hwnd);
    });
    if (it == m.hotKeys.end()) return false;
    found = *it;
  }
  return ::PostMessage(found.hwnd, WM_HOTKEY, static_cast<WPARAM>(found.id),
                       MAKELPARAM(static_cast<int>(modifiers), static_cast<int>(virtualKey))) != FALSE;
}

void SetKeyDown(int virtualKey, bool down) {
  Manager& m = M();
  std::lock_guard<std::mutex> lock(m.mutex);
  if (down) {
    m.keysDown.insert(virtualKey);
  } else {
    m.keysDown.erase(virtualKey);
  }
}

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
