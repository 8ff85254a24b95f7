// Element writes of a Chromium page go out together with the next call to the
// page (label browser): they keep their order, are in the page before the
// page goes on after an event, and reach it when the thread is idle even if
// nothing else is asked.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/Messages.h"
#include "tests/support/BrowserTestSupport.h"
#include "tests/support/TempFolder.h"

namespace {

using platform::ScriptValue;
using zorva::test::OpenPage;
using zorva::test::WritePage;

class ClickHost : public platform::HtmlDocumentHost {
 public:
  std::vector<std::string> clicks;
  std::function<void(platform::HtmlEvent&)> onClick = [](platform::HtmlEvent&) {};

  void HandleEvent(platform::HtmlEvent& event) override {
    if (event.type != "click") return;
    clicks.push_back(event.srcElement->GetId());
    onClick(event);
  }
  void BeforeNavigate(const std::string&, bool*) override {}
  void NavigateComplete(const std::string&) override {}
  void DocumentComplete(const std::string&) override {}
  platform::ScriptDispatch* External() override { return nullptr; }
  std::vector<std::string> EventTypes() const override { return {"click"}; }
};

TEST(ChromiumHtmlDocumentTest, WritesKeepTheirOrderAndReadsSeeThem) {
  zorva_test::TempFolder folder;
  auto page = OpenPage(WritePage(folder.Path(), "w.htm", "<div id=box>old</div><a id=link>x</a>"));
  ASSERT_TRUE(page);
  auto box = page->GetElementById("box");
  ASSERT_TRUE(box);
  box->SetInnerHtml("<b id=first>1</b>");
  box->SetInnerText("<i>2</i>");
  EXPECT_TRUE(box->SetAttribute("data-n", "3"));
  box->SetStyle("color", "red");
  box->RemoveAttribute("data-n");
  EXPECT_FALSE(box->SetAttribute("bad name", "x")) << "a name no attribute can have still answers false";
  EXPECT_EQ(page->GetElementById("first"), nullptr);
  EXPECT_EQ(box->GetInnerText(), "<i>2</i>");
  EXPECT_FALSE(box->HasAttribute("data-n"));
  EXPECT_EQ(box->GetStyle("color"), "red");
}

TEST(ChromiumHtmlDocumentTest, WhatTheHostWritesDuringAnEventIsThereWhenThePageGoesOn) {
  zorva_test::TempFolder folder;
  ClickHost host;
  auto page = OpenPage(WritePage(folder.Path(), "e.htm",
                                 "<div id=log>none</div><a id=link href='#' onclick=\"seen = "
                                 "document.getElementById('log').textContent; return false;\">x</a>"
                                 "<script>var seen = '';</script>"),
                       &host);
  ASSERT_TRUE(page);
  host.onClick = [&](platform::HtmlEvent&) { page->GetElementById("log")->SetInnerText("written by the host"); };
  ASSERT_EQ(page->CallScript("eval", {ScriptValue("document.getElementById('link').click(); seen")}, nullptr), S_OK);
  ScriptValue seen;
  ASSERT_EQ(page->CallScript("eval", {ScriptValue("seen")}, &seen), S_OK);
  EXPECT_EQ(seen, ScriptValue("written by the host"));
}

// Writes by id go without asking for the element first; a long one (which
// normally crosses packed) must not wait on a page that stands still for
// the host's answer.
TEST(ChromiumHtmlDocumentTest, WritesByIdDuringAnEventReachThePageWholeBeforeItGoesOn) {
  zorva_test::TempFolder folder;
  ClickHost host;
  auto page = OpenPage(WritePage(folder.Path(), "id.htm",
                                 "<div id=Log>none</div><div id=note>old</div><a id=link href='#' onclick=\"seen = "
                                 "document.getElementById('Log').children.length + ' ' + "
                                 "document.getElementById('note').textContent; return false;\">x</a>"
                                 "<script>var seen = '';</script>"),
                       &host);
  ASSERT_TRUE(page);
  const std::string row = "<p>r&eacute;sum&eacute; \"quoted\" \\ row</p>";
  std::string rows;
  int count = 0;
  for (; rows.size() < 40000; ++count) rows += row;
  host.onClick = [&](platform::HtmlEvent&) {
    page->SetElementHtml("log", rows);  // found as ids are, ignoring case
    page->SetElementText("note", "<b>text</b>");
    page->SetElementText("missing", "nothing");
  };
  ASSERT_EQ(page->CallScript("eval", {ScriptValue("document.getElementById('link').click(); seen")}, nullptr), S_OK);
  ScriptValue seen;
  ASSERT_EQ(page->CallScript("eval", {ScriptValue("seen")}, &seen), S_OK);
  EXPECT_EQ(seen.ToText(), std::to_string(count) + " <b>text</b>");
  EXPECT_EQ(page->GetElementById("Log")->GetInnerHtml().find("r\xC3\xA9sum\xC3\xA9 \"quoted\" \\ row"), 3u);
}

TEST(ChromiumHtmlDocumentTest, AWriteReachesThePageWhenTheThreadIsIdle) {
  zorva_test::TempFolder folder;
  ClickHost host;
  // The page answers a change of "box" with a click the host hears.
  auto page = OpenPage(WritePage(folder.Path(), "i.htm",
                                 "<div id=box>old</div><a id=changed>x</a><script>"
                                 "new MutationObserver(() => document.getElementById('changed').click())"
                                 ".observe(document.getElementById('box'), {childList: true});</script>"),
                       &host);
  ASSERT_TRUE(page);
  page->GetElementById("box")->SetInnerText("new");
  // Only the message loop runs: no call of the document sends the write.
  const platform::Millis deadline = platform::TheClock().Now() + 10000;
  while (host.clicks.empty() && platform::TheClock().Now() < deadline) {
    if (platform::PumpMessages() == 0) std::this_thread::yield();
  }
  EXPECT_EQ(host.clicks, std::vector<std::string>{"changed"});
}

}  // namespace
