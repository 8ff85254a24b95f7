#include "companion/VantrelApp.h"

#include <cstdio>
#include <string>

#include "companion/SystemTray.h"
#include "companion/VantrelDlg.h"
#include "core/Settings.h"
#include "platform/profile/Profile.h"
#include "platform/window/MessageBox.h"
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
  if (!theSettings.Save()) {
    // The window is gone: the message stands on its own, and gives way to
    // a logout.
    const std::string text = "Vantrel could not save its settings, window place and upload options in " +
                             platform::ProfileFilePath() + "; check that this file's folder can be written.";
    std::fprintf(stderr, "vantrel: %s\n", text.c_str());
    MessageBox(nullptr, text.c_str(), "Vantrel could not save its settings", MB_OK | MB_ICONWARNING);
  }
  CSystemTray::DestroyInvisibleWnd();
  return FALSE;
}

void CVantrelApp::EndNow() {
  if (auto* dialog = dynamic_cast<CVantrelDlg*>(m_pMainWnd); dialog && dialog->GetSafeHwnd() != nullptr)
    dialog->EndDialog(IDCANCEL);
}
