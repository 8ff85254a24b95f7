// The Chromium page host with real pages (label browser).
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/html/Url.h"
#include "platform/kernel/Messages.h"
#include "tests/support/BrowserTestSupport.h"
#include "tests/support/TempFolder.h"

namespace {

using platform::HtmlElementPtr;
using platform::ScriptArgs;
using platform::ScriptValue;
using zorva::test::OpenPage;
using zorva::test::WritePage;

// A window as the document sees it: records what it is told, answers as set.
class RecordingHost : public platform::HtmlDocumentHost {
 public:
  std::vector<std::string> events;       // "type id"
  std::vector<std::string> navigations;  // BeforeNavigate urls
  std::vector<std::string> completions;  // "nav url" / "doc url"
  std::function<bool(platform::HtmlEvent&)> cancelEvent = [](platform::HtmlEvent&) { return false; };
  std::function<bool(const std::string&)> cancelNavigation = [](const std::string&) { return false; };
  platform::ScriptDispatch* external = nullptr;
  std::vector<std::string> types = {"click", "keydown", "keypress", "mousedown", "mouseup"};

  void HandleEvent(platform::HtmlEvent& event) override {
    events.push_back(event.type + " " + event.srcElement->GetId());
    if (cancelEvent(event)) event.returnValue = false;
  }
  void BeforeNavigate(const std::string& url, bool* cancel) override {
    navigations.push_back(url);
    *cancel = cancelNavigation(url);
  }
  void NavigateComplete(const std::string& url) override { completions.push_back("nav " + url); }
  void DocumentComplete(const std::string& url) override { completions.push_back("doc " + url); }
  platform::ScriptDispatch* External() override { return external; }
  std::vector<std::string> EventTypes() const override { return types; }
};

class ChromiumDocumentTest : public ::testing::Test {
 protected:
  std::string Page(const std::string& name, const std::string& html) { return WritePage(folder_.Path(), name, html); }

  zorva_test::TempFolder folder_;
};

TEST_F(ChromiumDocumentTest, LoadsAPageFileAndReadsAndWritesItsElements) {
  const std::string path = Page("read.htm",
                                "<html><body id=main><div id=Box class=\"a b\" style=\"color: red\" listID=3>"
                                "Hello <b>world</b></div><input id=field value=start><input id=check type=checkbox>"
                                "</body></html>");
  auto page = OpenPage(path);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->GetUrl(), platform::FileUrl(path));

  auto box = page->GetElementById("Box");
  ASSERT_TRUE(box);
  EXPECT_EQ(page->GetElementById("box"), box) << "ids are matched ignoring case, one object per element";
  EXPECT_EQ(page->GetElementById("nothing"), nullptr);
  EXPECT_EQ(page->GetElementById(""), nullptr);
  EXPECT_EQ(box->GetTagName(), "DIV");
  EXPECT_EQ(box->GetInnerText(), "Hello world");
  EXPECT_EQ(box->GetInnerHtml(), "Hello <b>world</b>");
  EXPECT_EQ(box->GetClassName(), "a b");
  EXPECT_EQ(box->GetAttribute("LISTID"), "3");
  EXPECT_EQ(box->GetStyle("color"), "red");
  EXPECT_EQ(box->GetParent(), page->GetBody());
  EXPECT_EQ(page->GetBody()->GetId(), "main");
  EXPECT_EQ(page->GetDocumentElement()->GetTagName(), "HTML");

  box->SetInnerHtml("<span id=inner>new</span>");
  auto inner = page->GetElementById("inner");
  ASSERT_TRUE(inner);
  EXPECT_EQ(box->GetChildren(), std::vector<HtmlElementPtr>{inner});
  box->SetInnerText("<b>plain</b>");
  EXPECT_FALSE(inner->IsInDocument());
  EXPECT_EQ(inner->GetInnerText(), "new") << "a detached element still answers";
  EXPECT_EQ(box->GetInnerHtml(), "&lt;b&gt;plain&lt;/b&gt;");
  EXPECT_TRUE(box->SetAttribute("data-x", "1"));
  EXPECT_FALSE(box->SetAttribute("bad name", "1"));
  box->SetStyleDisplay("none");
  EXPECT_EQ(box->GetStyleDisplay(), "none");

