#include "platform/window/DHtmlDialog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/html/MemoryHtmlDocument.h"
#include "platform/html/Url.h"
#include "tests/support/TempFolder.h"

namespace {

using platform::HtmlElement;
using platform::HtmlEvent;
using platform::MemoryHtmlDocument;

const DialogTemplate kTemplate{300, 0, 0, 200, 150, WS_POPUP, 0};

const char kPage[] =
    "<html><body id='page'>"
    "<div id='box' class='item'>box</div>"
    "<div id='other' class='item selected'>other</div>"
    "<div id='outer'><span id='inner'>inner</span></div>"
    "<input type='checkbox' id='agree'>"
    "<table><tr><td id='cell'>cell</td></tr></table>"
    "<input type='text' id='field'>"
    "<a id='link' href='next.htm#top'>next</a>"
    "<a id='stay' href='#'><span id='staytext'>stay</span></a>"
    "<p id='para'>p</p><img id='picture'>"
    "</body></html>";

class TestHtmlDialog : public CDHtmlDialog {
 public:
  TestHtmlDialog() : CDHtmlDialog(kTemplate, 301) {}

  std::vector<std::string> log;
  HRESULT agreeAnswer = S_OK;
  bool checkedInHandler = false;
  bool cancelNavigation = false;
  bool safe = false;
  std::vector<std::string> navigations;
  std::vector<std::string> completed;
  std::vector<bool> shownAgain;  // IsKeptPageShownAgain in each completion

  MemoryHtmlDocument& Page() { return *dynamic_cast<MemoryHtmlDocument*>(GetDocument()); }
  bool Fire(const std::string& type, const std::string& id) {
    return Page().FireEvent(HtmlEvent{type, GetElement(id)});
  }

  void OnBeforeNavigate(const std::string& url, bool& cancel) override {
    navigations.push_back(url);
    cancel = cancelNavigation;
  }
  void OnDocumentComplete(const std::string& url) override {
    completed.push_back(url);
    shownAgain.push_back(IsKeptPageShownAgain());
  }
  BOOL IsExternalDispatchSafe() override { return safe ? TRUE : FALSE; }

  const DHtmlEventMap& GetDHtmlEventMap() const override { return ThisDHtmlEventMap(); }
  static const DHtmlEventMap& ThisDHtmlEventMap() {
    static const DHtmlEventMap map(&CDHtmlDialog::ThisDHtmlEventMap(),
                                   {
                                       DHtmlEventOnClick("box", &TestHtmlDialog::OnBoxById),
                                       DHtmlEventClass("click", "item", &TestHtmlDialog::OnItemClass),
                                       DHtmlEventOnClick("outer", &TestHtmlDialog::OnOuter),
                                       DHtmlEventOnClick("agree", &TestHtmlDialog::OnAgree),
                                       DHtmlEventTag("click", "td", &TestHtmlDialog::OnCell),
                                       DHtmlEventTagAll("dblclick", &TestHtmlDialog::OnAnyTag),
                                       DHtmlEvent("keydown", "field", &TestHtmlDialog::OnFieldKey),
                                       DHtmlEventOnClick("stay", &TestHtmlDialog::OnStay),
                                   });
    return map;
  }

 protected:
  HRESULT OnBoxById(HtmlElement&) {
    log.push_back("id");
    return S_OK;
  }
  HRESULT OnItemClass(HtmlElement& element) {
    log.push_back("class " + element.GetId());
    return S_OK;
  }
  HRESULT OnOuter(HtmlElement&) {
    log.push_back("outer");
    return S_OK;
  }
  HRESULT OnAgree(HtmlElement& element) {
    checkedInHandler = element.GetChecked();
    return agreeAnswer;
  }
  HRESULT OnCell(HtmlElement&) {
    log.push_back("td");
    return S_OK;
  }
  HRESULT OnAnyTag(HtmlElement& element) {
    log.push_back(element.GetTagName());
    return S_OK;
  }
  HRESULT OnFieldKey(HtmlElement&) {
    log.push_back("key " + std::to_string(GetEvent() ? GetEvent()->keyCode : -1));
    return S_OK;
  }
  HRESULT OnStay(HtmlElement&) { return S_FALSE; }
};

class DHtmlDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dialog_.Create());
    std::ofstream(folder_.File("page.htm")) << kPage;
    std::ofstream(folder_.File("next.htm")) << "<html><body><p id='arrived'>next</p></body></html>";
    pageUrl_ = platform::FileUrl(folder_.File("page.htm"));
    dialog_.Navigate(pageUrl_);
    dialog_.navigations.clear();
    dialog_.completed.clear();
  }

  zorva_test::TempFolder folder_;
  TestHtmlDialog dialog_;
  std::string pageUrl_;
};

TEST_F(DHtmlDialogTest, HandlersByIdAndByClassOfOneElementBothRunInTableOrder) {
  dialog_.Fire("click", "box");
  EXPECT_EQ(dialog_.log, (std::vector<std::string>{"id", "class box"}));
}

