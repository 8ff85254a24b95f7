// The skin's scripts and stylesheets on a harness page in Chromium (label browser).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/BrowserTestSupport.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
using platform::ScriptArgs;
using platform::ScriptType;
using platform::ScriptValue;

// The window behind the page: window.external records each call as "Name(arg,arg)".
class SkinHost : public platform::HtmlDocumentHost {
 public:
  SkinHost() {
    Add("SetSelectorMix", {ScriptType::Text});
    Add("EditInPlaceUpdate", {ScriptType::Text, ScriptType::Text});
    Add("InsertScheduleItem", {ScriptType::Int, ScriptType::Int, ScriptType::Int, ScriptType::Int});
    Add("UpdateScheduleItem", {ScriptType::Text, ScriptType::Int, ScriptType::Int, ScriptType::Int, ScriptType::Int});
    Add("FrequecyHider", {ScriptType::Int});
  }
  std::vector<std::string> calls;

  void HandleEvent(platform::HtmlEvent&) override {}
  void BeforeNavigate(const std::string&, bool* cancel) override { *cancel = false; }
  void NavigateComplete(const std::string&) override {}
  void DocumentComplete(const std::string&) override {}
  platform::ScriptDispatch* External() override { return &external_; }

 private:
  void Add(const std::string& name, std::vector<ScriptType> types) {
    external_.AddMethod(name, std::move(types), [this, name](const ScriptArgs& args) {
      std::string text = name + "(";
      for (size_t i = 0; i < args.size(); ++i) text += (i ? "," : "") + args[i].ToText();
      calls.push_back(text + ")");
      return ScriptValue();
    });
  }
  platform::ScriptDispatch external_;
};

class SkinBrowserTest : public ::testing::Test {
 protected:
  // The harness page in a fresh folder, with a copy of the built skin beside it unless told otherwise.
  std::unique_ptr<platform::ChromiumHtmlDocument> OpenHarness(bool withSkin = true) {
    fs::copy_file(ZORVA_SKIN_HARNESS, fs::path(folder_.Path()) / "skin_harness.htm");
    if (withSkin) fs::copy(ZORVA_SKIN_DIR, fs::path(folder_.Path()) / "skin", fs::copy_options::recursive);
    auto page = zorva::test::OpenPage(folder_.File("skin_harness.htm"), &host_);
    if (page) page->SetBounds(0, 0, 800, 1000);
    return page;
  }

  static std::string Call(platform::ChromiumHtmlDocument& page, const std::string& name, const ScriptArgs& args = {}) {
    ScriptValue result;
    EXPECT_EQ(page.CallScript(name, args, &result), S_OK) << name << ": " << page.LastError();
    return result.ToText();
  }

  // A real drag with the mouse from the centre of the element by (dx, dy).
  static void Drag(platform::ChromiumHtmlDocument& page, const std::string& id, double dx, double dy) {
    double x = 0;
    double y = 0;
    ASSERT_TRUE(page.ElementCentre(page.GetElementById(id), &x, &y)) << id;
    page.MouseEvent("move", x, y);
    page.MouseEvent("down", x, y);
    for (int step = 1; step <= 8; ++step) page.MouseEvent("move", x + dx * step / 8, y + dy * step / 8);
    page.MouseEvent("up", x + dx, y + dy);
  }

  // A real drag of one element to a few pixels past the centre of another.
  static void DragOnto(platform::ChromiumHtmlDocument& page, const std::string& id, const std::string& target,
                       double past) {
    double x = 0, y = 0, tx = 0, ty = 0;
    ASSERT_TRUE(page.ElementCentre(page.GetElementById(id), &x, &y)) << id;
    ASSERT_TRUE(page.ElementCentre(page.GetElementById(target), &tx, &ty)) << target;
    Drag(page, id, 0, ty - y + past);
  }

  bool Wait(platform::ChromiumHtmlDocument& page, const std::function<bool()>& done, platform::Millis timeout = 5000) {
    return zorva::test::ProcessUntil(page, done, timeout);
  }

  zorva_test::TempFolder folder_;
  SkinHost host_;
};