  auto field = page->GetElementById("field");
  field->SetValue("typed");
  EXPECT_EQ(field->GetValue(), "typed");
  EXPECT_EQ(field->GetAttribute("value"), "start");
  EXPECT_TRUE(field->IsTextEdit());
  auto check = page->GetElementById("check");
  EXPECT_FALSE(check->IsTextEdit());
  check->SetChecked(true);
  EXPECT_TRUE(check->GetChecked());
  EXPECT_EQ(check->GetValue(), "on");
}

TEST_F(ChromiumDocumentTest, CallsAPageFunctionWithItsArgumentsAndSeesWhatItChanged) {
  auto page = OpenPage(Page("call.htm",
                            "<div id=out></div><script>"
                            "function setthetimer(s) { document.getElementById('out').innerHTML = s; }"
                            "function join(a, b, c) { return a + '|' + b + '|' + c; }"
                            "function twice(n) { return n * 2; }"
                            "</script>"));
  ASSERT_TRUE(page);
  EXPECT_EQ(page->CallScript("setthetimer", {ScriptValue("42")}, nullptr), S_OK);
  EXPECT_EQ(page->GetElementById("out")->GetInnerText(), "42");

  ScriptValue result;
  EXPECT_EQ(page->CallScript("join", {ScriptValue("a'b"), ScriptValue("\");x(\""), ScriptValue(7)}, &result), S_OK);
  EXPECT_EQ(result, ScriptValue("a'b|\");x(\"|7")) << "texts pass as values, in order, never as script";
  EXPECT_EQ(page->CallScript("twice", {ScriptValue(21)}, &result), S_OK);
  EXPECT_EQ(result, ScriptValue(42));
}

// Long texts cross the pipe packed; what the page and the host see is the text
// as it was, and a long answer comes back whole.
TEST_F(ChromiumDocumentTest, LongTextsReachThePageWholeAndLongAnswersComeBack) {
  auto page = OpenPage(Page("long.htm",
                            "<div id=box></div><script>"
                            "function join(a, b, c) { return a + '|' + b + '|' + c; }"
                            "</script>"));
  ASSERT_TRUE(page);
  std::string html;
  for (int i = 0; html.size() < 300000; ++i) {
    html += "<span id=\"s" + std::to_string(i) +
            "\" class=\"tag\">caf\xC3\xA9 \xF0\x9F\x8E\xB5 &amp; \"q\" 'a' \\n</span> ";
  }
  auto box = page->GetElementById("box");
  ASSERT_TRUE(box);
  box->SetInnerHtml(html);
  EXPECT_EQ(box->GetInnerHtml(), html);
  ASSERT_TRUE(page->GetElementById("s2000"));
  EXPECT_EQ(page->GetElementById("s2000")->GetInnerText(), "caf\xC3\xA9 \xF0\x9F\x8E\xB5 & \"q\" 'a' \\n");

  const std::string other(100000, 'x');
  ScriptValue result;
  EXPECT_EQ(page->CallScript("join", {ScriptValue(html), ScriptValue("short"), ScriptValue(other)}, &result), S_OK);
  EXPECT_EQ(result, ScriptValue(html + "|short|" + other)) << "several long texts keep their places";
}