TEST_F(DHtmlDialogTest, ClassEntriesMatchTheWholeClassName) {
  dialog_.Fire("click", "other");
  EXPECT_TRUE(dialog_.log.empty());
}

TEST_F(DHtmlDialogTest, ClickOnAnInnerElementDoesNotRunTheOuterElementsHandler) {
  dialog_.Fire("click", "inner");
  EXPECT_TRUE(dialog_.log.empty());
  dialog_.Fire("click", "outer");
  EXPECT_EQ(dialog_.log, std::vector<std::string>{"outer"});
}

TEST_F(DHtmlDialogTest, CheckboxHasToggledWhenItsHandlerRunsAndSFalseRevertsIt) {
  dialog_.agreeAnswer = S_FALSE;
  EXPECT_FALSE(dialog_.Fire("click", "agree"));
  EXPECT_TRUE(dialog_.checkedInHandler);
  EXPECT_FALSE(dialog_.GetElement("agree")->GetChecked());

  dialog_.agreeAnswer = S_OK;
  EXPECT_TRUE(dialog_.Fire("click", "agree"));
  EXPECT_TRUE(dialog_.GetElement("agree")->GetChecked());
}

TEST_F(DHtmlDialogTest, TagEntriesMatchAnyCaseAndEveryTagEntriesEveryElement) {
  dialog_.Fire("click", "cell");
  EXPECT_EQ(dialog_.log, std::vector<std::string>{"td"});
  dialog_.log.clear();
  for (const char* id : {"para", "picture", "cell", "field", "page"}) dialog_.Fire("dblclick", id);
  EXPECT_EQ(dialog_.log, (std::vector<std::string>{"P", "IMG", "TD", "INPUT", "BODY"}));
  const auto& names = HtmlElementTagNames();
  for (const std::string& tag : dialog_.log) {
    EXPECT_NE(std::find(names.begin(), names.end(), tag), names.end()) << tag;
  }
}

TEST_F(DHtmlDialogTest, AllowedLinkClickNavigatesToItsResolvedAddress) {
  EXPECT_TRUE(dialog_.Fire("click", "link"));
  const std::string expected = platform::FileUrl(folder_.File("next.htm")) + "#top";
  EXPECT_EQ(dialog_.navigations, std::vector<std::string>{expected});
  EXPECT_EQ(dialog_.completed, std::vector<std::string>{expected});
  EXPECT_NE(dialog_.GetElement("arrived"), nullptr);
  EXPECT_EQ(dialog_.GetCurrentUrl(), expected);
}

TEST_F(DHtmlDialogTest, CancelledNavigationLeavesThePage) {
  dialog_.cancelNavigation = true;
  dialog_.Fire("click", "link");
  EXPECT_EQ(dialog_.navigations.size(), 1u);
  EXPECT_TRUE(dialog_.completed.empty());
  EXPECT_NE(dialog_.GetElement("box"), nullptr);
  EXPECT_EQ(dialog_.GetCurrentUrl(), pageUrl_);
}

// Kept pages: the first visit of each loads it; going back to one shows the
// same document as it was left (its changes still there), told as a load;
// a navigation the dialog cancels leaves the page shown.
TEST_F(DHtmlDialogTest, KeptPagesShowTheirDocumentAgainWithoutALoad) {
  const std::string next = platform::FileUrl(folder_.File("next.htm"));
  dialog_.KeepPagesLoaded({pageUrl_, next});
  dialog_.shownAgain.clear();
  dialog_.Navigate(pageUrl_);  // the page shown again: loaded as ever
  dialog_.SetElementText("box", "changed");
  platform::HtmlDocument* first = dialog_.GetDocument();
  dialog_.Navigate(next);
  ASSERT_NE(dialog_.GetElement("arrived"), nullptr);
  platform::HtmlDocument* second = dialog_.GetDocument();
  EXPECT_NE(second, first);
  EXPECT_EQ(dialog_.shownAgain, (std::vector<bool>{false, false})) << "both loaded";

  dialog_.navigations.clear();
  dialog_.completed.clear();
  dialog_.shownAgain.clear();
  dialog_.Navigate(pageUrl_);
  EXPECT_EQ(dialog_.GetDocument(), first);
  EXPECT_EQ(dialog_.GetElementText("box"), "changed");
  EXPECT_EQ(dialog_.navigations, std::vector<std::string>{pageUrl_});
  EXPECT_EQ(dialog_.completed, std::vector<std::string>{pageUrl_});
  EXPECT_EQ(dialog_.shownAgain, std::vector<bool>{true});
  EXPECT_FALSE(dialog_.IsKeptPageShownAgain()) << "only inside its completion";

  dialog_.cancelNavigation = true;
  dialog_.Navigate(next);
  EXPECT_EQ(dialog_.GetDocument(), first);
  EXPECT_EQ(dialog_.completed.size(), 1u);
  dialog_.cancelNavigation = false;
  dialog_.Navigate(next);
  EXPECT_EQ(dialog_.GetDocument(), second);
  EXPECT_NE(dialog_.GetElement("arrived"), nullptr);
}

