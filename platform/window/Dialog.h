// The class library's dialog (CDialog): a window made from a dialog template,
// initialised by OnInitDialog, run modally by DoModal (its own message loop,
// until EndDialog) or made modeless by Create, with the OK and Cancel actions
// and the data exchange of UpdateData.
#pragma once

#include "platform/window/MessageBox.h"
#include "platform/window/Wnd.h"

// What a dialog resource holds of a frameless dialog: its size and place in
// dialog units (from the owner's top-left corner, or the desktop's) and its
// styles. A template with WS_VISIBLE gives a dialog shown once initialised.
struct DialogTemplate {
  UINT id = 0;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  DWORD style = WS_POPUP;
  DWORD exStyle = 0;
};

// Dialog units to pixels for the dialogs' 8-point font: a horizontal unit is a
// quarter of its average character width (6 pixels), a vertical unit an
// eighth of its height (13 pixels).
POINT DialogUnitsToPixels(int x, int y);

class CDataExchange {
 public:
  CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
  BOOL m_bSaveAndValidate;  // TRUE: from the window into the members
  CWnd* m_pDlgWnd;
};

class CDialog : public CWnd {
 public:
  explicit CDialog(const DialogTemplate& dialog, CWnd* parent = nullptr);

  // Makes the window (owned by the parent, which is disabled meanwhile), runs
  // OnInitDialog and a message loop until EndDialog or WM_QUIT (which stays
  // queued), then destroys the window and returns the EndDialog result (-1
  // when the loop ended otherwise). A dialog still hidden when its loop first
  // has nothing to do is shown (SW_SHOWNORMAL).
  virtual INT_PTR DoModal();
  // Makes the window modeless, owned by `parent` (none for null or the
  // desktop), and runs OnInitDialog.
  virtual BOOL Create(CWnd* parent = nullptr);
  // Hides the window; a modal dialog's loop then ends with `result`.
  void EndDialog(int result);

  virtual BOOL OnInitDialog();
  // UpdateData(TRUE), then EndDialog(IDOK).
  virtual void OnOK();
  virtual void OnCancel();
  BOOL UpdateData(BOOL saveAndValidate = TRUE);

  const DialogTemplate& GetDialogTemplate() const { return m_template; }
  bool IsModal() const { return m_modal; }

  const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap();

  CWnd* m_pParentWnd;

 protected:
  virtual void DoDataExchange(CDataExchange*) {}

 private:
  BOOL MakeDialogWindow();
  void RunModalLoop();
  LRESULT HandleInitDialog(WPARAM, LPARAM);
  void HandleClose();

  DialogTemplate m_template;
  int m_nModalResult = -1;
  bool m_modal = false;
  bool m_continueModal = false;
};