TEST_F(ChromiumDocumentTest, BadCallsAnswerAnErrorAndChangeNothing) {
  auto page = OpenPage(Page("bad.htm",
                            "<div id=out>same</div><script>"
                            "function fails() { document.getElementById('out').innerHTML = 'half';"
                            " throw new Error('broken'); }"
                            "var notAFunction = 3;"
                            "</script>"));
  ASSERT_TRUE(page);
  EXPECT_EQ(page->CallScript("nosuchfunction", {}, nullptr), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(page->CallScript("notAFunction", {}, nullptr), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(page->CallScript("fails", {}, nullptr), DISP_E_EXCEPTION);
  EXPECT_NE(page->LastError().find("broken"), std::string::npos) << page->LastError();

  const std::string before = page->GetUrl();
  EXPECT_FALSE(page->LoadFile(folder_.File("missing.htm")));
  EXPECT_EQ(page->GetUrl(), before);
  EXPECT_EQ(page->GetElementById("out")->GetInnerText(), "half");
}

// A page whose links, checkbox and field report what happened.
const char kClickPage[] = R"HTML(<html><body>
<a id=stay href="other.htm">other page</a>
<a id=hash href="#part">anchor</a>
<input id=check type=checkbox>
<input id=field>
<div id=holder style="width:200px;height:40px"><span id=inner onclick="this.parentNode.click()">inner text</span></div>
<div id=log></div>
<script>
  var downs = 0, ups = 0, moves = 0;
  document.addEventListener('mousedown', function () { downs++; });
  document.addEventListener('mouseup', function () { ups++; });
  document.addEventListener('mousemove', function () { moves++; });
  function counts() { return downs + ',' + moves + ',' + ups; }
  function clickLink(id) { document.getElementById(id).click(); return location.href; }
</script>
<p id=part style="margin-top:3000px">part</p>
</body></html>)HTML";

TEST_F(ChromiumDocumentTest, ALinkWhoseHandlerAnswersFalseStaysAndOneAnsweringOkNavigates) {
  const std::string path = Page("links.htm", kClickPage);
  Page("other.htm", "<div id=there>there</div>");
  RecordingHost host;
  host.cancelEvent = [](platform::HtmlEvent& e) { return e.type == "click" && e.srcElement->GetId() == "stay"; };
  auto page = OpenPage(path, &host);
  ASSERT_TRUE(page);

  ASSERT_TRUE(zorva::test::ClickElement(*page, page->GetElementById("stay")));
  ASSERT_TRUE(zorva::test::ProcessUntil(*page, [&] { return !host.events.empty(); }));
  EXPECT_EQ(host.events, (std::vector<std::string>{"mousedown stay", "mouseup stay", "click stay"}));
  EXPECT_TRUE(host.navigations.empty());
  EXPECT_EQ(page->GetUrl(), platform::FileUrl(path));

  host.cancelEvent = [](platform::HtmlEvent&) { return false; };
  host.events.clear();
  ASSERT_TRUE(zorva::test::ClickElement(*page, page->GetElementById("stay")));
  ASSERT_TRUE(zorva::test::ProcessUntil(*page, [&] { return page->GetElementById("there") != nullptr; }));
  EXPECT_EQ(host.navigations, std::vector<std::string>{platform::FileUrl(folder_.File("other.htm"))});
  EXPECT_EQ(page->GetUrl(), platform::FileUrl(folder_.File("other.htm")));
  ASSERT_TRUE(zorva::test::ProcessUntil(*page, [&] { return host.completions.size() == 2; }));
  EXPECT_EQ(host.completions, (std::vector<std::string>{"nav " + page->GetUrl(), "doc " + page->GetUrl()}));
}

TEST_F(ChromiumDocumentTest, NavigationsAskTheHostFirstAndACancelledOneLeavesThePage) {
  const std::string path = Page("nav.htm", kClickPage);
  Page("other.htm", "<div id=there>there</div>");
  RecordingHost host;
  host.cancelNavigation = [](const std::string&) { return true; };
  auto page = OpenPage(path, &host);
  ASSERT_TRUE(page);

  ScriptValue url;
  EXPECT_EQ(page->CallScript("clickLink", {ScriptValue("stay")}, &url), S_OK);
  // The request is held until the host answers it (here, when idle).
  ASSERT_TRUE(zorva::test::ProcessUntil(*page, [&] { return host.navigations.size() == 1; }));
  EXPECT_EQ(page->CallScript("clickLink", {ScriptValue("hash")}, &url), S_OK);
  EXPECT_EQ(url.ToText(), platform::FileUrl(path)) << "a cancelled '#' link does not move";
  EXPECT_FALSE(page->Navigate("other.htm"));
  ASSERT_TRUE(zorva::test::ProcessUntil(*page, [&] { return host.navigations.size() == 3; }))
      << ::testing::PrintToString(host.navigations);
  EXPECT_EQ(host.navigations,
            (std::vector<std::string>{platform::FileUrl(folder_.File("other.htm")), platform::FileUrl(path) + "#part",
                                      platform::FileUrl(folder_.File("other.htm"))}));
  EXPECT_TRUE(page->GetElementById("log"));
  EXPECT_EQ(page->GetUrl(), platform::FileUrl(path));
  EXPECT_TRUE(host.completions.empty());

  host.cancelNavigation = [](const std::string&) { return false; };
  EXPECT_EQ(page->CallScript("clickLink", {ScriptValue("hash")}, &url), S_OK);
  EXPECT_EQ(url, ScriptValue(platform::FileUrl(path) + "#part"));
  EXPECT_TRUE(page->Navigate("other.htm"));
  EXPECT_TRUE(page->GetElementById("there"));
  EXPECT_EQ(host.completions.back(), "doc " + platform::FileUrl(folder_.File("other.htm")));
}

TEST_F(ChromiumDocumentTest, ACancelledCheckboxClickOrKeyChangesNothing) {
  RecordingHost host;
  host.cancelEvent = [](platform::HtmlEvent& e) {
    // While the click is heard the box already reads as checked.
    if (e.type == "click") return e.srcElement->GetChecked();
    return e.type == "keypress" && e.keyCode == 'x';
  };
  auto page = OpenPage(Page("check.htm", kClickPage), &host);
  ASSERT_TRUE(page);
  auto check = page->GetElementById("check");
  ASSERT_TRUE(zorva::test::ClickElement(*page, check));
  EXPECT_EQ(host.events.back(), "click check");
  EXPECT_FALSE(check->GetChecked());

  auto field = page->GetElementById("field");
  ASSERT_TRUE(zorva::test::ClickElement(*page, field));
  EXPECT_TRUE(page->DispatchKey("keypress", 'a'));
  EXPECT_FALSE(page->DispatchKey("keypress", 'x'));
  EXPECT_TRUE(page->DispatchKey("keypress", 'b'));
  EXPECT_EQ(field->GetValue(), "ab");
}

TEST_F(ChromiumDocumentTest, RealMouseInputReachesPageScriptAndAForwardedClickReachesTheHolderOnce) {
  RecordingHost host;
  host.types = {"click"};
  auto page = OpenPage(Page("mouse.htm", kClickPage), &host);
  ASSERT_TRUE(page);
  double x = 0, y = 0;
  ASSERT_TRUE(page->ElementCentre(page->GetElementById("inner"), &x, &y));
  page->MouseEvent("move", x - 5, y);
  page->MouseEvent("down", x - 5, y);
  page->MouseEvent("move", x, y);
  page->MouseEvent("up", x, y);
  ScriptValue counts;
  EXPECT_EQ(page->CallScript("counts", {}, &counts), S_OK);
  EXPECT_EQ(counts, ScriptValue("1,2,1"));
  EXPECT_EQ(host.events, (std::vector<std::string>{"click inner", "click holder"}));
}

TEST_F(ChromiumDocumentTest, AClickOnAMenuSlidingInWaitsUntilItStandsStill) {
  RecordingHost host;
  host.types = {"click"};
  auto page = OpenPage(Page("slide.htm", R"HTML(<body style="margin:0">
    <div id=under style="position:absolute;top:0;left:0;width:300px;height:100px"></div>
    <div id=frame style="position:absolute;top:100px;left:0;width:300px;height:100px;overflow:hidden">
      <div id=menu style="transform:translateY(-100%);transition:transform 600ms linear">
        <a id=entry href="#" style="display:block;height:100px">entry</a>
      </div>
    </div>
    <script>function slideIn() { document.getElementById('menu').style.transform = 'none'; }</script>
  </body>)HTML"),
                       &host);
  ASSERT_TRUE(page);
  ASSERT_EQ(page->CallScript("slideIn", {}, nullptr), S_OK);
  // Half way down the entry still lies above the frame, over "under".
  ASSERT_TRUE(zorva::test::ClickElement(*page, page->GetElementById("entry")));
  EXPECT_EQ(host.events, std::vector<std::string>{"click entry"});
}

// window.external of a page: one method of each argument kind.
class Sink : public platform::ScriptDispatch {
 public:
  Sink() {
    AddMethod("InsertScheduleItem", {platform::ScriptType::Int, platform::ScriptType::Int},
              [this](const ScriptArgs& args) {
                calls.push_back(std::to_string(args[0].AsInt()) + "-" + std::to_string(args[1].AsInt()));
                return ScriptValue();
              });
    AddMethod("Echo", {platform::ScriptType::Text}, [this](const ScriptArgs& args) {
      calls.push_back(args[0].ToText());
      return ScriptValue("echo " + args[0].ToText());
    });
  }
  std::vector<std::string> calls;
};

TEST_F(ChromiumDocumentTest, PageScriptCallsWindowExternalAndBadCallsAreScriptErrors) {
  Sink sink;
  RecordingHost host;
  host.external = &sink;
  auto page = OpenPage(Page("external.htm", R"HTML(<div id=out></div><script>
    function call(f) { try { return String(f()); } catch (e) { return 'error: ' + e.message; } }
    function good() { return call(function () { window.external.InsertScheduleItem(60, '90'); return window.external.Echo('a"b'); }); }
    function missing() { return call(function () { return window.external.InsertScheduleItem(60); }); }
    function notNumber() { return call(function () { return window.external.InsertScheduleItem('x', 2); }); }
    function unknown() { return call(function () { return window.external.NoSuchMethod(1); }); }
  </script>)HTML"),
                       &host);
  ASSERT_TRUE(page);
  ScriptValue result;
  ASSERT_EQ(page->CallScript("good", {}, &result), S_OK);
  EXPECT_EQ(result, ScriptValue("echo a\"b"));
  EXPECT_EQ(sink.calls, (std::vector<std::string>{"60-90", "a\"b"}));
  for (const char* bad : {"missing", "notNumber", "unknown"}) {
    ASSERT_EQ(page->CallScript(bad, {}, &result), S_OK);
    EXPECT_EQ(result.ToText().rfind("error: ", 0), 0u) << bad << ": " << result.ToText();
  }
  EXPECT_EQ(sink.calls.size(), 2u) << "a bad call runs nothing";
}

// A page function that echoes to the program, as the generator's length and
// the scheduler's layout do; the host calls it while an event of a page waits.
const char kEchoPage[] = R"HTML(<div id=target style="width:100px;height:30px">target</div><script>
  var echoed = 'none';
  function echo(text) {
    try { window.external.Echo(text); echoed = 'sent ' + text; } catch (e) { echoed = 'error: ' + e.message; }
    return echoed;
  }
  function twice() { window.external.Echo('first'); window.external.Echo('second'); }
  function bad() { window.external.NoSuchMethod(1); }
  var errors = [];
  window.addEventListener('error', function (e) { errors.push(e.message); });
  function errorsSeen() { return errors.join('|'); }
</script>)HTML";

