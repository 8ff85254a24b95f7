// The window manager's state, shared by the files of platform/window/Window.h.
// Internal to the window layer.
//
// Lock order: the manager's mutex before the kernel layer's; it is never held
// while a window procedure runs or a message is sent.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/window/Window.h"

namespace platform::wm {

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

Manager& M();

inline const HWND kDesktop = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10001));
inline const HINSTANCE kModule = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x400000));

inline LONG Width(const RECT& r) { return r.right - r.left; }
inline LONG Height(const RECT& r) { return r.bottom - r.top; }
inline bool SameThread(HWND hwnd) { return GetWindowThreadId(hwnd) == GetCurrentThreadId(); }

// A class name as classes are looked up: letter case ignored.
std::string Folded(const char* name);

// Under the manager's mutex.
std::shared_ptr<WindowData> FindLocked(Manager& m, HWND hwnd);
RECT ScreenRectLocked(Manager& m, const WindowData& data);
HWND TopLevelOf(Manager& m, HWND hwnd);

std::shared_ptr<WindowData> Find(HWND hwnd);
// The same, with ERROR_INVALID_WINDOW_HANDLE when there is none.
std::shared_ptr<WindowData> FindOrFail(HWND hwnd);

// Sends on the window's own thread; other threads' windows get it posted.
void Notify(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// One WM_PAINT posted, however many times asked before it is handled.
void RequestPaint(HWND hwnd);
// Makes the top-level window of `hwnd` the active one and brings it forward.
void Activate(HWND hwnd);
void Deactivate(HWND hwnd);

WNDPROC CurrentProc(HWND hwnd);

// A hot key's window is gone: the display lets the key go too.
bool Released(const HotKey& key);

}  // namespace platform::wm
