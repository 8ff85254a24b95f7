// The window manager of the desktop API over the kernel layer's window handles
// (platform/kernel/Messages.h): window classes, owner and parent, styles, show
// state, position and size, placement, window regions, z-order, activation and
// foreground, capture, hot keys, the keyboard state and the desktop's size.
// Windows are handles with a procedure; nothing is drawn on a screen. The
// messages the desktop API sends for these calls are sent here too (WM_CREATE,
// WM_SHOWWINDOW, WM_WINDOWPOSCHANGED and from it WM_MOVE and WM_SIZE,
// WM_STYLECHANGED, WM_ACTIVATE, WM_DESTROY, WM_NCDESTROY, WM_PAINT).
//
// Window frames take no room: the client area is the whole window, and the
// desktop has no task bar, so its work area is the whole desktop.
//
// Destroying a window (DestroyWindow of the kernel layer) destroys the windows
// it owns first, then sends it WM_DESTROY, destroys its child windows and
// sends it WM_NCDESTROY. Windows of this layer are subclassed with
// SubclassWindow, never with the kernel layer's SetWindowProc.
//
// A layer window is used on the thread that made it, except PostMessage and
// the reading calls, which any thread may make.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/kernel/Messages.h"
#include "platform/window/WinUser.h"

// Window classes: a name and a procedure. A second class of one name is refused
// (ERROR_CLASS_ALREADY_EXISTS).
ATOM RegisterClass(const WNDCLASS* windowClass);
BOOL UnregisterClass(const char* className, HINSTANCE instance);
HINSTANCE GetModuleHandle(const char* moduleName);
HCURSOR LoadCursor(HINSTANCE instance, const char* cursorName);
inline const char* const IDC_ARROW = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(32512));

// `parent` is the parent of a WS_CHILD window and otherwise the owner (its
// top-level window; the desktop and null mean none). CW_USEDEFAULT gives 0.
// Sends WM_CREATE (-1 destroys the window and gives null), then WM_SIZE and
// WM_MOVE; a WS_VISIBLE window is then shown as by ShowWindow(SW_SHOW).
HWND CreateWindowEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y, int width,
                    int height, HWND parent, void* menu, HINSTANCE instance, void* param);
LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProc(const WNDPROC& proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The desktop: not a window of this process, but a handle that the calls below
// answer for (its rectangle is the desktop's).
HWND GetDesktopWindow();
int GetSystemMetrics(int index);
// The frontmost top-level window of the class (letter case ignored) whose
// text is `windowName` (null: any text); null when there is none.
HWND FindWindow(const char* className, const char* windowName);

LONG GetWindowLong(HWND hwnd, int index);
// GWL_STYLE and GWL_EXSTYLE; sends WM_STYLECHANGED (wParam the index, lParam
// a STYLESTRUCT). Setting or clearing WS_VISIBLE here shows or hides the window
// without any other message. Returns the old value (0 and
// ERROR_INVALID_INDEX for another index).
LONG SetWindowLong(HWND hwnd, int index, LONG value);

BOOL ShowWindow(HWND hwnd, int command);
// WS_VISIBLE set on the window and on every parent.
BOOL IsWindowVisible(HWND hwnd);
BOOL IsIconic(HWND hwnd);
BOOL IsZoomed(HWND hwnd);
BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
// Screen coordinates.
BOOL GetWindowRect(HWND hwnd, RECT* rect);
BOOL GetClientRect(HWND hwnd, RECT* rect);
// showCmd is SW_SHOWMAXIMIZED, SW_SHOWMINIMIZED or SW_SHOWNORMAL (a hidden
// window gives its state, never SW_HIDE); rcNormalPosition is where the window
// goes when restored.
BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* placement);
// Takes the normal rectangle (moving the window there unless it is minimised
// or maximised) and then applies showCmd as ShowWindow does. FALSE for a
// length other than 44.
BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* placement);
// The window takes the region (in window coordinates; null removes it) and
// frees the one it had. 0 for a dead window or a bad region.
int SetWindowRgn(HWND hwnd, HRGN region, BOOL redraw);
// Copies the window's region into `region`; ERROR when the window has none.
int GetWindowRgn(HWND hwnd, HRGN region);

// The parent of a child window, the owner of any other.
HWND GetParent(HWND hwnd);
// GW_OWNER, and the top-level z-order: GW_HWNDFIRST, GW_HWNDLAST, GW_HWNDNEXT
// (the window behind), GW_HWNDPREV (the one in front).
HWND GetWindow(HWND hwnd, UINT command);
// The frontmost top-level window (hwnd null or the desktop).
HWND GetTopWindow(HWND hwnd);
BOOL BringWindowToTop(HWND hwnd);
// Activation and foreground are one here: the active window gets
// WM_ACTIVATE(WA_ACTIVE, the previous one), the previous one
// WM_ACTIVATE(WA_INACTIVE, the new one); the window comes to the front.
BOOL SetForegroundWindow(HWND hwnd);
HWND GetForegroundWindow();
HWND SetActiveWindow(HWND hwnd);
HWND GetActiveWindow();
BOOL EnableWindow(HWND hwnd, BOOL enable);
BOOL IsWindowEnabled(HWND hwnd);
BOOL SetWindowText(HWND hwnd, const char* text);
std::string GetWindowText(HWND hwnd);
// Marks the window for painting: one WM_PAINT is posted to it (until it has
// been handled). Resizing and showing a window do this unless SWP_NOREDRAW.
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);

