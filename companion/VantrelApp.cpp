#include "companion/VantrelApp.h"

#include "companion/SystemTray.h"
#include "companion/VantrelDlg.h"
#include "core/Settings.h"
#include "windows/WndShadow.h"

CVantrelApp::CVantrelApp() : instance_("vantrel") {}

BOOL CVantrelApp::InitInstance() {
  if (!instance_.TryLock()) {
    // Another companion runs: its window comes up, and this copy ends.
    instance_.SendToRunning("show", kShowAttempts, kShowIntervalMs);
    return FALSE;
  }
  SetRegistryKey("Zorva");
  theSettings.Load();

  {
    CVantrelDlg dialog;
    dialog.SetSingleInstance(&instance_);
    m_pMainWnd = &dialog;
    CWndShadow::Initialize(nullptr);
    dialog.DoModal();
    m_pMainWnd = nullptr;
  }
  theSettings.Save();
  CSystemTray::DestroyInvisibleWnd();
  return FALSE;
}

void CVantrelApp::EndNow() {
  if (auto* dialog = dynamic_cast<CVantrelDlg*>(m_pMainWnd); dialog && dialog->GetSafeHwnd() != nullptr)
    dialog->EndDialog(IDCANCEL);
}
