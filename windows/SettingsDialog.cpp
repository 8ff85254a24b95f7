#include "windows/SettingsDialog.h"

#include "core/AppMainWindow.h"
#include "core/LibraryScanThread.h"
#include "core/MusicDB.h"
#include "core/ScanStatus.h"
#include "core/Settings.h"
#include "core/VersionCheck.h"
#include "windows/WebLink.h"

namespace {

const char kPageFile[] = "SettingsDialog.htm";

// The main window moves on to its next wallpaper for any number above 99.
constexpr WPARAM kNextWallpaper = 0xFFFFFFFFu;

FramelessWindowConfig SettingsConfig() {
  FramelessWindowConfig config;
  config.pageFile = kPageFile;
  config.placementValue = "Settings";
  // The right edge 5 pixels left of the desktop's centre line, a little below its middle.
  config.defaultPosition = FramelessWindowConfig::BesideCentre(-2, -5, 50);
  return config;
}

}  // namespace

// 280 x 300 dialog units: 420 x 487 pixels.
const DialogTemplate CSettingsDialog::kDialog{110, 0, 0, 280, 300, WS_POPUP | WS_CAPTION | WS_SYSMENU, 0};

CSettingsDialog::CSettingsDialog(CWnd* parent)
    : CFramelessHtmlWindow(SettingsConfig(), kDialog, kHtmlResource, parent) {}

void CSettingsDialog::SetMainWindow(CWnd* mainWindow, LibraryScanThread* scanThread) {
  mainWindow_ = mainWindow;
  scanThread_ = mainWindow ? scanThread : nullptr;
}

void CSettingsDialog::SetWallpaper(const std::string& style) {
  wallpaper_ = style;
  ShowWallpaper();
}

void CSettingsDialog::ShowWallpaper() {
  if (wallpaper_.empty()) return;
  if (auto body = GetElement("settings")) body->SetStyleBackgroundImage(wallpaper_);
}

const MessageMap& CSettingsDialog::ThisMessageMap() {
  static const MessageMap map(&CFramelessHtmlWindow::ThisMessageMap(),
                              {
                                  OnMessage(WM_APP_SCAN_STATUS, &CSettingsDialog::OnScanStatus),
                              });
  return map;
}

const DHtmlEventMap& CSettingsDialog::ThisDHtmlEventMap() {
  static const DHtmlEventMap map(&CFramelessHtmlWindow::ThisDHtmlEventMap(),
                                 {
                                     DHtmlEventOnClick("minitunes", &CSettingsDialog::OnMinITunes),
                                     DHtmlEventOnClick("usetattoo", &CSettingsDialog::OnUseTattoo),
                                     DHtmlEventOnClick("changetattoo", &CSettingsDialog::OnChangeTattoo),
                                     DHtmlEventOnClick("scanlib", &CSettingsDialog::OnScanLib),
                                     DHtmlEventOnClick("scannow", &CSettingsDialog::OnScanNow),
                                     DHtmlEventOnClick("about", &CSettingsDialog::OnAbout),
                                 });
  return map;
}

bool CSettingsDialog::IsScanning() const { return scanThread_ != nullptr && scanThread_->IsRunning(); }

void CSettingsDialog::ShowFlag(const char* id, bool (Settings::*get)() const) {
  if (auto box = GetElement(id)) box->SetChecked((theSettings.*get)());
}

void CSettingsDialog::DoDataExchange(CDataExchange* exchange) {
  const bool scanning = IsScanning();
  // What the page's checkboxes say is never taken: each click stores its option.
  int minITunes = theSettings.GetMinITunes() ? 1 : 0;
  int useVozed = theSettings.GetUseVozed() ? 1 : 0;
  int scanLib = theSettings.GetScanLib() ? 1 : 0;
  DDX_DHtml_CheckBox(exchange, "minitunes", minITunes);
  DDX_DHtml_CheckBox(exchange, "usetattoo", useVozed);
  DDX_DHtml_CheckBox(exchange, "scanlib", scanLib);
  if (!exchange->m_bSaveAndValidate) {
    // Status texts are text, whatever they hold.
    SetElementText("status", theScanStatus.Get());
    SetElementText("scannow", scanning ? "Stop scanning" : "Scan Now");
    SetElementText("vernum", GetVersionText());
    SetElementHtml("dbdetails", theMusicDB.GetLibraryStatistics());
  }
  CFramelessHtmlWindow::DoDataExchange(exchange);
}

void CSettingsDialog::OnDocumentComplete(const std::string& url) {
  CFramelessHtmlWindow::OnDocumentComplete(url);
  UpdateData(FALSE);
  ShowWallpaper();
}

void CSettingsDialog::OnBeforeNavigate(const std::string& url, bool& cancel) {
  cancel = !IsPageNavigation(url, kPageFile);
  if (!cancel) return;
  // The page's own "#" links only stay; the program's own file is never opened.
  if (url.find(kPageFile, 1) != std::string::npos || url.find("Zorva.exe") != std::string::npos) return;
  OpenWebLink(url);
}

HRESULT CSettingsDialog::OnButtonOK(platform::HtmlElement& element) {
  CFramelessHtmlWindow::OnButtonOK(element);
  OnOK();
  return S_OK;
}

HRESULT CSettingsDialog::OnMinITunes(platform::HtmlElement&) {
  theSettings.StoreMinITunes(!theSettings.GetMinITunes());
  ShowFlag("minitunes", &Settings::GetMinITunes);
  return S_OK;
}

HRESULT CSettingsDialog::OnUseTattoo(platform::HtmlElement&) {
  // Nothing changes on screen that could not be stored.
  if (theSettings.StoreUseVozed(!theSettings.GetUseVozed())) {
    PostToAppMainWindow(WM_APP_WALLPAPER, theSettings.GetUseVozed() ? 1 : 0);
  }
  ShowFlag("usetattoo", &Settings::GetUseVozed);
  return S_OK;
}

HRESULT CSettingsDialog::OnChangeTattoo(platform::HtmlElement&) {
  theSettings.StoreUseVozed(true);
  if (theSettings.GetUseVozed()) PostToAppMainWindow(WM_APP_WALLPAPER, kNextWallpaper);
  ShowFlag("usetattoo", &Settings::GetUseVozed);
  return S_OK;
}

HRESULT CSettingsDialog::OnScanLib(platform::HtmlElement&) {
  if (theSettings.StoreScanLib(!theSettings.GetScanLib()) && scanThread_ != nullptr) {
    // The option takes effect now: a worker starts or stops with it.
    const bool running = scanThread_->IsRunning();
    if (theSettings.GetScanLib() && !running) {
      scanThread_->Start();
    } else if (!theSettings.GetScanLib() && running) {
      scanThread_->Stop();
    }
  }
  ShowFlag("scanlib", &Settings::GetScanLib);
  SetElementText("scannow", IsScanning() ? "Stop scanning" : "Scan Now");
  return S_OK;
}

HRESULT CSettingsDialog::OnScanNow(platform::HtmlElement&) {
  if (scanThread_ == nullptr) return S_FALSE;
  if (scanThread_->IsRunning()) {
    scanThread_->Stop();
  } else {
    scanThread_->Start();
  }
  UpdateData(FALSE);
  return S_OK;
}

HRESULT CSettingsDialog::OnAbout(platform::HtmlElement&) {
  UpdateData(FALSE);
  return S_OK;
}

LRESULT CSettingsDialog::OnScanStatus(WPARAM, LPARAM) {
  SetElementText("status", theScanStatus.Get());
  return 0;
}
