// Message boxes as pages of the browser (label browser): the question's own
// window shows the caption, the text and the buttons of its type, its owner
// takes no input meanwhile, and a click, Enter or Escape answers.
#include "platform/window/PageMessageBox.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/window/Window.h"
#include "tests/support/BrowserTestSupport.h"

namespace {

struct Case {
  const char* name;
  UINT type;
  const char* input;  // "click ID", "enter" or "escape"
  int answer;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

const Case kCases[] = {
    {"click No", MB_YESNO | MB_ICONQUESTION, "click answer7", IDNO},
    {"click Retry", MB_RETRYCANCEL, "click answer4", IDRETRY},
    {"Enter takes the default", MB_YESNO, "enter", IDYES},
    {"Enter takes the second default", MB_YESNO | MB_DEFBUTTON2, "enter", IDNO},
    {"Escape cancels", MB_RETRYCANCEL, "escape", IDCANCEL},
    {"Escape says no", MB_YESNO, "escape", IDNO},
    {"Escape on OK alone", MB_OK | MB_ICONERROR, "escape", IDOK},
};

class PageMessageBoxTest : public ::testing::TestWithParam<Case> {};

TEST_P(PageMessageBoxTest, AnswersWithTheButtonChosen) {
  const Case& c = GetParam();
  auto browser = zorva::test::TestBrowser();
  ASSERT_TRUE(browser);
  const HWND owner = platform::CreateWindowWithProc(
      0, "Owner", "Owner", WS_POPUP | WS_VISIBLE, 100, 100, 400, 300, nullptr,
      [](HWND h, UINT m, WPARAM w, LPARAM l) { return ::DefWindowProc(h, m, w, l); }, nullptr);
  ASSERT_NE(owner, nullptr);

  platform::PageMessageBoxPresenter presenter(browser);
  bool shown = false;
  presenter.SetShownHook([&](platform::ChromiumHtmlDocument& page) {
    shown = true;
    auto text = page.GetElementById("text");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->GetInnerText(), "Are you sure?Really <sure>");
    EXPECT_FALSE(::IsWindowEnabled(owner)) << "the owner takes no input while asked";
    const std::string input = c.input;
    if (input.rfind("click ", 0) == 0) {
      double x = 0;
      double y = 0;
      ASSERT_TRUE(page.ElementCentre(page.GetElementById(input.substr(6)), &x, &y));
      page.MouseEvent("down", x, y);
      page.MouseEvent("up", x, y);
    } else {
      page.DispatchKey("keydown", input == "enter" ? 13 : 27);
    }
  });
  EXPECT_EQ(presenter.Present(owner, "Are you sure?\nReally <sure>", "Quit?", c.type), c.answer) << c.name;
  EXPECT_TRUE(shown);
  EXPECT_TRUE(::IsWindowEnabled(owner));
  ::DestroyWindow(owner);
}

INSTANTIATE_TEST_SUITE_P(Inputs, PageMessageBoxTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           std::string name;
                           for (const char* c = param.param.name; *c; ++c)
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           return name;
                         });

TEST(PageMessageBoxPageTest, ShowsTheCaptionAndTheButtonsOfTheTypeInOrderWithTheDefaultFocused) {
  const std::string page =
      platform::PageMessageBoxPresenter::PageHtml("a & b", "Caption <1>", MB_YESNOCANCEL | MB_DEFBUTTON2);
  const std::size_t yes = page.find("id=\"answer6\">Yes");
  const std::size_t no = page.find("id=\"answer7\" autofocus>No");
  const std::size_t cancel = page.find("id=\"answer2\">Cancel");
  ASSERT_NE(yes, std::string::npos);
  ASSERT_NE(no, std::string::npos);
  ASSERT_NE(cancel, std::string::npos);
  EXPECT_LT(yes, no);
  EXPECT_LT(no, cancel);
  EXPECT_NE(page.find("<title>Caption &lt;1&gt;</title>"), std::string::npos);
  EXPECT_NE(page.find("a &amp; b"), std::string::npos);
  // The window has no title bar: the caption is in the box, above the text.
  const std::size_t caption = page.find("<div id=\"caption\">Caption &lt;1&gt;</div>");
  ASSERT_NE(caption, std::string::npos);
  EXPECT_LT(caption, page.find("a &amp; b"));
}

}  // namespace