TEST_F(ChromiumDocumentTest, PageCallsOfWindowExternalFromInsideAnEventArriveOnceItIsAnswered) {
  Sink sink;
  RecordingHost host;
  host.external = &sink;
  host.types = {"click"};
  auto page = OpenPage(Page("echo.htm", kEchoPage), &host);
  auto other = OpenPage(Page("echo2.htm", kEchoPage), &host);
  ASSERT_TRUE(page && other);

  // In the handler of its own page's click, then of a click on another page.
  struct Case {
    platform::ChromiumHtmlDocument* clicked;
    platform::ChromiumHtmlDocument* called;
    const char* text;
  };
  for (const Case& c : {Case{page.get(), page.get(), "own"}, Case{other.get(), page.get(), "across"}}) {
    sink.calls.clear();
    ScriptValue during;
    host.cancelEvent = [&](platform::HtmlEvent&) {
      c.called->CallScript("echo", {ScriptValue(c.text)}, &during);
      return false;
    };
    ASSERT_TRUE(zorva::test::ClickElement(*c.clicked, c.clicked->GetElementById("target"))) << c.text;
    ASSERT_TRUE(zorva::test::ProcessUntil(*c.called, [&] { return !sink.calls.empty(); })) << c.text;
    EXPECT_EQ(sink.calls, std::vector<std::string>{c.text});
    EXPECT_EQ(during, ScriptValue(std::string("sent ") + c.text)) << "no error reaches the page";
  }

  // Several calls keep their order; a bad one runs nothing and is a script
  // error of the page, as a call outside an event is.
  sink.calls.clear();
  host.cancelEvent = [&](platform::HtmlEvent&) {
    page->CallScript("bad", {}, nullptr);
    page->CallScript("twice", {}, nullptr);
    return false;
  };
  ASSERT_TRUE(zorva::test::ClickElement(*page, page->GetElementById("target")));
  ASSERT_TRUE(zorva::test::ProcessUntil(*page, [&] { return sink.calls.size() == 2; }));
  EXPECT_EQ(sink.calls, (std::vector<std::string>{"first", "second"}));
  ScriptValue errors;
  ASSERT_EQ(page->CallScript("errorsSeen", {}, &errors), S_OK);
  EXPECT_NE(errors.ToText().find("NoSuchMethod"), std::string::npos) << errors.ToText();
}