TEST_F(SkinBrowserTest, EveryOperationAndPageFunctionExistsWithItsArguments) {
  auto page = OpenHarness();
  ASSERT_TRUE(page);
  EXPECT_EQ(Call(*page, "harnessMissing"), "");
}

TEST_F(SkinBrowserTest, AMenuSlidesOutBelowAnElementAndHideAllClosesIt) {
  auto page = OpenHarness();
  ASSERT_TRUE(page);
  Call(*page, "harnessShowMenu", {"mixchanger", "menuanchor"});
  EXPECT_EQ(Call(*page, "harnessVisible", {"mixchanger"}), "yes");
  EXPECT_EQ(page->GetElementById("mixchangerContainer")->GetStyle("visibility"), "visible");
  int anchorLeft = 0, anchorTop = 0, anchorWidth = 0, anchorHeight = 0, left = 0, top = 0, width = 0, height = 0;
  ASSERT_EQ(std::sscanf(Call(*page, "harnessBox", {"menuanchor"}).c_str(), "%d,%d,%d,%d", &anchorLeft, &anchorTop,
                        &anchorWidth, &anchorHeight),
            4);
  ASSERT_EQ(std::sscanf(Call(*page, "harnessBox", {"mixchangerContainer"}).c_str(), "%d,%d,%d,%d", &left, &top, &width,
                        &height),
            4);
  EXPECT_EQ(left, anchorLeft);
  EXPECT_NEAR(top, anchorTop + anchorHeight + 4, 1) << "just below the element, by the menu's gap";
  EXPECT_EQ(width, 300);
  EXPECT_EQ(height, 200);

  Call(*page, "harnessHideAll");
  EXPECT_EQ(Call(*page, "harnessVisible", {"mixchanger"}), "no");
  EXPECT_EQ(page->GetElementById("mixchangerContainer")->GetStyle("visibility"), "hidden");
  EXPECT_EQ(Call(*page, "harnessList", {"hidden"}), "mixchanger") << "the page's hideCallback ran once";
}

TEST_F(SkinBrowserTest, ASortableListReordersUnderRealMouseDragsAndCallsItsCallbackOncePerItem) {
  auto page = OpenHarness();
  ASSERT_TRUE(page);
  EXPECT_EQ(Call(*page, "harnessList", {"sorted"}), "tracklist1,tracklist2,tracklist3,tracklist4,tracklist5");

  DragOnto(*page, "tracklist1", "tracklist3", 3);  // past the third row's middle
  ASSERT_TRUE(Wait(*page, [&] { return Call(*page, "harnessCount", {"dragends"}) == "1"; }));
  EXPECT_EQ(Call(*page, "harnessChildren", {"trackttable"}), "tracklist2,tracklist3,tracklist1,tracklist4,tracklist5");
  EXPECT_EQ(page->GetElementById("order")->GetInnerText(), "2:3:1:4:5");
  EXPECT_EQ(page->GetElementById("tracklist1")->GetStyle("top"), "0px") << "the item settles into its place";

  DragOnto(*page, "tracklist5", "tracklist2", -3);  // above the first row's middle
  ASSERT_TRUE(Wait(*page, [&] { return Call(*page, "harnessCount", {"dragends"}) == "2"; }));
  EXPECT_EQ(page->GetElementById("order")->GetInnerText(), "5:2:3:1:4");
}

