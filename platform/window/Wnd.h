// The class library's window object (CWnd) over the window layer: a C++
// object bound to one window handle, whose messages go through a message map,
// a table from message id to member handler. Each class keeps its own table
// and names its base class's, so lookups walk from the most derived class
// down; the first entry for a message handles it, and a message without one
// gets the default handling (DefWindowProc).
//
// A class declares its table like this:
//
//   class CPlayerWindow : public CDialog {
//    protected:
//     const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
//     static const MessageMap& ThisMessageMap();
//     void OnTimer(UINT_PTR id);
//     LRESULT OnScanStatus(WPARAM, LPARAM);
//   };
//   const MessageMap& CPlayerWindow::ThisMessageMap() {
//     static const MessageMap map(&CDialog::ThisMessageMap(), {
//         OnWmTimer(&CPlayerWindow::OnTimer),
//         OnMessage(WM_APP + 59, &CPlayerWindow::OnScanStatus),
//         OnRegisteredMessage(ShowLabMessage, &CPlayerWindow::OnShowLab),
//     });
//     return map;
//   }
//
// Handlers of the ON_WM_ kind get the default handling only when they call
// Default() or the base class's handler (CWnd::OnSize and the like).
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/window/Window.h"

class CWnd;

class MessageMap {
 public:
  using Handler = std::function<LRESULT(CWnd&, WPARAM, LPARAM)>;
  struct Entry {
    UINT message;            // used when `registered` is null
    const UINT* registered;  // a registered message, read when dispatching
    Handler handler;
  };

  MessageMap(const MessageMap* base, std::initializer_list<Entry> entries) : base_(base), entries_(entries) {}

  // The entry for `message` in this table or a base class's; null when none.
  const Entry* Find(UINT message) const;

 private:
  const MessageMap* base_;
  std::vector<Entry> entries_;
};

