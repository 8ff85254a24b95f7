// The main program's application object: it reads the command line, makes
// sure only one copy runs, loads the settings, connects the player window to
// the player and runs that window until it closes. A later start restores
// and raises the running window instead, and with "/lab" has it show the Lab.
#pragma once

#include <memory>

#include "platform/instance/SingleInstance.h"
#include "platform/window/WinApp.h"

// The one flag of the command line: "lab" after "/" or "-", in lower case.
class CZorvaCmdLine : public CCommandLineInfo {
 public:
  void ParseParam(const char* param, BOOL flag, BOOL last) override;

  bool lab = false;
};

class CZorvaApp : public CWinApp {
 public:
  // Tries of a later copy to reach the running one, and the wait between.
  static constexpr int kReachAttempts = 100;
  static constexpr platform::Millis kReachIntervalMs = 2000;

  CZorvaApp();
  ~CZorvaApp() override;

  // Runs the whole program; always FALSE, so the process ends afterwards.
  BOOL InitInstance() override;

  // The running player window is up: later copies reach it from now on.
  void PublishMainWindow(HWND window);
  HWND GetPublishedWindow() const { return published_; }

 protected:
  // What only a running copy sets up: the page browser of the windows and
  // how a player is started when none runs.
  virtual void InstallPlatform();

 private:
  // A later copy's line: "show", or "lab" to show the Lab too.
  void OnLaterCopy(const std::string& message);

  std::unique_ptr<platform::SingleInstance> instance_;
  HWND published_ = nullptr;
};

// Called by the player window once it is initialised: it becomes the
// window every part of the program posts to, and the one later copies raise.
void PublishMainWindow(HWND window);