TEST_F(SkinBrowserTest, ASimpleGroupMovesAndResizesVerticallyWithItsTransformSnappingToSteps) {
  auto page = OpenHarness();
  ASSERT_TRUE(page);
  auto item = page->GetElementById("sitemid_7");
  ASSERT_TRUE(item);
  Drag(*page, "itemmix_sitemid_7", 30, 23);  // by the title: 41 + 23 = 64 snaps to 60
  ASSERT_TRUE(Wait(*page, [&] { return host_.calls.size() == 1; }));
  EXPECT_EQ(item->GetStyle("top"), "60px");
  EXPECT_EQ(item->GetStyle("left"), "60px") << "vertical only";
  EXPECT_EQ(item->GetStyle("height"), "79px");
  EXPECT_EQ(host_.calls[0], "UpdateScheduleItem(sitemid_7,89,209,5,1)");

  Drag(*page, "itemmix_sitemid_7", 0, 0);  // a press without a move is no drag
  EXPECT_FALSE(Wait(
      *page, [&] { return host_.calls.size() > 1; }, 300));

  auto handle = page->GetElementById("sitemid_7")->GetChildren().back();
  double hx = 0, hy = 0;
  ASSERT_TRUE(page->ElementCentre(handle, &hx, &hy));
  page->MouseEvent("move", hx, hy);
  page->MouseEvent("down", hx, hy);
  for (int step = 1; step <= 8; ++step) page->MouseEvent("move", hx, hy + 37.0 * step / 8);
  page->MouseEvent("up", hx, hy + 37);
  ASSERT_TRUE(Wait(*page, [&] { return host_.calls.size() == 2; }));
  EXPECT_EQ(item->GetStyle("top"), "60px");
  EXPECT_EQ(item->GetStyle("height"), "120px") << "79 + 37 = 116 snaps to 120";
  EXPECT_EQ(host_.calls[1], "UpdateScheduleItem(sitemid_7,89,271,5,1)");
}

TEST_F(SkinBrowserTest, ASliderMovesWritesItsValueIntoItsDisplayAndFiresItsOnchange) {
  auto page = OpenHarness();
  ASSERT_TRUE(page);
  auto knob = page->GetElementById("playlengthslider");
  auto display = page->GetElementById("playlistlength");
  EXPECT_EQ(knob->GetStyle("left"), "6px") << "placed at the markup's rawvalue 60 (step 3 of 95 over 200 px)";

  Drag(*page, "playlengthslider", 50, 7);
  ASSERT_TRUE(Wait(*page, [&] { return display->GetAttribute("rawvalue") == "420"; }));
  EXPECT_EQ(display->GetValue(), "7:00");
  EXPECT_EQ(knob->GetStyle("left"), "57px");
  EXPECT_NE(Call(*page, "harnessCount", {"changes"}), "0");

  Call(*page, "harnessSetRaw", {"playlistlength", 600});
  Call(*page, "setSlider", {"playlengthslider"});
  EXPECT_EQ(knob->GetStyle("left"), "82px");
  EXPECT_EQ(display->GetValue(), "10:00");
}

TEST_F(SkinBrowserTest, ChangeviewtypeShowsOneViewMarksItsTabAndUpdatesTheView) {
  auto page = OpenHarness();
  ASSERT_TRUE(page);
  ASSERT_TRUE(zorva::test::ClickElement(*page, page->GetElementById("tab_about")));
  ASSERT_TRUE(Wait(*page, [&] { return Call(*page, "harnessCount", {"updates"}) == "1"; }));
  EXPECT_EQ(page->GetElementById("view_about")->GetStyle("display"), "block");
  EXPECT_EQ(page->GetElementById("view_options")->GetStyle("display"), "none");
  EXPECT_EQ(page->GetElementById("view_credits")->GetStyle("display"), "none");
  EXPECT_EQ(page->GetElementById("tab_about")->GetClassName(), "selected");
  EXPECT_EQ(page->GetElementById("tab_options")->GetClassName(), "");
  EXPECT_EQ(Call(*page, "harnessGlobal", {"currenttype"}), "about");
}

TEST_F(SkinBrowserTest, ChoosersLeaveTheirIdInCurrentitemAndSelectorclickCallsSetSelectorMix) {
  auto page = OpenHarness();
  ASSERT_TRUE(page);
  auto chooser = page->GetElementById("itemmix_sitemid_1")->GetChildren().front();
  ASSERT_TRUE(zorva::test::ClickElement(*page, chooser));
  ASSERT_TRUE(Wait(*page, [&] { return Call(*page, "harnessVisible", {"mixchanger"}) == "yes"; }));
  EXPECT_EQ(page->GetElementById("currentitem")->GetInnerText(), "itemmix_sitemid_1");
  EXPECT_TRUE(host_.calls.empty()) << "mixclick tells the program nothing";
  Call(*page, "harnessHideAll");  // the open menu covers the next chooser

  ASSERT_TRUE(zorva::test::ClickElement(*page, page->GetElementById("editormix")));
  ASSERT_TRUE(Wait(*page, [&] { return !host_.calls.empty(); }));
  EXPECT_EQ(host_.calls, std::vector<std::string>{"SetSelectorMix(itemmix_42)"});
  EXPECT_EQ(page->GetElementById("currentitem")->GetInnerText(), "newmix");
  EXPECT_EQ(Call(*page, "harnessVisible", {"mixselect"}), "yes");
}

