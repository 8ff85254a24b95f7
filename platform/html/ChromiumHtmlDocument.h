// The page document shown by Chromium (platform/html/ChromiumBrowser.h): one
// page target of the process's one browser per document, the real page with
// its scripts. It answers HtmlDocument's calls synchronously by round trips
// to the page (about a millisecond each). Element writes answer nothing, so
// they are held and travel with the next call (or go when the thread is
// idle): a view of many writes costs one round trip per read, not per write.
//
// Making a page and loading one go on while the program does other work, so
// the pages of several windows start side by side: Create asks the browser
// for a page target and returns, and the target's set-up commands go one
// after the other without waiting for their answers; Navigate starts the
// navigation and returns. The first call that needs the page (an element
// read or write, CallScript, GetUrl, LoadFile, the next Navigate...) waits
// for what is still under way, on the installed clock with a time-out.
//
// How the page reaches the host:
// - Events: a script the browser runs at the start of every document listens
//   (capture phase, on the window) for the event types the host names
//   (HtmlDocumentHost::EventTypes), and for each one stops the page in the
//   debugger (a `debugger;` statement). The host's HandleEvent runs while the
//   page waits, can read and change the page, and its answer takes effect:
//   returnValue = false cancels the browser's own action (a link does not
//   navigate, a checkbox click is undone, a key does not type). Events of
//   script's element.click() come the same way, so a click forwarded with
//   this.parentNode.click() reaches the holder once, as its own event.
// - Navigations: every document request of the page (links, forms, location,
//   Navigate) is held (the Fetch domain) until BeforeNavigate answered; a
//   cancelled one leaves the page as it was. A link that only changes the "#"
//   part never becomes a request; the page script asks BeforeNavigate for it
//   when the click's own action would follow it. NavigateComplete and
//   DocumentComplete follow as the page gets there: through the message loop
//   when the thread is idle, or inside the call that waits for the page. The
//   page's start script takes the host's settings (event types,
//   window.external) as they are when Navigate is called.
// - window.external: on file: pages of the top frame, while the host's
//   External() gives an object. Page script's window.external.Name(args...)
//   stops the page in the same way, the host runs the named method with the
//   arguments (texts, 32-bit integers, nothing), and the call returns the
//   method's result. A name the object lacks or arguments that do not fit
//   throw an Error in the page, and nothing is run. A call made while the
//   page already stands for the host (page script the host runs as it
//   answers an event: the page cannot stop a second time) waits, in order,
//   until the page runs on, and gives nothing back; an error it meets then
//   is a script error of the page.
// - Calls into the page (CallScript, element calls) pass every value as a
//   JSON argument of a fixed function; no page or record text is ever made
//   into script.
//
// Re-entrancy: the host's HandleEvent, BeforeNavigate, External() and the
// completion calls may run inside ANY blocking call of any Chromium document
// of the thread (an element read, CallScript, LoadFile, Navigate...), because
// the page may stop for an answer while the program waits for it, and a call
// that waits for a page being made or loaded handles the thread's page events
// meanwhile. When the thread is idle they arrive through its message loop.
// SetHost(nullptr) and the destructor never wait.
//
// Differences from the old browser control that pages depend on, bridged
// here: ids are matched ignoring ASCII case when no exact match exists (as
// HtmlDocument says); GetInnerText gives the text of every descendant
// (textContent), not the laid-out text. Pages rely on the rest unchanged
// (backslashes in addresses become slashes in Chromium, so the program
// should give file URLs with forward slashes, as FileUrl makes them).
//
// Failures: a browser that cannot start gives null from Create (the reason,
// naming the Debian package chromium, on standard error once). A page target
// that cannot be made or set up is reported on standard error, and the
// document then answers every call as for an absent element. Every wait has
// a time-out; a page that does not finish loading makes LoadFile answer
// false, and the call that waited for a navigation goes on with the page as
// it is (LastError says why). When the browser dies every call answers as
// for an absent element, and the program is told (ChromiumBrowser.h). A
// document destroyed while its page is made or loads closes that page.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/html/ChromiumBrowser.h"
#include "platform/html/HtmlDocument.h"

namespace platform {

class ChromiumElement;

class ChromiumHtmlDocument final : public HtmlDocument {
 public:
  // A new page (about:blank) in the process's browser, made while the
  // program goes on; null when no browser can be had (*error says why).
  static std::unique_ptr<ChromiumHtmlDocument> Create(std::string* error = nullptr);
  // The same in a given browser.
  static std::unique_ptr<ChromiumHtmlDocument> Create(std::shared_ptr<chromium::Browser> browser,
                                                      std::string* error = nullptr);
  ~ChromiumHtmlDocument() override;

