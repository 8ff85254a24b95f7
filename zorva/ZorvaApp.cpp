#include "zorva/ZorvaApp.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/AppMainWindow.h"
#include "core/MusicDB.h"
#include "core/Settings.h"
#include "core/ShellPath.h"
#include "platform/player/ITunes.h"
#include "platform/profile/Profile.h"
#include "platform/player/PlayerActivation.h"
#include "platform/window/ChromiumBrowserFactory.h"
#include "platform/window/Window.h"
#include "windows/WndShadow.h"
#include "zorva/ZorvaDlg.h"

namespace {

// Time the started player has to load its library and answer.
constexpr platform::Millis kPlayerStartTimeout = 30000;

}  // namespace

void CZorvaCmdLine::ParseParam(const char* param, BOOL flag, BOOL last) {
  if (flag && std::strcmp(param, "lab") == 0) {
    lab = true;
    return;
  }
  CCommandLineInfo::ParseParam(param, flag, last);
}

CZorvaApp::CZorvaApp() : CWinApp("Zorva") {}

CZorvaApp::~CZorvaApp() = default;

void CZorvaApp::InstallPlatform() {
  platform::InstallChromiumBrowser();
  const std::string player = ShellPath(SHELLPATH_MODULE_FOLDER).GetFolder() + "zorva-player";
  platform::player::RegisterPlayerActivator(
      [player] { return platform::player::StartPlayerServer(player, kPlayerStartTimeout); });
}

BOOL CZorvaApp::InitInstance() {
  CZorvaCmdLine commandLine;
  ParseCommandLine(commandLine);

  instance_ = std::make_unique<platform::SingleInstance>("zorva");
  if (!instance_->TryLock()) {
    // Another copy runs: it comes forward (and shows the Lab) instead.
    instance_->SendToRunning(commandLine.lab ? "lab" : "show", kReachAttempts, kReachIntervalMs);
    instance_.reset();
    return FALSE;
  }

  InstallPlatform();
  SetRegistryKey("Zorva");
  theSettings.Load();
  if (theMusicDB.IsFailed()) {
    // Without its database Zorva has nothing to play: it says why and where
    // rather than wait for a library it cannot keep.
    const std::string text = "Zorva cannot go on: its music database " + theMusicDB.GetPath() +
                             " cannot be made or opened (" + theMusicDB.GetFailure() + ").";
    std::fprintf(stderr, "zorva: %s\n", text.c_str());
    MessageBox(nullptr, text.c_str(), "Zorva cannot go on", MB_OK | MB_ICONERROR);
    return FALSE;
  }

  CZorvaDlg dialog;
  if (!dialog.IsPlayerConnected()) return FALSE;  // the user gave up: nothing is saved
  m_pMainWnd = &dialog;
  CWndShadow::Initialize(GetModuleHandle(nullptr));
  if (commandLine.lab) dialog.SetShowLabAtStart();
  dialog.DoModal();
  if (!theSettings.Save()) {
    // The window is gone: the message stands on its own, and gives way to
    // a logout.
    const std::string text = "Zorva could not save its settings, window places and current mix in " +
                             platform::ProfileFilePath() + "; check that this file's folder can be written.";
    std::fprintf(stderr, "zorva: %s\n", text.c_str());
    MessageBox(nullptr, text.c_str(), "Zorva could not save its settings", MB_OK | MB_ICONWARNING);
  }
  m_pMainWnd = nullptr;
  return FALSE;
}

void CZorvaApp::PublishMainWindow(HWND window) {
  published_ = window;
  if (instance_ && instance_->IsLocked())
    instance_->Listen([this](const std::string& message) { OnLaterCopy(message); });
}

void CZorvaApp::OnLaterCopy(const std::string& message) {
  if (!::IsWindow(published_)) return;
  ::ShowWindow(published_, SW_RESTORE);
  ::SetForegroundWindow(published_);
  if (message == "lab") ::PostMessage(published_, WM_SHOW_LAB, 0, 0);
}

void PublishMainWindow(HWND window) {
  SetAppMainWindow(window);
  if (auto* app = dynamic_cast<CZorvaApp*>(AfxGetApp())) app->PublishMainWindow(window);
}