TEST_F(SkinBrowserTest, JoinEditsInPlaceAndEndsInEditInPlaceUpdateOrIsAbandonedByEscape) {
  auto page = OpenHarness();
  ASSERT_TRUE(page);
  auto view = page->GetElementById("tracktitle");
  auto editor = page->GetElementById("tracktitleEdit");

  ASSERT_TRUE(zorva::test::ClickElement(*page, view));
  ASSERT_TRUE(Wait(*page, [&] { return editor->GetStyle("display") == "block"; }));
  EXPECT_EQ(editor->GetValue(), "Old Title");
  EXPECT_EQ(view->GetStyle("visibility"), "hidden");
  editor->SetValue("Escaped");
  page->DispatchKey("keyup", 27);
  ASSERT_TRUE(Wait(*page, [&] { return editor->GetStyle("display") == "none"; }));
  EXPECT_EQ(view->GetInnerText(), "Old Title");
  EXPECT_TRUE(host_.calls.empty());

  ASSERT_TRUE(zorva::test::ClickElement(*page, view));
  ASSERT_TRUE(Wait(*page, [&] { return editor->GetStyle("display") == "block"; }));
  editor->SetValue("New Title");
  page->DispatchKey("keydown", 13);
  ASSERT_TRUE(Wait(*page, [&] { return !host_.calls.empty(); }));
  EXPECT_EQ(host_.calls, std::vector<std::string>{"EditInPlaceUpdate(tracktitle,New Title)"});
  EXPECT_EQ(view->GetInnerText(), "New Title");
  EXPECT_EQ(view->GetStyle("visibility"), "visible");
}

TEST_F(SkinBrowserTest, WithoutTheSkinFolderThePageIsUnstyledButItsOwnScriptWorks) {
  auto page = OpenHarness(false);
  ASSERT_TRUE(page);
  EXPECT_EQ(Call(*page, "harnessCount", {"loaded"}), "true");
  EXPECT_EQ(Call(*page, "harnessComputed", {"lists", "border-top-style"}), "none");
  ScriptValue result;
  EXPECT_NE(page->CallScript("changeviewtype", {"about"}, &result), S_OK) << "a skin function is simply absent";
  Call(*page, "updatecurrentview");
  EXPECT_EQ(Call(*page, "harnessCount", {"updates"}), "1");

  zorva_test::TempFolder styled;
  fs::copy_file(ZORVA_SKIN_HARNESS, fs::path(styled.Path()) / "skin_harness.htm");
  fs::copy(ZORVA_SKIN_DIR, fs::path(styled.Path()) / "skin", fs::copy_options::recursive);
  auto skinned = zorva::test::OpenPage(styled.File("skin_harness.htm"));
  ASSERT_TRUE(skinned);
  EXPECT_EQ(Call(*skinned, "harnessComputed", {"lists", "border-top-style"}), "solid");
}

TEST_F(SkinBrowserTest, AScreenshotOfTheHarnessGoesIntoTheBuildFolder) {
  auto page = OpenHarness();
  ASSERT_TRUE(page);
  Call(*page, "harnessShowMenu", {"mixselect", "menuanchor"});
  ASSERT_TRUE(Wait(*page, [&] {
    return Call(*page, "harnessComputed", {"mixselectContent", "transform"}) == "none";
  })) << "the menu has slid out";
  const std::string png = page->CaptureScreenshot();
  ASSERT_GT(png.size(), 1000u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
  std::ofstream(ZORVA_SKIN_SCREENSHOT, std::ios::binary) << png;
  EXPECT_EQ(fs::file_size(ZORVA_SKIN_SCREENSHOT), png.size());
}

}  // namespace
