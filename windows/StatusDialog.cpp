#include "windows/StatusDialog.h"

#include "platform/xmlhttp/WebHosts.h"
#include "windows/WebLink.h"

namespace {

const char kQuickStart[] =
    "Welcome to the Zorva quick start guide.<div class='introimage'><div class='buttonholder' "
    "onmouseover='buttonover(this)' onmouseout='buttonout(this)'><span class='buttonleft'></span><a href='#' "
    "class='buttonmid' id='HelpLink' title= 'View online help'>View Online Help</a><span "
    "class='buttonright'></span></div></div>This is a quick introduction to Zorva. For more in depth information "
    "visit our online help";

FramelessWindowConfig StatusConfig() {
  FramelessWindowConfig config;
  config.pageFile = "StatusDialog.htm";
  // No placement is kept: the window always starts beside the player.
  // Its "#" links stay on the page without a filter.
  config.navigationFilter = false;
  return config;
}

}  // namespace

// 280 x 330 dialog units: 420 x 536 pixels.
const DialogTemplate StatusDialog::kDialog{112, 0, 0, 280, 330, WS_POPUP | WS_CAPTION | WS_SYSMENU, 0};

StatusDialog::StatusDialog(CWnd* parent) : CFramelessHtmlWindow(StatusConfig(), kDialog, kHtmlResource, parent) {}

std::string StatusDialog::HelpUrl() {
  return platform::xmlhttp::WebUrl(platform::xmlhttp::WebService::Maker, "/player.htm");
}

const MessageMap& StatusDialog::ThisMessageMap() {
  static const MessageMap map(&CFramelessHtmlWindow::ThisMessageMap(), {
                                                                           OnWmCreate(&StatusDialog::OnCreate),
                                                                       });
  return map;
}

const DHtmlEventMap& StatusDialog::ThisDHtmlEventMap() {
  static const DHtmlEventMap map(&CFramelessHtmlWindow::ThisDHtmlEventMap(),
                                 {
                                     DHtmlEventOnClick("HelpLink", &StatusDialog::OnHelpLink),
                                 });
  return map;
}

int StatusDialog::OnCreate(CREATESTRUCT* create) {
  if (CFramelessHtmlWindow::OnCreate(create) == -1) return -1;
  CWnd* parent = m_pParentWnd;
  if (parent == nullptr || parent->m_hWnd == nullptr || parent == CWnd::GetDesktopWindow()) return 0;
  RECT own{};
  RECT beside{};
  GetWindowRect(&own);
  parent->GetWindowRect(&beside);
  const int width = own.right - own.left;
  const int height = own.bottom - own.top;
  int left = beside.left - (width + 5);
  if (left < 0) left = 0;
  MoveWindow(left, beside.top + 20, width, height, TRUE);
  return 0;
}

void StatusDialog::ShowQuickStart() {
  if (auto scanning = GetElement("scanning")) scanning->SetClassName("invisible");
  SetElementHtml("introbox", kQuickStart);
}

HRESULT StatusDialog::OnButtonOK(platform::HtmlElement& element) {
  CFramelessHtmlWindow::OnButtonOK(element);
  OnOK();
  return S_OK;
}

HRESULT StatusDialog::OnButtonCancel(platform::HtmlElement& element) {
  CFramelessHtmlWindow::OnButtonCancel(element);
  OnCancel();
  return S_OK;
}

HRESULT StatusDialog::OnHelpLink(platform::HtmlElement&) {
  // A configured host that is not a web address opens nothing.
  OpenWebLink(HelpUrl());
  return S_OK;
}
