// The settings window: a frameless tool window whose page shows the main
// program's options (minimise iTunes at start, periodic library scan, the
// tattoo behind the pages), starts or stops a library scan by hand with its
// status, and tells the version and a summary of the library. Each option is
// stored in the profile as soon as it is clicked.
#pragma once

#include <string>

#include "windows/FramelessHtmlWindow.h"

class LibraryScanThread;
class Settings;

class CSettingsDialog : public CFramelessHtmlWindow {
 public:
  static const DialogTemplate kDialog;  // dialog 110
  static constexpr UINT kHtmlResource = 111;

  explicit CSettingsDialog(CWnd* parent = nullptr);

  // The player window and its library-scan controller; until they are given,
  // "scannow" does nothing and no scan counts as running.
  void SetMainWindow(CWnd* mainWindow, LibraryScanThread* scanThread);
  CWnd* GetMainWindow() const { return mainWindow_; }

  // The wallpaper as a CSS value ("url(skin/background3.gif)") for the page body.
  void SetWallpaper(const std::string& style);
  const std::string& GetWallpaper() const { return wallpaper_; }

  // The filter of every window, and links that leave the page go to the
  // user's web browser when they are web addresses.
  void OnBeforeNavigate(const std::string& url, bool& cancel) override;
  // Each new document shows the settings, the scan status and the wallpaper.
  void OnDocumentComplete(const std::string& url) override;

  HRESULT OnButtonOK(platform::HtmlElement& element) override;

  const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap();
  const DHtmlEventMap& GetDHtmlEventMap() const override { return ThisDHtmlEventMap(); }
  static const DHtmlEventMap& ThisDHtmlEventMap();

 protected:
  void DoDataExchange(CDataExchange* exchange) override;

  HRESULT OnMinITunes(platform::HtmlElement& element);
  HRESULT OnUseTattoo(platform::HtmlElement& element);
  HRESULT OnChangeTattoo(platform::HtmlElement& element);
  HRESULT OnScanLib(platform::HtmlElement& element);
  HRESULT OnScanNow(platform::HtmlElement& element);
  HRESULT OnAbout(platform::HtmlElement& element);
  LRESULT OnScanStatus(WPARAM, LPARAM);

 private:
  bool IsScanning() const;
  // The checkbox `id` shows the flag `get` of theSettings.
  void ShowFlag(const char* id, bool (Settings::*get)() const);
  void ShowWallpaper();

  std::string wallpaper_;
  CWnd* mainWindow_ = nullptr;
  LibraryScanThread* scanThread_ = nullptr;
};