  // Waits (up to the load time-out) until the page has loaded. False when the
  // file cannot be read (the page stays as it was) or the page did not finish
  // loading in time.
  bool LoadFile(const std::string& path) override;
  void LoadHtml(const std::string& html) override;

  HtmlElementPtr GetElementById(const std::string& id) const override;
  // Held like element writes: no round trip to find the element.
  void SetElementHtml(const std::string& id, const std::string& html) override;
  void SetElementText(const std::string& id, const std::string& text) override;
  void SetElementClass(const std::string& id, const std::string& className) override;
  void SetElementsStyle(const std::vector<std::string>& ids, const StyleList& styles) override;
  HtmlElementPtr GetBody() const override;
  HtmlElementPtr GetDocumentElement() const override;

  void SetHost(HtmlDocumentHost* host) override;
  // Waits for a navigation under way.
  std::string GetUrl() const override;
  // Starts the navigation and returns (see above).
  bool Navigate(const std::string& url) override;
  void Reload() override;
  void SetSilent(bool silent) override;
  bool IsSilent() const override;
  // Hidden while kept aside; placed as its window asks once shown again.
  void SetStandby(bool standby) override;
  // Dispatches a synthetic event of the type on the element (as script's
  // dispatchEvent; a "click" as element.click()); it reaches the host like
  // any other.
  bool FireEvent(HtmlEvent event) override;
  // Types a key through the browser's input (Input.dispatchKeyEvent).
  bool DispatchKey(const std::string& type, int keyCode) override;
  HRESULT CallScript(const std::string& name, const ScriptArgs& args, ScriptValue* result) override;

  // The text of the last failed CallScript or load, for the program's error
  // texts.
  const std::string& LastError() const { return lastError_; }
  // Time allowed for a page to load (default 15 s, on the installed clock).
  void SetLoadTimeout(Millis timeout) { loadTimeout_ = timeout; }

  // Waits until every document of the calling thread has loaded what it was
  // sent to (its window told), the pages loading side by side meanwhile.
  // Documents made while deferred and not yet started are not waited for.
  static void FinishLoads();

  // While deferred, documents made on the calling thread get their page
  // (and renderer) only once StartDeferred is called or a call first needs
  // the page (an element read or write, a script call, its window shown):
  // the page the user waits for starts alone, hidden windows after it. A
  // navigation asked for meanwhile starts with the page.
  static void DeferNew(bool defer);
  static void StartDeferred();

  // Handles the page's waiting events (clicks of the user...), waiting up to
  // `timeout` for one. For loops that do not pump messages (tests).
  bool ProcessEvents(Millis timeout);

  // Real input, as a user gives it (coordinates in CSS pixels of the page).
  // Sent without waiting for the browser, which answers only after the host
  // has handled the events it causes; ProcessEvents() lets them through.
  void MouseEvent(const std::string& type, double x, double y, int clickCount = 1);
  // The centre of an element in page coordinates; false when it has no box.
  bool ElementCentre(const HtmlElementPtr& element, double* x, double* y) const;
  // Waits (up to `timeout`) until no animation or transition of a finite
  // length moves the element or a box around it (a menu sliding in), so its
  // centre is where a click finds it; the page tells when they end. False
  // when one still runs or the page cannot be asked.
  bool WaitUntilStill(const HtmlElementPtr& element, Millis timeout) const;
  // The page as a PNG image of its viewport (empty on failure).
  std::string CaptureScreenshot() const;
  // Sets the viewport size (headless) or the window's bounds (shown).
  void SetBounds(int x, int y, int width, int height);
  // Hidden: withdrawn from the screen (no window, no task-bar entry) where
  // the display lets us, else moved far off it.
  void SetVisible(bool visible);
  // A callable that places the page where its window is (screen position,
  // size, shown or not); safe to keep after the document has gone (then it
  // does nothing). For the window layer's hooks.
  // A minimised window keeps its place and size; the window manager shows
  // it minimised.
  using Follower = std::function<void(int x, int y, int width, int height, bool visible, bool minimized)>;
  Follower MakeFollower();
  // And one that gives the page's X window (platform/html/X11Windows.h): 0
  // headless, without an X display, and once the document has gone.
  using XWindowGetter = std::function<unsigned long()>;
  XWindowGetter MakeXWindowGetter();
  // And one that reads where in the page's window (window pixels) the mouse
  // button held down was pressed, while the page's question asked during
  // that press is being answered: false otherwise.
  using PressReader = std::function<bool(int* x, int* y)>;
  PressReader MakePressReader();
  // The same kind of callable that reads where the page's window is on the
  // screen now, moved there by the desktop or not (once its window has been
  // closed, where it was last seen): false headless, while the window is
  // hidden, minimised or maximised, and once the document has gone.
  using PlaceReader = std::function<bool(int* x, int* y)>;
  PlaceReader MakePlaceReader();
  // And one that gives the page's window a title (the desktop's task bar
  // shows it), held like an element write.
  using TitleSetter = std::function<void(const std::string& title)>;
  TitleSetter MakeTitleSetter();