class CWnd {
 public:
  CWnd() = default;
  // Destroys a window that is still there (the derived parts are gone by
  // then: their handlers no longer run).
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;

  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }
  // The object bound to a window of this process; null for other handles.
  static CWnd* FromHandle(HWND hwnd);
  BOOL Attach(HWND hwnd);
  HWND Detach();

  BOOL CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y, int width,
                int height, HWND parent, void* param = nullptr);
  virtual BOOL DestroyWindow();

  // The window's procedure calls this with every message.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Sees each message of this window (and of its child windows) before it is
  // dispatched; TRUE when it was handled and must not be dispatched.
  virtual BOOL PreTranslateMessage(MSG* msg);

  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The default handling of the message being handled now.
  LRESULT Default();

  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs, TIMERPROC proc = nullptr);
  BOOL KillTimer(UINT_PTR id);

  BOOL ShowWindow(int command);
  BOOL IsWindowVisible() const;
  BOOL IsIconic() const;
  BOOL IsZoomed() const;
  void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
  void MoveWindow(const RECT& rect, BOOL repaint = TRUE);
  BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
  void GetWindowRect(RECT* rect) const;
  void GetClientRect(RECT* rect) const;
  BOOL GetWindowPlacement(WINDOWPLACEMENT* placement) const;
  BOOL SetWindowPlacement(const WINDOWPLACEMENT* placement);
  DWORD GetStyle() const;
  DWORD GetExStyle() const;
  // FALSE when the style stays as it was. SWP_ flags in `flags` also run a
  // SetWindowPos with SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE.
  BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
  BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);
  int SetWindowRgn(HRGN region, BOOL redraw);
  int GetWindowRgn(HRGN region) const;
  BOOL SetForegroundWindow();
  void BringWindowToTop();
  BOOL EnableWindow(BOOL enable = TRUE);
  BOOL IsWindowEnabled() const;
  void SetWindowText(const std::string& text);
  std::string GetWindowText() const;
  void Invalidate(BOOL erase = TRUE);
  CWnd* GetParent() const;

  // The z-order places for SetWindowPos, and the desktop.
  static const CWnd wndTop;
  static const CWnd wndBottom;
  static const CWnd wndTopMost;
  static const CWnd wndNoTopMost;
  static CWnd* GetDesktopWindow();

  virtual const MessageMap& GetMessageMap() const { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap();

 protected:
  // After the window is gone (WM_NCDESTROY); the object is no longer bound.
  virtual void PostNcDestroy() {}

  // Default handlers: each runs the default handling.
  int OnCreate(CREATESTRUCT*);
  void OnDestroy();
  void OnTimer(UINT_PTR);
  void OnMove(int, int);
  void OnSize(UINT, int, int);
  void OnShowWindow(BOOL, UINT);
  void OnWindowPosChanged(WINDOWPOS*);
  void OnActivate(UINT, CWnd*, BOOL);
  void OnClose();
  void OnPaint();

 private:
  friend struct WndAccess;
  explicit CWnd(HWND pseudo) : m_hWnd(pseudo) {}

  struct Current {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  std::vector<Current> m_current;  // messages being handled, innermost last
};

// Message map entries.
template <class T>
MessageMap::Entry OnMessage(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM)) {
  return {message, nullptr, [handler](CWnd& w, WPARAM wp, LPARAM lp) { return (static_cast<T&>(w).*handler)(wp, lp); }};
}
// `id` is read when a message comes, so it may be filled after the table is made.
template <class T>
MessageMap::Entry OnRegisteredMessage(const UINT& id, LRESULT (T::*handler)(WPARAM, LPARAM)) {
  return {0, &id, [handler](CWnd& w, WPARAM wp, LPARAM lp) { return (static_cast<T&>(w).*handler)(wp, lp); }};
}
template <class T>
MessageMap::Entry OnWmCreate(int (T::*handler)(CREATESTRUCT*)) {
  return {WM_CREATE, nullptr, [handler](CWnd& w, WPARAM, LPARAM lp) -> LRESULT {
            return (static_cast<T&>(w).*handler)(reinterpret_cast<CREATESTRUCT*>(lp));
          }};
}
template <class T>
MessageMap::Entry OnWmDestroy(void (T::*handler)()) {
  return {WM_DESTROY, nullptr, [handler](CWnd& w, WPARAM, LPARAM) -> LRESULT {
            (static_cast<T&>(w).*handler)();
            return 0;
          }};
}
template <class T>
MessageMap::Entry OnWmClose(void (T::*handler)()) {
  return {WM_CLOSE, nullptr, [handler](CWnd& w, WPARAM, LPARAM) -> LRESULT {
            (static_cast<T&>(w).*handler)();
            return 0;
          }};
}
template <class T>
MessageMap::Entry OnWmPaint(void (T::*handler)()) {
  return {WM_PAINT, nullptr, [handler](CWnd& w, WPARAM, LPARAM) -> LRESULT {
            (static_cast<T&>(w).*handler)();
            return 0;
          }};
}
template <class T>
MessageMap::Entry OnWmTimer(void (T::*handler)(UINT_PTR)) {
  return {WM_TIMER, nullptr, [handler](CWnd& w, WPARAM wp, LPARAM) -> LRESULT {
            (static_cast<T&>(w).*handler)(static_cast<UINT_PTR>(wp));
            return 0;
          }};
}
template <class T>
MessageMap::Entry OnWmMove(void (T::*handler)(int, int)) {
  return {WM_MOVE, nullptr, [handler](CWnd& w, WPARAM, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*handler)(GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
            return 0;
          }};
}
template <class T>
MessageMap::Entry OnWmSize(void (T::*handler)(UINT, int, int)) {
  return {WM_SIZE, nullptr, [handler](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*handler)(static_cast<UINT>(wp), LOWORD(static_cast<std::uintptr_t>(lp)),
                                          HIWORD(static_cast<std::uintptr_t>(lp)));
            return 0;
          }};
}
template <class T>
MessageMap::Entry OnWmShowWindow(void (T::*handler)(BOOL, UINT)) {
  return {WM_SHOWWINDOW, nullptr, [handler](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*handler)(static_cast<BOOL>(wp), static_cast<UINT>(lp));
            return 0;
          }};
}
template <class T>
MessageMap::Entry OnWmWindowPosChanged(void (T::*handler)(WINDOWPOS*)) {
  return {WM_WINDOWPOSCHANGED, nullptr, [handler](CWnd& w, WPARAM, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*handler)(reinterpret_cast<WINDOWPOS*>(lp));
            return 0;
          }};
}
// (state WA_*, the other window, minimised)
template <class T>
MessageMap::Entry OnWmActivate(void (T::*handler)(UINT, CWnd*, BOOL)) {
  return {WM_ACTIVATE, nullptr, [handler](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*handler)(LOWORD(wp), CWnd::FromHandle(reinterpret_cast<HWND>(lp)), HIWORD(wp) != 0);
            return 0;
          }};
}
// (hot-key id, modifiers, virtual key)
template <class T>
MessageMap::Entry OnWmHotKey(void (T::*handler)(UINT, UINT, UINT)) {
  return {WM_HOTKEY, nullptr, [handler](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*handler)(static_cast<UINT>(wp), LOWORD(static_cast<std::uintptr_t>(lp)),
                                          HIWORD(static_cast<std::uintptr_t>(lp)));
            return 0;
          }};
}
// (hit-test code, point)
template <class T>
MessageMap::Entry OnWmNcLButtonDown(void (T::*handler)(UINT, POINT)) {
  return {WM_NCLBUTTONDOWN, nullptr, [handler](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*handler)(static_cast<UINT>(wp), POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
            return 0;
          }};
}

namespace platform {

// Passes the message to PreTranslateMessage of its window and of the
// window's parents in turn (child windows only), as the application's message
// loop does; TRUE when one of them handled it.
BOOL PreTranslateWindowMessage(MSG* msg);

// Handles every message queued and every timer due now on the calling thread,
// each through PreTranslateWindowMessage before it is dispatched, without
// blocking; each timer fires at most once per call and a WM_QUIT stays queued.
// Returns how many messages were dispatched or translated.
int PumpWindowMessages();

}  // namespace platform
