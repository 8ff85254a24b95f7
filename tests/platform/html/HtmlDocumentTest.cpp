#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "platform/html/MemoryHtmlDocument.h"

namespace {

using platform::HtmlElementPtr;
using platform::MemoryHtmlDocument;

const char* const kCompanionPage =
    "<!DOCTYPE html><html><head><title>Vantrel</title></head>"
    "<body id=\"settings\"><div class=\"top\"><a id=\"ButtonOK\" href=\"#\">X</a></div>"
    "<div id=\"view_options\"><span id=\"loginmessage\">Sigur R\xC3\xB3s</span></div>"
    "<div class=\"buttonholder\"><a id=\"ButtonOK\" class=\"buttonmid\" href=\"#\">Close Window</a></div>"
    "</body></html>";

class HtmlDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    folder_ = std::filesystem::temp_directory_path() /
              ("zorva-html-" + std::to_string(seed()) + "-" + std::to_string(seed()));
    std::filesystem::create_directories(folder_);
    document_.LoadHtml(kCompanionPage);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string WriteFile(const std::string& name, const std::string& content) {
    const std::filesystem::path path = folder_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  std::filesystem::path folder_;
  MemoryHtmlDocument document_;
};

TEST_F(HtmlDocumentTest, RepeatedIdGivesTheFirstInDocumentOrder) {
  const HtmlElementPtr button = document_.GetElementById("ButtonOK");
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->GetInnerText(), "X");

  // Once the first one loses its id, the second one answers.
  button->RemoveAttribute("id");
  const HtmlElementPtr second = document_.GetElementById("ButtonOK");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->GetInnerText(), "Close Window");
}

TEST_F(HtmlDocumentTest, AbsentOrEmptyIdGivesNull) {
  EXPECT_EQ(document_.GetElementById("deletecurrentmix"), nullptr);
  EXPECT_EQ(document_.GetElementById(""), nullptr);
}

TEST_F(HtmlDocumentTest, IdDifferingOnlyInLetterCaseIsFoundWhenNoExactMatch) {
  document_.LoadHtml("<body id=\"generator\"><div id=\"mixdata\"></div></body>");
  const HtmlElementPtr body = document_.GetElementById("Generator");
  ASSERT_NE(body, nullptr);
  EXPECT_EQ(body->GetTagName(), "BODY");
  EXPECT_EQ(document_.GetElementById("MIXDATA"), document_.GetElementById("mixdata"));

  // An exact match wins over an earlier one that differs in case.
  document_.GetElementById("mixdata")->SetInnerHtml("<b id=\"Generator\">exact</b>");
  EXPECT_EQ(document_.GetElementById("Generator")->GetTagName(), "B");
}

TEST_F(HtmlDocumentTest, SameElementIsHandedOutAsTheSameObject) {
  const HtmlElementPtr first = document_.GetElementById("loginmessage");
  EXPECT_EQ(first, document_.GetElementById("loginmessage"));
  EXPECT_EQ(first->GetParent(), document_.GetElementById("view_options"));
  EXPECT_EQ(document_.GetElementById("settings"), document_.GetBody());
}

TEST_F(HtmlDocumentTest, EveryPageHasRootAndBody) {
  MemoryHtmlDocument empty;
  ASSERT_NE(empty.GetBody(), nullptr);
  EXPECT_EQ(empty.GetBody()->GetParent(), empty.GetDocumentElement());
  EXPECT_EQ(empty.GetDocumentElement()->GetTagName(), "HTML");
  EXPECT_EQ(empty.GetDocumentElement()->GetParent(), nullptr);

  empty.LoadHtml("<title>no body</title>");
  ASSERT_NE(empty.GetBody(), nullptr);
  EXPECT_EQ(empty.GetBody()->GetTagName(), "BODY");
}

TEST_F(HtmlDocumentTest, MalformedPageRecovers) {
  document_.LoadHtml(
      "<div id=\"outer\"><span id=\"a\">one<div id=\"b\">two</span></i><p id=\"c\">three"
      "<table><tr><td id=\"cell\">four</table>");
  for (const char* id : {"outer", "a", "b", "c", "cell"}) {
    EXPECT_NE(document_.GetElementById(id), nullptr) << id;
  }
  EXPECT_EQ(document_.GetElementById("cell")->GetInnerText(), "four");
  const std::string text = document_.GetBody()->GetInnerText();
  EXPECT_LT(text.find("one"), text.find("two"));
  EXPECT_LT(text.find("three"), text.find("four"));
}

TEST_F(HtmlDocumentTest, LoadsPageFileWithUtf8Name) {
  const std::string path =
      WriteFile("Z\xC3\xB6rva \xE6\x9D\xB1\xE4\xBA\xAC.htm",
                "<html><body id=\"TrackInfo\"><span id=\"artistname\">Bj\xC3\xB6rk</span></body></html>");
  ASSERT_TRUE(document_.LoadFile(path));
  const HtmlElementPtr artist = document_.GetElementById("artistname");
  ASSERT_NE(artist, nullptr);
  EXPECT_EQ(artist->GetInnerText(), "Bj\xC3\xB6rk");
  EXPECT_EQ(artist->GetInnerHtml(), "Bj\xC3\xB6rk");
  EXPECT_EQ(document_.GetElementById("loginmessage"), nullptr);
}

TEST_F(HtmlDocumentTest, UnreadableFileKeepsThePageShown) {
  const HtmlElementPtr message = document_.GetElementById("loginmessage");
  EXPECT_FALSE(document_.LoadFile((folder_ / "missing.htm").string()));
  EXPECT_FALSE(document_.LoadFile(folder_.string()));
  EXPECT_TRUE(message->IsInDocument());
  EXPECT_EQ(document_.GetElementById("loginmessage"), message);
}

TEST_F(HtmlDocumentTest, LoadingAnotherPageDetachesTheOldElements) {
  const HtmlElementPtr message = document_.GetElementById("loginmessage");
  document_.LoadHtml("<body id=\"TrackInfo\"><div id=\"loginmessage\">new</div></body>");
  EXPECT_FALSE(message->IsInDocument());
  EXPECT_EQ(message->GetInnerText(), "Sigur R\xC3\xB3s");
  const HtmlElementPtr fresh = document_.GetElementById("loginmessage");
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh, message);
  EXPECT_TRUE(fresh->IsInDocument());

  message->SetInnerText("changed");  // reaches no page
  EXPECT_EQ(fresh->GetInnerText(), "new");
}

TEST_F(HtmlDocumentTest, HandlesOutliveTheDocumentSafely) {
  HtmlElementPtr view;
  {
    MemoryHtmlDocument page;
    page.LoadHtml(kCompanionPage);
    view = page.GetElementById("view_options");
    ASSERT_TRUE(view->IsInDocument());
  }
  EXPECT_FALSE(view->IsInDocument());
  EXPECT_EQ(view->GetParent(), nullptr);
  view->SetInnerHtml("<b id=\"x\">still usable</b>");
  ASSERT_EQ(view->GetChildren().size(), 1U);
  EXPECT_EQ(view->GetChildren()[0]->GetInnerText(), "still usable");
}

}  // namespace
