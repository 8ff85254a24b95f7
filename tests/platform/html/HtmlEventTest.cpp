#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/html/MemoryHtmlDocument.h"
#include "platform/html/ScriptDispatch.h"
#include "platform/html/Url.h"

namespace {

using platform::HtmlEvent;
using platform::MemoryHtmlDocument;
using platform::ScriptValue;

TEST(UrlTest, LinksResolveAgainstThePageAddress) {
  const std::string page = "file:///opt/zorva/Zorva.htm";
  EXPECT_EQ(platform::ResolveUrl(page, "#"), "file:///opt/zorva/Zorva.htm#");
  EXPECT_EQ(platform::ResolveUrl(page + "#old", "#new"), "file:///opt/zorva/Zorva.htm#new");
  EXPECT_EQ(platform::ResolveUrl(page, "Automator.htm"), "file:///opt/zorva/Automator.htm");
  EXPECT_EQ(platform::ResolveUrl(page, "./skin/../Lab.htm?x=1#a"), "file:///opt/zorva/Lab.htm?x=1#a");
  EXPECT_EQ(platform::ResolveUrl(page, "../../../etc/x"), "file:///etc/x");
  EXPECT_EQ(platform::ResolveUrl(page, "/tmp/x.htm"), "file:///tmp/x.htm");
  EXPECT_EQ(platform::ResolveUrl(page, "?q"), "file:///opt/zorva/Zorva.htm?q");
  EXPECT_EQ(platform::ResolveUrl(page, "http://example.com/a"), "http://example.com/a");
  EXPECT_EQ(platform::ResolveUrl(page, "javascript:openlink('x')"), "javascript:openlink('x')");
  EXPECT_EQ(platform::ResolveUrl("http://host/dir/p.htm", "//other/x"), "http://other/x");
  EXPECT_EQ(platform::ResolveUrl("http://host", "x"), "http://host/x");
  EXPECT_EQ(platform::ResolveUrl(page, "\\reorder\\1:2"), "file:///opt/zorva/\\reorder\\1:2");
}

TEST(UrlTest, FileUrlsGiveTheirPath) {
  std::string path;
  ASSERT_TRUE(platform::FileUrlToPath("file:///opt/my%20music/Zorva.htm?x#top", &path));
  EXPECT_EQ(path, "/opt/my music/Zorva.htm");
  EXPECT_FALSE(platform::FileUrlToPath("http://host/Zorva.htm", &path));
  EXPECT_EQ(platform::FileUrl("/a b/c.htm"), "file:///a b/c.htm");
  // Characters that a URL reads otherwise are escaped, and come back.
  EXPECT_EQ(platform::FileUrl("/C#/100%/a?.htm"), "file:///C%23/100%25/a%3F.htm");
  ASSERT_TRUE(platform::FileUrlToPath(platform::FileUrl("/C#/100%/a?.htm"), &path));
  EXPECT_EQ(path, "/C#/100%/a?.htm");
  EXPECT_EQ(platform::StripFragment("a.htm#x#y"), "a.htm");
}

TEST(ScriptDispatchTest, ArgumentsAreConvertedToTheParameterTypes) {
  platform::ScriptDispatch dispatch;
  std::vector<ScriptValue> seen;
  dispatch.AddMethod("UpdateScheduleItem",
                     {platform::ScriptType::Text, platform::ScriptType::Int, platform::ScriptType::Int},
                     [&seen](const platform::ScriptArgs& args) {
                       seen = args;
                       return ScriptValue();
                     });
  dispatch.AddMethod("Echo", {platform::ScriptType::Text}, [](const platform::ScriptArgs& args) { return args[0]; });
  int id = 0;
  ASSERT_EQ(dispatch.GetIdOfName("echo", &id), S_OK);
  EXPECT_EQ(id, 2);

  ASSERT_EQ(dispatch.Invoke("UpdateScheduleItem", {17, " 420 ", ScriptValue()}, nullptr), S_OK);
  EXPECT_EQ(seen, (std::vector<ScriptValue>{ScriptValue("17"), ScriptValue(420), ScriptValue(0)}));
  EXPECT_EQ(dispatch.Invoke("UpdateScheduleItem", {"a", "4x", 1}, nullptr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(dispatch.Invoke("UpdateScheduleItem", {"a"}, nullptr), DISP_E_BADPARAMCOUNT);
  ScriptValue result;
  ASSERT_EQ(dispatch.Invoke("ECHO", {-5}, &result), S_OK);
  EXPECT_EQ(result.ToText(), "-5");
  EXPECT_EQ(dispatch.GetIdOfName("Missing", &id), DISP_E_UNKNOWNNAME);
}

class MemoryHtmlDocumentEventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    folder_ = std::filesystem::temp_directory_path() / ("zorva-events-" + std::to_string(seed()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string Write(const std::string& name, const std::string& html) {
    std::ofstream(folder_ / name) << html;
    return (folder_ / name).string();
  }
  bool Fire(const std::string& type, const std::string& id) {
    return document_.FireEvent(HtmlEvent{type, document_.GetElementById(id)});
  }

  std::filesystem::path folder_;
  MemoryHtmlDocument document_;
};

TEST_F(MemoryHtmlDocumentEventTest, TextEditElementsAreTheOnesTypedInto) {
  document_.LoadHtml(
      "<input id='a'><input id='b' type='Password'><input id='c' type='checkbox'><input id='d' type='button'>"
      "<textarea id='e'></textarea><div id='f' contenteditable='true'></div><div id='g'></div><body></body>");
  std::string edits;
  for (const char* id : {"a", "b", "c", "d", "e", "f", "g"}) {
    edits += document_.GetElementById(id)->IsTextEdit() ? id : "-";
  }
  EXPECT_EQ(edits, "ab--ef-");
  EXPECT_FALSE(document_.GetBody()->IsTextEdit());
}

TEST_F(MemoryHtmlDocumentEventTest, DefaultActionsWithoutAHost) {
  document_.LoadHtml(
      "<input type='radio' id='r' name='n'><input type='checkbox' id='c' checked>"
      "<div id='d'>x</div>");
  EXPECT_TRUE(Fire("click", "r"));
  EXPECT_TRUE(document_.GetElementById("r")->GetChecked());
  EXPECT_TRUE(Fire("click", "r"));
  EXPECT_TRUE(document_.GetElementById("r")->GetChecked());  // a radio stays on
  EXPECT_TRUE(Fire("click", "c"));
  EXPECT_FALSE(document_.GetElementById("c")->GetChecked());
  EXPECT_TRUE(Fire("contextmenu", "d"));
  EXPECT_EQ(document_.ContextMenusShown(), 1);

  // An element of another page, or none, is no event of this one.
  MemoryHtmlDocument other;
  other.LoadHtml("<div id='d'></div>");
  EXPECT_FALSE(document_.FireEvent(HtmlEvent{"contextmenu", other.GetElementById("d")}));
  EXPECT_FALSE(document_.FireEvent(HtmlEvent{"contextmenu", nullptr}));
  EXPECT_EQ(document_.ContextMenusShown(), 1);
}

TEST_F(MemoryHtmlDocumentEventTest, NavigationLoadsFilesAndKeepsThePageForAnchors) {
  const std::string first = Write("first.htm", "<a id='next' href='second.htm'>2</a><p id='mark'>1</p>");
  Write("second.htm", "<p id='arrived'></p>");
  ASSERT_TRUE(document_.LoadFile(first));
  EXPECT_EQ(document_.GetUrl(), platform::FileUrl(first));

  document_.GetElementById("mark")->SetInnerText("changed");
  ASSERT_TRUE(document_.Navigate("#somewhere"));
  EXPECT_EQ(document_.GetElementById("mark")->GetInnerText(), "changed");
  EXPECT_EQ(document_.GetUrl(), platform::FileUrl(first) + "#somewhere");

  EXPECT_TRUE(Fire("click", "next"));
  EXPECT_NE(document_.GetElementById("arrived"), nullptr);
  EXPECT_EQ(document_.GetUrl(), platform::FileUrl((folder_ / "second.htm").string()));

  ASSERT_TRUE(document_.Navigate("missing.htm"));
  EXPECT_EQ(document_.GetElementById("arrived"), nullptr);
  EXPECT_EQ(document_.GetBody()->GetInnerHtml(), "");
}

TEST_F(MemoryHtmlDocumentEventTest, ReloadShowsTheMarkupAgain) {
  document_.LoadHtml("<p id='p'>original</p>");
  document_.GetElementById("p")->SetInnerText("changed");
  document_.Reload();
  EXPECT_EQ(document_.GetElementById("p")->GetInnerText(), "original");
}

TEST_F(MemoryHtmlDocumentEventTest, KeysGoToTheFocusedElementOrTheBody) {
  struct Host : platform::HtmlDocumentHost {
    std::vector<std::string> seen;
    void HandleEvent(HtmlEvent& event) override {
      seen.push_back(event.type + " " + event.srcElement->GetTagName() + " " + std::to_string(event.keyCode));
    }
    void BeforeNavigate(const std::string&, bool*) override {}
    void NavigateComplete(const std::string&) override {}
    void DocumentComplete(const std::string&) override {}
    platform::ScriptDispatch* External() override { return nullptr; }
  } host;
  document_.LoadHtml("<input id='i'>");
  document_.SetHost(&host);
  document_.DispatchKey("keydown", 13);
  document_.Focus(document_.GetElementById("i"));
  document_.DispatchKey("keyup", 27);
  document_.LoadHtml("<p></p>");  // the focused element left the page
  document_.DispatchKey("keydown", 116);
  document_.SetHost(nullptr);
  EXPECT_EQ(host.seen, (std::vector<std::string>{"keydown BODY 13", "keyup INPUT 27", "keydown BODY 116"}));
}

TEST_F(MemoryHtmlDocumentEventTest, ScriptCallsAreRecordedAndAnsweredAsDeclared) {
  document_.DefineScriptFunction("double", [](const platform::ScriptArgs& args) {
    int n = 0;
    args.at(0).ToInt(&n);
    return ScriptValue(2 * n);
  });
  document_.MarkScriptFunctionMissing("nosuch");
  ScriptValue result;
  EXPECT_EQ(document_.CallScript("setthetimer", {"42"}, &result), S_OK);
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_EQ(document_.CallScript("double", {"21"}, &result), S_OK);
  EXPECT_EQ(result, ScriptValue(42));
  EXPECT_EQ(document_.CallScript("nosuch", {}, nullptr), DISP_E_UNKNOWNNAME);
  document_.DefineScriptFunction(
      "broken", [](const platform::ScriptArgs&) -> ScriptValue { throw std::runtime_error("script error"); });
  result = ScriptValue("kept");
  EXPECT_EQ(document_.CallScript("broken", {}, &result), DISP_E_EXCEPTION);
  EXPECT_EQ(result, ScriptValue("kept"));
  ASSERT_EQ(document_.ScriptCalls().size(), 4u);
  EXPECT_EQ(document_.ScriptCalls()[0].name, "setthetimer");
  EXPECT_EQ(document_.ScriptCalls()[0].args, platform::ScriptArgs{ScriptValue("42")});
  document_.ClearScriptCalls();
  EXPECT_TRUE(document_.ScriptCalls().empty());
}

}  // namespace