TEST_F(ChromiumDocumentTest, AnotherPageOrHostNeverGetsWindowExternal) {
  Sink sink;
  RecordingHost host;
  host.external = &sink;
  const std::string own =
      Page("own.htm", "<a id=away href=\"other.htm\">x</a><a id=web href=\"http://127.0.0.1:9/\">y</a>");
  Page("other.htm", "<script>function probe() { return typeof window.external; }</script>");
  // The window's filter: only its own page file.
  host.cancelNavigation = [](const std::string& url) { return url.find("own.htm") == std::string::npos; };
  auto page = OpenPage(own, &host);
  ASSERT_TRUE(page);
  for (const char* id : {"away", "web"}) {
    ASSERT_TRUE(zorva::test::ClickElement(*page, page->GetElementById(id)));
    ASSERT_TRUE(zorva::test::ProcessUntil(*page, [&] { return !host.navigations.empty(); }));
    EXPECT_TRUE(page->GetElementById("away")) << id;
    host.navigations.clear();
  }
  // A host that lets the page go: the other page has no window.external.
  host.cancelNavigation = [](const std::string&) { return false; };
  ASSERT_TRUE(page->Navigate("http://127.0.0.1:9/"));
  EXPECT_EQ(page->GetElementById("away"), nullptr);
  ScriptValue type;
  page->CallScript("eval", {ScriptValue("typeof window.external")}, &type);
  EXPECT_EQ(type, ScriptValue("undefined"));
  EXPECT_TRUE(sink.calls.empty());
}