  // The user closed the page's own window (the desktop's close button, or
  // the browser's close key): `closed` runs on the document's thread. A
  // shown page is asked first and stays, window and content, for the
  // program to hide or close; a window that went all the same is made again
  // and the page loaded in it, placed as the follower last placed it (a page
  // whose renderer died is loaded again the same way), and DocumentComplete
  // follows.
  void SetWindowClosedHandler(std::function<void()> closed) { windowClosed_ = std::move(closed); }
  // A key the browser would act on itself (F5, and with Ctrl: R, P, W, F4)
  // pressed in the page: the browser does nothing with it, and `handler` gets
  // it (virtual key, Ctrl, Shift, Alt) while the page waits, so the program's
  // key handling sees it as a key of its window; true when that took it. The
  // page's own handlers still see the key.
  using KeyHandler = std::function<bool(int key, bool ctrl, bool shift, bool alt)>;
  void SetKeyHandler(KeyHandler handler) { keyHandler_ = std::move(handler); }

  // Both wait until the page target is set up (empty when it failed).
  const std::string& TargetId() const;
  const std::string& SessionId() const;

  // Element calls (ChromiumElement): runs operation `op` of the page script
  // on the element with handle `handle`; null result when the page cannot be
  // reached.
  chromium::Json Run(const std::string& op, const chromium::Json& args) const;
  // Element writes (which answer nothing) are held and go to the page in one
  // call with the next call of any kind, or when the thread is next idle; a
  // page that has gone drops them. False when the page cannot be reached.
  bool Hold(const std::string& op, chromium::Json args) const;
  HtmlElementPtr ElementOf(int handle) const;

 private:
  explicit ChromiumHtmlDocument(std::shared_ptr<chromium::Browser> browser);
  // Set-up: the page target is made, attached to and set up by commands
  // that go one after the other without waiting; the replies come as events.
  void Open();
  // Opens a deferred document's page now.
  void OpenDeferred();
  void Attach();
  void SetUp();
  void SetUpAnswered(const std::string& method, const chromium::Reply& reply, bool needed);
  void Fail(const std::string& why);
  // Waits until the set-up is done (or, not `whole`, until the page has a
  // session to send commands to); false when it failed.
  bool EnsureReady(bool whole = true);
  // Waits until the program's navigation under way (if any) has loaded;
  // false when it did not (LastError says why).
  bool FinishLoad();
  // Starts the navigation of loading_ (the set-up done or under way).
  void StartNavigation();
  void Navigated(std::uint64_t serial, const chromium::Reply& reply);
  void EndLoad(bool loaded);
  // The page target has gone (its window closed) or its renderer died: a new
  // one is made and the page loaded again.
  void PageLost(bool windowClosed);
  // The page target could not be opened or set up: failed, or lost again
  // when it was being made again after a loss.
  void SetUpFailed(const std::string& why);
  void Reopen();
  void OnEvent(const std::string& method, const chromium::Json& params);
  void OnPaused(const chromium::Json& params);
  // What the page told without stopping, answered in order, one at a time:
  // never inside another answer of this page.
  void OnTold(const chromium::Json& params);
  void AnswerTold();
  chromium::Json Answer(const chromium::Json& request);
  void OnRequestPaused(const chromium::Json& params);
  // Starts loading `url`; with `wait`, waits until it has loaded (false when
  // it did not), else true when it started.
  bool LoadUrl(const std::string& url, bool notify, bool wait, bool reload = false);
  // The start script of new documents carries the host's settings, so a page
  // starting need not stop to ask for them; it is replaced when they change.
  chromium::Json HostSettings() const;
  bool UpdateStartScript(const chromium::Json& settings);
  // The host's settings as the page shown may take them.
  chromium::Json PageSettings() const;
  // Sends the host's settings to a loaded page that started with others.
  void ConfigureIfChanged();
  void SendHeld() const;
  // Runs operation `op` of the page script after the held writes.
  chromium::Reply CallPage(const std::string& op, const chromium::Json& args) const;
  chromium::Reply Page(const std::string& method, const chromium::Json& params = chromium::Json::object(),
                       Millis timeout = chromium::Browser::kCommandTimeout) const;

