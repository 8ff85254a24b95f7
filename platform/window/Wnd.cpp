#include "platform/window/Wnd.h"

#include <mutex>
#include <set>
#include <unordered_map>
#include <utility>

namespace {

struct Bindings {
  std::mutex mutex;
  std::unordered_map<HWND, CWnd*> objects;
};

Bindings& B() {
  static Bindings* const bindings = new Bindings;
  return *bindings;
}

void Bind(HWND hwnd, CWnd* object) {
  Bindings& b = B();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.objects[hwnd] = object;
}

void Unbind(HWND hwnd, const CWnd* object) {
  Bindings& b = B();
  std::lock_guard<std::mutex> lock(b.mutex);
  auto it = b.objects.find(hwnd);
  if (it != b.objects.end() && it->second == object) b.objects.erase(it);
}

// The object whose window is being made on this thread: it is bound at the
// window's first message, before CreateEx returns.
thread_local CWnd* creating = nullptr;

}  // namespace

struct WndAccess {
  static LRESULT Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* object = CWnd::FromHandle(hwnd);
    if (!object && creating) {
      object = std::exchange(creating, nullptr);
      object->m_hWnd = hwnd;
      Bind(hwnd, object);
    }
    if (!object) return ::DefWindowProc(hwnd, message, wParam, lParam);
    const LRESULT result = object->WindowProc(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
      Unbind(hwnd, object);
      object->m_hWnd = nullptr;
      object->PostNcDestroy();
    }
    return result;
  }
};

const MessageMap::Entry* MessageMap::Find(UINT message) const {
  for (const MessageMap* map = this; map; map = map->base_) {
    for (const Entry& entry : map->entries_) {
      const UINT id = entry.registered ? *entry.registered : entry.message;
      if (id == message && (id != 0 || !entry.registered)) return &entry;
    }
  }
  return nullptr;
}

const CWnd CWnd::wndTop{HWND_TOP};
const CWnd CWnd::wndBottom{HWND_BOTTOM};
const CWnd CWnd::wndTopMost{HWND_TOPMOST};
const CWnd CWnd::wndNoTopMost{HWND_NOTOPMOST};

CWnd* CWnd::GetDesktopWindow() {
  static CWnd desktop{::GetDesktopWindow()};
  return &desktop;
}

CWnd::~CWnd() {
  HWND hwnd = m_hWnd;
  if (!hwnd || FromHandle(hwnd) != this) return;
  if (::IsWindow(hwnd) && GetWindowThreadId(hwnd) == GetCurrentThreadId()) ::DestroyWindow(hwnd);
  Unbind(hwnd, this);
  m_hWnd = nullptr;
}

CWnd* CWnd::FromHandle(HWND hwnd) {
  if (!hwnd) return nullptr;
  Bindings& b = B();
  std::lock_guard<std::mutex> lock(b.mutex);
  auto it = b.objects.find(hwnd);
  return it == b.objects.end() ? nullptr : it->second;
}

BOOL CWnd::Attach(HWND hwnd) {
  if (m_hWnd || !::IsWindow(hwnd) || FromHandle(hwnd)) return FALSE;
  m_hWnd = hwnd;
  Bind(hwnd, this);
  return TRUE;
}

HWND CWnd::Detach() {
  HWND hwnd = std::exchange(m_hWnd, nullptr);
  if (hwnd) Unbind(hwnd, this);
  return hwnd;
}

const MessageMap& CWnd::ThisMessageMap() {
  static const MessageMap map(nullptr, {});
  return map;
}

BOOL CWnd::CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y, int width,
                    int height, HWND parent, void* param) {
  if (m_hWnd) return FALSE;
  CWnd* const outer = std::exchange(creating, this);
  HWND hwnd = platform::CreateWindowWithProc(exStyle, className, windowName, style, x, y, width, height, parent,
                                             &WndAccess::Proc, param);
  if (creating == this) creating = outer;
  return hwnd && m_hWnd == hwnd ? TRUE : FALSE;
}

BOOL CWnd::DestroyWindow() {
  if (!m_hWnd) return FALSE;
  return ::DestroyWindow(m_hWnd);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  m_current.push_back(Current{message, wParam, lParam});
  struct Pop {
    std::vector<Current>& current;
    ~Pop() { current.pop_back(); }
  } pop{m_current};
  if (const MessageMap::Entry* entry = GetMessageMap().Find(message)) {
    return entry->handler(*this, wParam, lParam);
  }
  return DefWindowProc(message, wParam, lParam);
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProc(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
  if (m_current.empty()) return 0;
  const Current current = m_current.back();
  return DefWindowProc(current.message, current.wParam, current.lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return ::PostMessage(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return ::SendMessage(m_hWnd, message, wParam, lParam);
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs, TIMERPROC proc) { return ::SetTimer(m_hWnd, id, elapseMs, proc); }

BOOL CWnd::KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }

BOOL CWnd::ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }
BOOL CWnd::IsZoomed() const { return ::IsZoomed(m_hWnd); }

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
  ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}