TEST_F(ChromiumDocumentTest, TheHostMayReadAndWriteThePageWhileAnEventWaits) {
  RecordingHost host;
  auto page = OpenPage(Page("reenter.htm", kClickPage), &host);
  ASSERT_TRUE(page);
  std::string seen;
  host.cancelEvent = [&](platform::HtmlEvent& e) {
    if (e.type != "click") return false;
    seen = page->GetElementById("log")->GetInnerText();
    page->GetElementById("log")->SetInnerText("written during " + e.srcElement->GetId());
    ScriptValue counts;
    page->CallScript("counts", {}, &counts);
    seen += "|" + counts.ToText();
    return false;
  };
  ScriptValue url;
  ASSERT_EQ(page->CallScript("clickLink", {ScriptValue("hash")}, &url), S_OK);
  EXPECT_EQ(seen, "|0,0,0");
  EXPECT_EQ(page->GetElementById("log")->GetInnerText(), "written during hash");
}

TEST_F(ChromiumDocumentTest, AHandlerMayGoToAnotherPageWhileItsEventWaits) {
  RecordingHost host;
  const std::string path = Page("from.htm", kClickPage);
  Page("other.htm", "<div id=there>there</div>");
  auto page = OpenPage(path, &host);
  ASSERT_TRUE(page);
  bool went = false;
  host.cancelEvent = [&](platform::HtmlEvent& e) {
    if (e.type == "click" && e.srcElement->GetId() == "holder") went = page->Navigate("other.htm");
    return true;
  };
  ASSERT_TRUE(zorva::test::ClickElement(*page, page->GetElementById("holder")));
  EXPECT_TRUE(went);
  ASSERT_TRUE(zorva::test::ProcessUntil(*page, [&] { return page->GetElementById("there") != nullptr; }));
  EXPECT_EQ(host.completions.back(), "doc " + platform::FileUrl(folder_.File("other.htm")));
}

