#include "platform/window/PageMessageBox.h"

#include <algorithm>

#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/html/HtmlEscape.h"
#include "platform/kernel/Signals.h"
#include "platform/html/X11WindowManager.h"
#include "platform/window/ChromiumBrowserFactory.h"
#include "platform/window/MessageBoxInternal.h"
#include "platform/window/Window.h"
#include "platform/window/Wnd.h"

namespace platform {

namespace {

constexpr int kWidth = 380;
constexpr int kHeight = 190;
constexpr int kEnter = 13;
constexpr int kEscape = 27;

// Escaped for the page, its line breaks kept.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : html::EscapeHtml(text)) {
    if (c == '\n') {
      out += "<br>";
    } else if (c != '\r') {
      out += c;
    }
  }
  return out;
}

// The answer of a button's id ("answer6" for Yes); 0 for other ids.
int AnswerOf(const std::string& id) {
  if (id.rfind("answer", 0) != 0 || id.size() != 7 || id[6] < '1' || id[6] > '7') return 0;
  return id[6] - '0';
}

// Hears the page of one question.
class QuestionHost final : public HtmlDocumentHost {
 public:
  explicit QuestionHost(UINT type) : type_(type) {}
  int answer = 0;

  void HandleEvent(HtmlEvent& event) override {
    const std::string id = event.srcElement ? event.srcElement->GetId() : std::string();
    if (event.type == "click") {
      if (const int a = AnswerOf(id)) answer = a;
      event.returnValue = false;
    } else if (event.type == "keydown" && event.keyCode == kEnter) {
      const int a = AnswerOf(id);
      answer = a != 0 ? a : DefaultMessageBoxAnswer(type_);
      event.returnValue = false;
    } else if (event.type == "keydown" && event.keyCode == kEscape) {
      answer = PageMessageBoxPresenter::RefusalAnswer(type_);
      event.returnValue = false;
    }
  }
  void BeforeNavigate(const std::string&, bool* cancel) override { *cancel = true; }
  void NavigateComplete(const std::string&) override {}
  void DocumentComplete(const std::string&) override {}
  ScriptDispatch* External() override { return nullptr; }
  std::vector<std::string> EventTypes() const override { return {"click", "keydown"}; }

 private:
  UINT type_;
};

// Disables the owner while the question stands, as a modal box does.
class OwnerDisabled {
 public:
  explicit OwnerDisabled(HWND owner)
      : owner_(owner && ::IsWindow(owner) && ::IsWindowEnabled(owner) ? owner : nullptr) {
    if (owner_) ::EnableWindow(owner_, FALSE);
  }
  ~OwnerDisabled() {
    if (owner_ && ::IsWindow(owner_)) ::EnableWindow(owner_, TRUE);
  }
  OwnerDisabled(const OwnerDisabled&) = delete;
  OwnerDisabled& operator=(const OwnerDisabled&) = delete;

 private:
  HWND owner_;
};

PageMessageBoxPresenter& ThePagePresenter() {
  static PageMessageBoxPresenter* const presenter = new PageMessageBoxPresenter;  // asked until the process ends
  return *presenter;
}

}  // namespace

int PageMessageBoxPresenter::RefusalAnswer(UINT type) {
  const std::vector<int> buttons = MessageBoxButtons(type);
  for (int refusal : {IDCANCEL, IDNO}) {
    if (std::find(buttons.begin(), buttons.end(), refusal) != buttons.end()) return refusal;
  }
  return buttons.back();
}

std::string PageMessageBoxPresenter::PageHtml(const std::string& text, const std::string& caption, UINT type) {
  const int preferred = DefaultMessageBoxAnswer(type);
  std::string buttons;
  for (int answer : MessageBoxButtons(type)) {
    buttons += "<button id=\"answer" + std::to_string(answer) + "\"" + (answer == preferred ? " autofocus" : "") + ">" +
               MessageBoxButtonName(answer) + "</button>";
  }
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + Escaped(caption) +
         "</title><style>"
         "body{margin:0;font:13px sans-serif;background:#f0f0f0;color:#000;display:flex;flex-direction:column;"
         "height:100vh}"
         "#caption{padding:14px 16px 0;font-weight:bold}"
         "#text{flex:1;padding:10px 16px 8px;overflow:auto;user-select:text}"
         "#buttons{padding:10px 12px;text-align:right;background:#e4e4e4}"
         "button{min-width:76px;margin-left:8px;padding:3px 10px}"
         "</style></head><body><div id=\"caption\">" +
         Escaped(caption) + "</div><div id=\"text\">" + Escaped(text) + "</div><div id=\"buttons\">" + buttons +
         "</div></body></html>";
}

int PageMessageBoxPresenter::Present(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  std::string why;
  std::shared_ptr<chromium::Browser> browser = browser_ ? browser_ : chromium::Browser::Shared(&why);
  std::unique_ptr<ChromiumHtmlDocument> page = browser ? ChromiumHtmlDocument::Create(browser, &why) : nullptr;
  if (!page) return ConsoleMessageBoxPresenter().Present(owner, text, caption, type);

  OwnerDisabled modal(owner);
  QuestionHost host(type);
  page->SetSilent(true);
  page->LoadHtml(PageHtml(text, caption, type));
  page->SetHost(&host);
  // The desktop's close button answers as Escape does.
  page->SetWindowClosedHandler([&host, type] {
    if (host.answer == 0) host.answer = RefusalAnswer(type);
  });
  // Over the middle of its owner, else of the desktop.
  RECT around{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (owner && ::IsWindow(owner) && ::IsWindowVisible(owner)) ::GetWindowRect(owner, &around);
  page->SetBounds((around.left + around.right - kWidth) / 2, (around.top + around.bottom - kHeight) / 2, kWidth,
                  kHeight);
  // No frame: the box draws its caption itself; it stays above its owner.
  if (!browser->Headless()) {
    if (const unsigned long window = page->MakeXWindowGetter()()) {
      x11::SetUndecorated(window);
      x11::SetOwner(window, PageXWindow(owner));
      x11::Raise(window);
    }
  }
  if (shown_) shown_(*page);

  // The program's messages go on while the question stands.
  const WaitingQuestion waiting;
  MSG msg{};
  while (host.answer == 0) {
    // Logout or Ctrl+C, also before the question came: it gives way, so
    // the program can end.
    if (EndingAsked()) {
      host.answer = RefusalAnswer(type);
      break;
    }
    page->ProcessEvents(0);
    if (host.answer != 0) break;
    // Peeked, then waited for: an answer or an ending that a posted call
    // brings is seen before the loop waits again.
    if (!::PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (host.answer == 0 && !EndingAsked()) WaitMessage();
      continue;
    }
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      host.answer = RefusalAnswer(type);
      break;
    }
    if (!PreTranslateWindowMessage(&msg)) ::DispatchMessage(&msg);
  }
  page->SetHost(nullptr);
  return host.answer != 0 ? host.answer : RefusalAnswer(type);
}

void UsePageMessageBoxes() { SetDesktopMessageBoxPresenter(&ThePagePresenter()); }

}  // namespace platform