void CWnd::MoveWindow(const RECT& rect, BOOL repaint) {
  ::MoveWindow(m_hWnd, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, repaint);
}

BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags) {
  return ::SetWindowPos(m_hWnd, insertAfter ? insertAfter->m_hWnd : nullptr, x, y, cx, cy, flags);
}

void CWnd::GetWindowRect(RECT* rect) const { ::GetWindowRect(m_hWnd, rect); }
void CWnd::GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }

BOOL CWnd::GetWindowPlacement(WINDOWPLACEMENT* placement) const {
  if (placement) placement->length = sizeof(WINDOWPLACEMENT);
  return ::GetWindowPlacement(m_hWnd, placement);
}

BOOL CWnd::SetWindowPlacement(const WINDOWPLACEMENT* placement) { return ::SetWindowPlacement(m_hWnd, placement); }

DWORD CWnd::GetStyle() const { return static_cast<DWORD>(::GetWindowLong(m_hWnd, GWL_STYLE)); }
DWORD CWnd::GetExStyle() const { return static_cast<DWORD>(::GetWindowLong(m_hWnd, GWL_EXSTYLE)); }

namespace {

BOOL Modify(HWND hwnd, int index, DWORD remove, DWORD add, UINT flags) {
  const DWORD style = static_cast<DWORD>(::GetWindowLong(hwnd, index));
  const DWORD changed = (style & ~remove) | add;
  if (style == changed) return FALSE;
  ::SetWindowLong(hwnd, index, static_cast<LONG>(changed));
  if (flags) {
    ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | flags);
  }
  return TRUE;
}

}  // namespace

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT flags) { return Modify(m_hWnd, GWL_STYLE, remove, add, flags); }

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT flags) {
  return Modify(m_hWnd, GWL_EXSTYLE, remove, add, flags);
}

int CWnd::SetWindowRgn(HRGN region, BOOL redraw) { return ::SetWindowRgn(m_hWnd, region, redraw); }
int CWnd::GetWindowRgn(HRGN region) const { return ::GetWindowRgn(m_hWnd, region); }
BOOL CWnd::SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
void CWnd::BringWindowToTop() { ::BringWindowToTop(m_hWnd); }
BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
void CWnd::SetWindowText(const std::string& text) { ::SetWindowText(m_hWnd, text.c_str()); }
std::string CWnd::GetWindowText() const { return ::GetWindowText(m_hWnd); }
void CWnd::Invalidate(BOOL erase) { ::InvalidateRect(m_hWnd, nullptr, erase); }
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }

int CWnd::OnCreate(CREATESTRUCT*) { return static_cast<int>(Default()); }
void CWnd::OnDestroy() { Default(); }
void CWnd::OnTimer(UINT_PTR) { Default(); }
void CWnd::OnMove(int, int) { Default(); }
void CWnd::OnSize(UINT, int, int) { Default(); }
void CWnd::OnShowWindow(BOOL, UINT) { Default(); }
void CWnd::OnWindowPosChanged(WINDOWPOS*) { Default(); }
void CWnd::OnActivate(UINT, CWnd*, BOOL) { Default(); }
void CWnd::OnClose() { Default(); }
void CWnd::OnPaint() { Default(); }

namespace platform {

BOOL PreTranslateWindowMessage(MSG* msg) {
  if (!msg) return FALSE;
  for (HWND hwnd = msg->hwnd; hwnd;) {
    if (CWnd* object = CWnd::FromHandle(hwnd); object && object->PreTranslateMessage(msg)) return TRUE;
    if (!(static_cast<DWORD>(::GetWindowLong(hwnd, GWL_STYLE)) & WS_CHILD)) break;
    hwnd = ::GetParent(hwnd);
  }
  return FALSE;
}

int PumpWindowMessages() {
  int handled = 0;
  std::set<std::pair<HWND, UINT_PTR>> timers;
  MSG msg{};
  while (::PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
    if (msg.message == WM_QUIT) break;
    if (msg.message == WM_TIMER && !timers.insert({msg.hwnd, msg.wParam}).second) break;
    if (!::PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) break;
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!PreTranslateWindowMessage(&msg)) ::DispatchMessage(&msg);
    ++handled;
  }
  return handled;
}

}  // namespace platform