HWND SetCapture(HWND hwnd);
BOOL ReleaseCapture();
HWND GetCapture();

// FALSE (ERROR_HOTKEY_ALREADY_REGISTERED) when the key is taken. The window
// gets WM_HOTKEY (wParam the id, lParam MAKELPARAM(modifiers, key)) when the
// key is pressed (platform::PressHotKey).
BOOL RegisterHotKey(HWND hwnd, int id, UINT modifiers, UINT virtualKey);
BOOL UnregisterHotKey(HWND hwnd, int id);

// The high bit is set while the key is down (platform::SetKeyDown).
SHORT GetKeyState(int virtualKey);

// The image of a layered window (a DIB section's bits): 32 bits per pixel,
// premultiplied ARGB, rows bottom-up.
struct LayeredBitmap {
  int width;
  int height;
  const std::uint32_t* bits;
};

// Gives a WS_EX_LAYERED window its image, moves it to `position` and sizes it
// to `size` (either may be null: unchanged). The image is cut to `size` from
// `sourcePosition`. FALSE for other windows or when `size` exceeds the image.
BOOL UpdateLayeredWindow(HWND hwnd, const POINT* position, const SIZE* size, const LayeredBitmap* bitmap,
                         const POINT* sourcePosition, COLORREF colorKey, const BLENDFUNCTION* blend, DWORD flags);
using UpdateLayeredWindowProc = BOOL (*)(HWND, const POINT*, const SIZE*, const LayeredBitmap*, const POINT*, COLORREF,
                                         const BLENDFUNCTION*, DWORD);

// Desktop composition: off on this desktop unless set (platform::SetDesktopComposition).
HRESULT DwmIsCompositionEnabled(BOOL* enabled);
using DwmIsCompositionEnabledProc = HRESULT (*)(BOOL*);

namespace platform {

// Replaces the window's procedure and returns the one it had (empty for a
// window that is not one of this layer's). The new procedure passes messages
// on with CallWindowProc(old, ...).
WNDPROC SubclassWindow(HWND hwnd, WNDPROC proc);
WNDPROC GetWindowProc(HWND hwnd);

// Makes a window with its own procedure instead of a class's (how the class
// library makes its windows).
HWND CreateWindowWithProc(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y,
                          int width, int height, HWND parent, WNDPROC proc, void* param);

// The desktop's size in pixels (1920 x 1080 unless set).
void SetDesktopSize(int width, int height);

// Turns desktop composition on or off and posts WM_DWMCOMPOSITIONCHANGED to
// every top-level window.
void SetDesktopComposition(bool enabled);

// Which of the desktop API's optional calls this desktop offers: the layered
// windows of UpdateLayeredWindow and the composition query. Both are there
// unless a test takes them away.
void SetLayeredWindowsAvailable(bool available);
void SetCompositionApiAvailable(bool available);
// The calls themselves, looked up as the desktop API's library would be (null
// when not offered).
UpdateLayeredWindowProc FindUpdateLayeredWindow();
DwmIsCompositionEnabledProc FindDwmIsCompositionEnabled();

// What a layered window was last given by UpdateLayeredWindow.
struct LayeredSurface {
  POINT position;
  SIZE size;
  std::vector<std::uint32_t> pixels;  // size.cx * size.cy, premultiplied ARGB, bottom-up
  BLENDFUNCTION blend;
  DWORD flags;
  int updates;  // how many times it was given an image
  // Pixel of row `row` counted from the top.
  std::uint32_t Pixel(int x, int row) const {
    return pixels[static_cast<std::size_t>(size.cy - 1 - row) * static_cast<std::size_t>(size.cx) +
                  static_cast<std::size_t>(x)];
  }
};
// Nothing draws layered windows on this desktop yet: their image stays here.
std::optional<LayeredSurface> GetLayeredSurface(HWND hwnd);

// The user pressed a hot key: posts WM_HOTKEY to the window that registered
// it. False when no window has it.
bool PressHotKey(UINT modifiers, UINT virtualKey);
void SetKeyDown(int virtualKey, bool down);

// A button press on a window's title area (WM_NCLBUTTONDOWN with HTCAPTION,
// or SC_MOVE) asks the desktop to move the window with the mouse. The desktop
// here has no mouse: each request is counted, and a handler installed here
// (a host that can move windows) is called with it.
int WindowMoveRequests(HWND hwnd);
using WindowMoveHandler = std::function<void(HWND)>;
void SetWindowMoveHandler(WindowMoveHandler handler);

}  // namespace platform