  std::shared_ptr<chromium::Browser> browser_;
  std::string targetId_;
  std::string sessionId_;
  HtmlDocumentHost* host_ = nullptr;
  std::string url_ = "about:blank";
  bool silent_ = false;
  int contextId_ = 0;
  enum class SetUpState { Opening, Running, Ready, Failed };
  SetUpState setUp_ = SetUpState::Opening;
  bool deferred_ = false;  // made while deferred: no page asked for yet
  int setUpLeft_ = 0;      // set-up commands not yet answered
  Millis setUpDeadline_ = 0;
  // The program's own navigation under way: the wait for it comes with the
  // next call that needs the page.
  struct Load {
    std::uint64_t serial = 0;
    Millis deadline = 0;
    std::string url;
    bool notify = true;
    bool reload = false;
    chromium::Json settings;  // the host's settings when it was asked for
  };
  std::optional<Load> loading_;
  std::uint64_t loadSerial_ = 0;
  bool loadOk_ = true;  // how the last one ended
  bool startScriptPending_ = false;
  std::uint64_t loads_ = 0;                       // load events of the main frame so far
  std::uint64_t stops_ = 0;                       // times the main frame stopped loading
  bool ownLoad_ = false;                          // the next main-frame request is the program's own: no BeforeNavigate
  bool quiet_ = false;                            // LoadFile/LoadHtml: no completion calls
  int cancelled_ = 0;                             // events whose default action the host cancelled
  int answering_ = 0;                             // answers to this page under way
  std::optional<std::pair<int, int>> heldPress_;  // the press of the question being answered
  std::deque<std::pair<int, chromium::Json>> told_;  // (context, request) not yet answered
  int shownLeft_ = 0;
  int shownTop_ = 0;
  struct Placed {
    int x = 0, y = 0, width = 0, height = 0;
    bool visible = true;
    bool minimized = false;
    bool operator==(const Placed&) const = default;
  };
  std::optional<Placed> placed_;
  std::optional<Placed> asked_;  // where the window asked for the page last
  bool standby_ = false;
  void Follow(const Placed& asked);
  std::optional<Placed> deferredPlace_;  // a hidden placement for the page once opened
  // Writes by id to a deferred page: they go once it has loaded, as writes
  // waiting for a load would.
  mutable chromium::Json deferredWrites_ = chromium::Json::array();
  void SendDeferredWrites();
  void Place(const Placed& now);
  // A hidden window's size (shown: SetBounds), where it stays.
  void SetHiddenSize(int width, int height);
  // The page's browser window to these bounds (a shown browser's).
  void SetWindowBounds(const chromium::Json& bounds);
  unsigned long FoundXWindow();  // looked for once per page
  bool lost_ = false;            // a new page target is on its way
  int reopens_ = 0;              // pages made again since one last loaded
  // The page a page made again goes back to, until it has navigated: one
  // lost again before that still shows about:blank.
  std::string reopenUrl_;
  std::optional<std::pair<int, int>> lastSeen_;  // where its window was last placed or read
  unsigned long xWindow_ = 0;                    // the page's X window, once looked for
  bool xWindowSought_ = false;
  std::function<void()> windowClosed_;
  bool navigationRequested_ = false;  // the page asked to go elsewhere since it last loaded
  KeyHandler keyHandler_;
  std::string fulfil_;  // HTML that answers the next document request (LoadHtml)
  bool fulfilPending_ = false;
  Millis loadTimeout_ = 15000;
  int viewportWidth_ = 800;
  int viewportHeight_ = 600;
  bool closed_ = false;
  mutable std::string lastError_;
  mutable std::map<int, std::weak_ptr<ChromiumElement>> elements_;
  mutable chromium::Json held_ = chromium::Json::array();  // [[op, args]...] not yet sent
  // Text written into the page since its garbage was last collected. A page
  // written again and again (the queue at every track) leaves the old
  // elements behind, and a page nobody looks at is seldom collected by
  // itself: its renderer grew by 60 MB over a long play.
  mutable std::size_t writtenSinceCollect_ = 0;
  void NoteWritten(const chromium::Json& writes) const;
  std::string startScriptId_;
  chromium::Json startSettings_;
  // The host's settings the page shown took; one that changed meanwhile (a
  // window gives window.external after starting its page) is sent to it
  // once it has loaded.
  chromium::Json pageSettings_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace platform
