// The Chromium page host with real pages (label browser).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/html/Url.h"
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
  std::vector<std::string> events;         // "type id"
  std::vector<std::string> navigations;    // BeforeNavigate urls
  std::vector<std::string> completions;    // "nav url" / "doc url"
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
  const std::string path =
      Page("read.htm", "<html><body id=main><div id=Box class=\"a b\" style=\"color: red\" listID=3>"
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
  auto page = OpenPage(Page("call.htm", "<div id=out></div><script>"
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

TEST_F(ChromiumDocumentTest, BadCallsAnswerAnErrorAndChangeNothing) {
  auto page = OpenPage(Page("bad.htm", "<div id=out>same</div><script>"
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

}  // namespace
