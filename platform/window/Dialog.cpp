#include "platform/window/Dialog.h"

namespace {

constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;

}  // namespace

POINT DialogUnitsToPixels(int x, int y) { return POINT{x * kBaseUnitX / 4, y * kBaseUnitY / 8}; }

CDialog::CDialog(const DialogTemplate& dialog, CWnd* parent) : m_pParentWnd(parent), m_template(dialog) {}

const MessageMap& CDialog::ThisMessageMap() {
  static const MessageMap map(&CWnd::ThisMessageMap(), {
                                                           OnMessage(WM_INITDIALOG, &CDialog::HandleInitDialog),
                                                           OnWmClose(&CDialog::HandleClose),
                                                       });
  return map;
}

BOOL CDialog::MakeDialogWindow() {
  HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  if (owner == ::GetDesktopWindow()) owner = nullptr;
  RECT origin{0, 0, 0, 0};
  if (owner) ::GetWindowRect(owner, &origin);
  const POINT place = DialogUnitsToPixels(m_template.x, m_template.y);
  const POINT size = DialogUnitsToPixels(m_template.width, m_template.height);
  if (!CreateEx(m_template.exStyle, "#32770", "", m_template.style & ~WS_VISIBLE, origin.left + place.x,
                origin.top + place.y, size.x, size.y, owner)) {
    return FALSE;
  }
  SendMessage(WM_INITDIALOG, 0, 0);
  return m_hWnd ? TRUE : FALSE;
}

BOOL CDialog::Create(CWnd* parent) {
  if (m_hWnd) return FALSE;
  m_pParentWnd = parent;
  m_modal = false;
  if (!MakeDialogWindow()) return FALSE;
  if ((m_template.style & WS_VISIBLE) && !IsWindowVisible()) ShowWindow(SW_SHOWNORMAL);
  return TRUE;
}

INT_PTR CDialog::DoModal() {
  if (m_hWnd) return -1;
  HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  const bool disableOwner = owner && ::IsWindow(owner) && ::IsWindowEnabled(owner);
  if (disableOwner) ::EnableWindow(owner, FALSE);

  m_nModalResult = -1;
  m_modal = true;
  m_continueModal = true;
  if (MakeDialogWindow() && m_continueModal) RunModalLoop();
  m_modal = false;
  m_continueModal = false;

  if (disableOwner && ::IsWindow(owner)) ::EnableWindow(owner, TRUE);
  if (m_hWnd) {
    ShowWindow(SW_HIDE);
    DestroyWindow();
  }
  return m_nModalResult;
}

void CDialog::RunModalLoop() {
  bool showWhenIdle = !IsWindowVisible();
  MSG msg{};
  while (m_continueModal && m_hWnd) {
    if (showWhenIdle) {
      if (IsWindowVisible()) {
        showWhenIdle = false;
      } else if (!::PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        showWhenIdle = false;
        ShowWindow(SW_SHOWNORMAL);
        continue;
      }
      if (!m_continueModal || !m_hWnd) break;
    }
    // Peeked, then waited for: a posted call that runs on the way may end
    // the dialog (a question it asked took the wake-up EndDialog posts), and
    // the loop must see that before it waits again.
    if (!::PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (m_continueModal && m_hWnd) platform::WaitMessage();
      continue;
    }
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!platform::PreTranslateWindowMessage(&msg)) ::DispatchMessage(&msg);
  }
}

void CDialog::EndDialog(int result) {
  m_nModalResult = result;
  if (!m_hWnd) return;
  if (m_modal && m_continueModal) {
    m_continueModal = false;
    // Wakes the loop should this come from a call that ran inside its wait.
    PostMessage(WM_NULL);
  }
  ShowWindow(SW_HIDE);
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange exchange(this, saveAndValidate);
  DoDataExchange(&exchange);
  return TRUE;
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) { return OnInitDialog(); }

void CDialog::HandleClose() { OnCancel(); }