TEST_F(ChromiumDocumentTest, EveryEventReachesTheHostAfterThePageScriptWasOptimised) {
  RecordingHost host;
  int cancelled = 0;
  host.cancelEvent = [&](platform::HtmlEvent&) { return ++cancelled % 2 == 0; };
  auto page = OpenPage(Page("many.htm", R"HTML(<div id=target></div><script>
    function clickMany(n) {
      var t = document.getElementById('target'), prevented = 0;
      for (var i = 0; i < n; i++) {
        var e = new MouseEvent('click', {bubbles: true, cancelable: true});
        if (!t.dispatchEvent(e)) prevented++;
      }
      return prevented;
    }</script>)HTML"),
                       &host);
  ASSERT_TRUE(page);
  ScriptValue prevented;
  ASSERT_EQ(page->CallScript("clickMany", {ScriptValue(300)}, &prevented), S_OK);
  EXPECT_EQ(host.events.size(), 300u);
  EXPECT_EQ(prevented, ScriptValue(150));
}

TEST_F(ChromiumDocumentTest, AMissingBrowserGivesOneClearErrorNamingThePackage) {
  for (const char* binary : {"/nonexistent/chromium", "/bin/false"}) {
    std::string error;
    platform::chromium::Browser::Options options;
    options.binary = binary;
    options.startTimeout = 5000;
    EXPECT_EQ(platform::chromium::Browser::Start(options, &error), nullptr) << binary;
    EXPECT_NE(error.find("package chromium"), std::string::npos) << error;
  }
}

TEST_F(ChromiumDocumentTest, ABrowserThatDiesIsNoticedAndCallsAnswerAsForNothing) {
  std::string error;
  auto browser = platform::chromium::Browser::Start({}, &error);
  ASSERT_TRUE(browser) << error;
  auto page = platform::ChromiumHtmlDocument::Create(browser, &error);
  ASSERT_TRUE(page) << error;
  ASSERT_TRUE(page->LoadFile(Page("dies.htm", "<div id=a>a</div><script>function f() { return 1; }</script>")));
  int told = 0;
  platform::chromium::Browser::SetDeathHandler([&] { ++told; });
  ASSERT_EQ(::kill(browser->ProcessId(), SIGKILL), 0);
  ASSERT_TRUE(zorva::test::ProcessUntil(*page, [&] {
    platform::PumpMessages();
    return told == 1;
  }));
  EXPECT_FALSE(browser->Alive());
  EXPECT_EQ(page->GetElementById("a"), nullptr);
  EXPECT_NE(page->CallScript("f", {}, nullptr), S_OK);
  platform::chromium::Browser::SetDeathHandler([] { ADD_FAILURE() << "the browser died"; });
}

TEST_F(ChromiumDocumentTest, APageThatNeverFinishesLoadingAnswersFalse) {
  auto page = OpenPage();
  ASSERT_TRUE(page);
  page->SetLoadTimeout(1500);
  EXPECT_FALSE(page->LoadFile(Page("hang.htm", "<script>while (true) {}</script>")));
  EXPECT_NE(page->LastError().find("did not finish loading"), std::string::npos) << page->LastError();
}

TEST_F(ChromiumDocumentTest, ADocumentHeldByAStaticObjectEndsCleanlyAtExit) {
  // A program's windows may live in static objects, destroyed at exit after
  // the main thread's own (thread_local) objects.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string path = Page("static.htm", "<html><body><div id=box>static</div></body></html>");
  EXPECT_EXIT(
      {
        static std::unique_ptr<platform::ChromiumHtmlDocument> held;
        held = OpenPage(path);
        std::exit(held && held->GetElementById("box") ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
