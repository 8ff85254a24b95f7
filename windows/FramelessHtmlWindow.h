// The frameless HTML window that every window of both programs is: an HTML
// dialog without the desktop's frame whose page draws the whole window, with
// a rounded region, a drop shadow, its placement kept in the profile, window
// dragging from anywhere on the page, and filters that keep the page on its
// own file and keep Enter, Escape and F5 from acting on the dialog. Each
// window class configures it with its page file, placement value and default
// position, and overrides the hooks below where it differs.
#pragma once

#include <functional>
#include <string>

#include "platform/window/DHtmlDialog.h"
#include "platform/window/Region.h"
#include "windows/WndShadow.h"

struct FramelessWindowConfig {
  // How a stored placement comes back.
  enum class Placement {
    RestoreHidden,  // tool windows: at the stored top-left corner, hidden
    RestoreShown,   // the main window: shown, normal or maximised as stored
    WriteOnly,      // stored when the window goes, never read back
  };

  std::string pageFile;        // "Zorva.htm": the page, in the page folder
  std::string placementValue;  // the value in profile section "Position"; "" for none
  Placement placement = Placement::RestoreHidden;
  // The stored size stays where it is larger than the window's own.
  bool keepLargerStoredSize = false;
  // The sizing frame comes back after the caption and frame are taken away.
  bool resizable = false;
  // Enter goes to the page, Escape and F5 are swallowed.
  bool keyFilter = true;
  // Navigation leaves only the page file itself; "#" links do not navigate.
  bool navigationFilter = true;
  // Where the window goes when no placement is stored (desktop size, window
  // size); empty: it stays where the dialog put it.
  std::function<POINT(SIZE desktop, SIZE window)> defaultPosition;

  // top = desktop height / 2 - window height / 2 + dy;
  // left = desktop width / 2 + (window width * halfWidths) / 2 + dx;
  // (integer divisions truncating towards zero) each raised to 0 when negative,
  // and, with keepRightEdgeOnDesktop, left = desktop width - window width when
  // the window would reach past the desktop's right edge (then left is not
  // raised to 0).
  static std::function<POINT(SIZE, SIZE)> BesideCentre(int halfWidths, int dx, int dy,
                                                       bool keepRightEdgeOnDesktop = false);
};

class CFramelessHtmlWindow : public CDHtmlDialog {
 public:
  CFramelessHtmlWindow(FramelessWindowConfig config, const DialogTemplate& dialog, UINT htmlResource,
                       CWnd* parent = nullptr);
  // A window still there is destroyed here, so its placement is stored.
  ~CFramelessHtmlWindow() override;

  // The folder the page files are read from, ending in "/": the program's
  // folder unless set.
  static void SetPageFolder(const std::string& folder);
  static std::string GetPageFolder();
  // "file://" + page folder + page file.
  static std::string PageUrl(const std::string& pageFile);

  const FramelessWindowConfig& GetConfig() const { return config_; }
  CWndShadow& GetShadow() { return shadow_; }
  HRGN GetRegion() const { return region_; }

  // The set-up, in this order: CDHtmlDialog's, the browser made silent, the
  // page loaded, the placement restored, the frame taken away, the rounded
  // region, the shadow, window.external. A window whose set-up differs calls
  // CDHtmlDialog::OnInitDialog and the steps below itself.
  BOOL OnInitDialog() override;

  void NavigateToPage();
  // Puts the stored placement back (or the default position when none of 44
  // bytes is stored); nothing for a window without a placement value or one
  // that only writes it.
  void RestorePlacement();
  void SavePlacement();
  // Takes WS_CAPTION and WS_THICKFRAME away (and gives WS_THICKFRAME back to a
  // resizable window).
  void RemoveFrame();
  // The region from (0, -30) to the window's size with 20 x 20 corners, so
  // only the two bottom corners are round.
  void CutRoundedRegion();
  void AttachShadow();
  void ExposePageDispatch();

  // The filter of the navigation filter: `url` names `pageFile` (after its
  // first character) and has no "#" after its first character, and it is the
  // file URL of that page in the page folder on this machine.
  static bool IsPageNavigation(const std::string& url, const std::string& pageFile);

  BOOL PreTranslateMessage(MSG* msg) override;
  void OnBeforeNavigate(const std::string& url, bool& cancel) override;
  // The page's script may use window.external.
  BOOL IsExternalDispatchSafe() override { return TRUE; }

  // Every tag: selection start and drag start drag the window except on text
  // fields; no context menu except on text fields. A window that handles these
  // events (or the close buttons below) its own way overrides the function:
  // an entry of its own for the same event would run as well as this class's
  // (every matching entry runs), and one for the same function twice.
  virtual HRESULT OnHtmlSelectStart(platform::HtmlElement& element);
  virtual HRESULT OnHtmlDragStart(platform::HtmlElement& element);
  virtual HRESULT OnHtmlContextMenu(platform::HtmlElement& element);
  // The page's close buttons "ButtonOK" and "ButtonCancel": hide the window.
  virtual HRESULT OnButtonOK(platform::HtmlElement& element);
  virtual HRESULT OnButtonCancel(platform::HtmlElement& element);

  const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap();
  const DHtmlEventMap& GetDHtmlEventMap() const override { return ThisDHtmlEventMap(); }
  static const DHtmlEventMap& ThisDHtmlEventMap();

 protected:
  // The page's window.external; null for a page that does not call the program.
  virtual platform::ScriptDispatch* GetPageDispatch() { return nullptr; }
  // Starts moving the window with the mouse, as a press on a title bar does.
  void StartWindowDrag();
  // CDHtmlDialog's, then the placement is stored. A derived OnDestroy calls this.
  void OnDestroy();

 private:
  HRESULT DragUnlessTextEdit(platform::HtmlElement& element);

  FramelessWindowConfig config_;
  CRgn region_;
  CWndShadow shadow_;
};