TEST_F(DHtmlDialogTest, LinkWhoseClickIsCancelledDoesNotNavigate) {
  // A click inside the link reaches the link's own handler only when it is
  // the element clicked: the inner span's click goes on to the link's address.
  EXPECT_FALSE(dialog_.Fire("click", "stay"));
  EXPECT_TRUE(dialog_.navigations.empty());
  EXPECT_TRUE(dialog_.Fire("click", "staytext"));
  EXPECT_EQ(dialog_.navigations, std::vector<std::string>{pageUrl_ + "#"});
  EXPECT_TRUE(dialog_.completed.empty());  // a "#" link stays on the page
  EXPECT_NE(dialog_.GetElement("box"), nullptr);
}

TEST_F(DHtmlDialogTest, KeysReachThePageUnlessTheDialogTakesThem) {
  dialog_.ShowWindow(SW_SHOW);
  dialog_.Page().Focus(dialog_.GetElement("field"));
  PostMessage(dialog_.GetBrowserWindow(), WM_KEYDOWN, 'A', 0);
  platform::PumpWindowMessages();
  EXPECT_EQ(dialog_.log, std::vector<std::string>{"key 65"});

  // A plain HTML dialog: F5 reloads the page, Escape is its Cancel button.
  dialog_.GetElement("box")->SetInnerText("changed");
  PostMessage(dialog_.GetBrowserWindow(), WM_KEYDOWN, VK_F5, 0);
  platform::PumpWindowMessages();
  EXPECT_EQ(dialog_.GetElementText("box"), "box");
  EXPECT_EQ(dialog_.completed, std::vector<std::string>{pageUrl_});

  PostMessage(dialog_.GetBrowserWindow(), WM_KEYDOWN, VK_ESCAPE, 0);
  platform::PumpWindowMessages();
  EXPECT_FALSE(dialog_.IsWindowVisible());
  EXPECT_EQ(dialog_.log.size(), 1u);
}

TEST_F(DHtmlDialogTest, ExternalDispatchReachesPageScriptOnlyWhenSafe) {
  platform::ScriptDispatch external;
  external.AddMethod(
      "Add", {platform::ScriptType::Int, platform::ScriptType::Int},
      [](const platform::ScriptArgs& args) { return platform::ScriptValue(args[0].AsInt() + args[1].AsInt()); });
  dialog_.SetExternalDispatch(&external);
  platform::ScriptValue result;
  EXPECT_EQ(dialog_.Page().CallExternal("Add", {2, 3}, &result), E_NOINTERFACE);

  dialog_.safe = true;
  ASSERT_EQ(dialog_.Page().CallExternal("add", {2, "3"}, &result), S_OK);
  EXPECT_EQ(result, platform::ScriptValue(5));
  EXPECT_EQ(dialog_.Page().CallExternal("Add", {2}, &result), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(dialog_.Page().CallExternal("Add", {2, "three"}, &result), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(dialog_.Page().CallExternal("Sub", {}, &result), DISP_E_UNKNOWNNAME);

  dialog_.DestroyWindow();  // the page loses window.external with its window
  EXPECT_EQ(dialog_.Page().CallExternal("Add", {2, 3}, &result), E_NOINTERFACE);
}

TEST_F(DHtmlDialogTest, DataExchangeMovesCheckboxesBothWays) {
  struct Exchanging : TestHtmlDialog {
    int agree = 1;
    std::string text = "from program";
    void DoDataExchange(CDataExchange* exchange) override {
      DDX_DHtml_CheckBox(exchange, "agree", agree);
      DDX_DHtml_ElementInnerText(exchange, "para", text);
      DDX_DHtml_CheckBox(exchange, "nosuchbox", agree);
    }
  } dialog;
  ASSERT_TRUE(dialog.Create());
  dialog.Navigate(pageUrl_);
  dialog.UpdateData(FALSE);
  EXPECT_TRUE(dialog.GetElement("agree")->GetChecked());
  EXPECT_EQ(dialog.GetElementText("para"), "from program");

  dialog.GetElement("agree")->SetChecked(false);
  dialog.SetElementText("para", "from page");
  dialog.UpdateData(TRUE);
  EXPECT_EQ(dialog.agree, 0);
  EXPECT_EQ(dialog.text, "from page");
}

TEST_F(DHtmlDialogTest, BrowserKeepsTheClientArea) {
  dialog_.MoveWindow(0, 0, 333, 222);
  RECT browser{};
  GetWindowRect(dialog_.GetBrowserWindow(), &browser);
  EXPECT_EQ(browser.right - browser.left, 333);
  EXPECT_EQ(browser.bottom - browser.top, 222);
}

}  // namespace
