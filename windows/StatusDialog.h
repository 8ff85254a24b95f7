// The quick-start and status window: a frameless tool window beside the
// player window whose page introduces the program. On the first start with
// a new database it tells that the library is being scanned; from the
// player's help button it shows the quick-start text with a link to the
// online help.
#pragma once

#include <string>

#include "windows/FramelessHtmlWindow.h"

class StatusDialog : public CFramelessHtmlWindow {
 public:
  static const DialogTemplate kDialog;  // dialog 112
  static constexpr UINT kHtmlResource = 113;

  explicit StatusDialog(CWnd* parent = nullptr);

  // Hides the scanning notice and writes the quick-start text, with its help
  // button, into the intro box. The window stays as it is (shown or hidden).
  void ShowQuickStart();
  // The online help page on the maker's web host.
  static std::string HelpUrl();

  HRESULT OnButtonOK(platform::HtmlElement& element) override;
  HRESULT OnButtonCancel(platform::HtmlElement& element) override;

  const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap();
  const DHtmlEventMap& GetDHtmlEventMap() const override { return ThisDHtmlEventMap(); }
  static const DHtmlEventMap& ThisDHtmlEventMap();

 protected:
  // Placed once, 5 pixels left of its parent and 20 pixels below its top.
  int OnCreate(CREATESTRUCT* create);
  HRESULT OnHelpLink(platform::HtmlElement& element);
};
