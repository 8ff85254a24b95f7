#include <gtest/gtest.h>

#include <string>

#include "platform/html/MemoryHtmlDocument.h"

namespace {

using platform::HtmlElementPtr;
using platform::MemoryHtmlDocument;

// A tag of the player's tag cloud as the program writes it.
const char* const kCloudTag =
    "<span id=\"tagspan_:_5\" class=\"tagwrap\" frequency=\"12\">&nbsp;<span "
    "style=\"font-size:17;\"><a href=\"#\" id=\"5_:_tag_:_add\" title=\"contains 12 tracks. "
    "click to add to the mix\" class=\"mixtagadd\">Rock &amp; Roll</a></span>&nbsp;  </span> ";

class HtmlElementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    document_.LoadHtml(
        "<body id=\"CZorvaDlg\"><div id=\"genretaglinks\">Tags not loaded... Please restart.</div>"
        "<ul id=\"trackttable\"><li id=\"tracklist1\" listID=\"1\"><a id=\"track1\" "
        "class=\"upcominglink\"><span class=\"trackname\">One</span></a></li></ul>"
        "<input id=\"currentmixnameEdit\" value=\"Mix\"><input type=\"checkbox\" id=\"minitunes\" "
        "checked><input type=\"CHECKBOX\" id=\"scanlib\"><textarea id=\"notes\">a &lt; b</textarea>"
        "<div id=\"selectoroverlay\" style=\"display: none;visibility:hidden; "
        "background-image: url('skin/a;b.gif') !important\"></div></body>");
  }

  HtmlElementPtr Get(const char* id) {
    HtmlElementPtr element = document_.GetElementById(id);
    EXPECT_NE(element, nullptr) << id;
    return element;
  }

  MemoryHtmlDocument document_;
};

TEST_F(HtmlElementTest, InnerHtmlWrittenByTheProgramIsFoundById) {
  Get("genretaglinks")->SetInnerHtml(kCloudTag);
  const HtmlElementPtr link = Get("5_:_tag_:_add");
  EXPECT_EQ(link->GetTagName(), "A");
  EXPECT_EQ(link->GetClassName(), "mixtagadd");
  EXPECT_EQ(link->GetInnerText(), "Rock & Roll");
  const HtmlElementPtr wrap = Get("tagspan_:_5");
  EXPECT_EQ(wrap->GetAttribute("frequency"), "12");
  EXPECT_EQ(link->GetParent()->GetParent(), wrap);
  EXPECT_EQ(wrap->GetParent(), Get("genretaglinks"));
}

TEST_F(HtmlElementTest, InnerHtmlSerialisesBackAsHtml) {
  const HtmlElementPtr list = Get("genretaglinks");
  list->SetInnerHtml(kCloudTag);
  EXPECT_EQ(list->GetInnerHtml(), kCloudTag);

  // Single-quoted and bare attributes come back double-quoted, void elements unclosed.
  list->SetInnerHtml("<img src='skin/genre_icon.gif' alt='say \"hi\"'><br/>x > y");
  EXPECT_EQ(list->GetInnerHtml(), "<img src=\"skin/genre_icon.gif\" alt=\"say &quot;hi&quot;\"><br>x &gt; y");
  EXPECT_EQ(list->GetChildren()[0]->GetInnerHtml(), "");
}

TEST_F(HtmlElementTest, ReplacingInnerHtmlRemovesTheOldInnerElements) {
  const HtmlElementPtr table = Get("trackttable");
  const HtmlElementPtr item = Get("tracklist1");
  const HtmlElementPtr link = Get("track1");
  table->SetInnerHtml("<li id=\"tracklist1\" listID=\"1\"><a id=\"track1\">Two</a></li>");

  EXPECT_FALSE(item->IsInDocument());
  EXPECT_FALSE(link->IsInDocument());  // below a removed element
  EXPECT_EQ(link->GetParent(), item);  // the removed part stays whole
  EXPECT_EQ(item->GetParent(), nullptr);
  const HtmlElementPtr fresh = Get("track1");
  EXPECT_NE(fresh, link);
  EXPECT_TRUE(fresh->IsInDocument());

  link->SetInnerHtml("<b id=\"ghost\">lost</b>");
  EXPECT_EQ(document_.GetElementById("ghost"), nullptr);
  EXPECT_EQ(fresh->GetInnerText(), "Two");
}

TEST_F(HtmlElementTest, FragmentAfterAStrayEndTagStaysInTheElement) {
  const HtmlElementPtr list = Get("genretaglinks");
  list->SetInnerHtml("<b id=\"first\">1</b></body></html><i id=\"second\">2</i>");
  EXPECT_EQ(Get("first")->GetParent(), list);
  EXPECT_EQ(Get("second")->GetParent(), list);
}

TEST_F(HtmlElementTest, InnerTextIsTextNotMarkup) {
  const HtmlElementPtr list = Get("genretaglinks");
  list->SetInnerText("<b>Bold</b> & \"co\"");
  EXPECT_EQ(list->GetInnerText(), "<b>Bold</b> & \"co\"");
  EXPECT_TRUE(list->GetChildren().empty());
  EXPECT_EQ(list->GetInnerHtml(), "&lt;b&gt;Bold&lt;/b&gt; &amp; \"co\"");

  list->SetInnerHtml("<span>a</span>b<i>c<b>d</b></i><!-- note -->&amp;");
  EXPECT_EQ(list->GetInnerText(), "abcd&");
  list->SetInnerText("");
  EXPECT_EQ(list->GetInnerHtml(), "");
}

TEST_F(HtmlElementTest, Utf8TextRoundTrips) {
  const HtmlElementPtr list = Get("genretaglinks");
  const std::string name = "Sigur R\xC3\xB3s \xE2\x80\x93 \xE6\x9D\xB1\xE4\xBA\xAC";
  list->SetInnerHtml("<a id=\"n\" title=\"" + name + "\">" + name + "</a>");
  EXPECT_EQ(Get("n")->GetInnerText(), name);
  EXPECT_EQ(Get("n")->GetAttribute("title"), name);
  EXPECT_EQ(list->GetInnerHtml(), "<a id=\"n\" title=\"" + name + "\">" + name + "</a>");
}

TEST_F(HtmlElementTest, ClassNameRoundTrips) {
  const HtmlElementPtr link = Get("track1");
  EXPECT_EQ(link->GetClassName(), "upcominglink");
  link->SetClassName("mixtagremove");
  EXPECT_EQ(link->GetClassName(), "mixtagremove");
  EXPECT_NE(Get("tracklist1")->GetInnerHtml().find("class=\"mixtagremove\""), std::string::npos);
}

TEST_F(HtmlElementTest, StyleIsReadFromTheStyleAttribute) {
  const HtmlElementPtr overlay = Get("selectoroverlay");
  EXPECT_EQ(overlay->GetStyleDisplay(), "none");
  EXPECT_EQ(overlay->GetStyleVisibility(), "hidden");
  EXPECT_EQ(overlay->GetStyleBackgroundImage(), "url('skin/a;b.gif')");
  EXPECT_EQ(Get("track1")->GetStyleDisplay(), "");
}

TEST_F(HtmlElementTest, StyleSettersRoundTripAndKeepOtherDeclarations) {
  Get("genretaglinks")->SetInnerHtml(kCloudTag);
  const HtmlElementPtr inner = Get("5_:_tag_:_add")->GetParent();
  inner->SetStyleDisplay("inline");
  inner->SetStyleVisibility("visible");
  inner->SetStyleDisplay("none");
  EXPECT_EQ(inner->GetStyleDisplay(), "none");
  EXPECT_EQ(inner->GetStyleVisibility(), "visible");
  EXPECT_EQ(inner->GetStyle("font-size"), "17");
  EXPECT_EQ(inner->GetAttribute("style"), "font-size: 17; display: none; visibility: visible;");

  inner->SetStyleDisplay("");
  EXPECT_EQ(inner->GetStyleDisplay(), "");
  EXPECT_EQ(inner->GetStyleVisibility(), "visible");

  const HtmlElementPtr body = document_.GetBody();
  body->SetStyleBackgroundImage("url(skin/background3.gif)");
  EXPECT_EQ(body->GetStyleBackgroundImage(), "url(skin/background3.gif)");
}

TEST_F(HtmlElementTest, StyleValueThatWouldEndTheDeclarationIsRefused) {
  const HtmlElementPtr overlay = Get("selectoroverlay");
  overlay->SetStyleDisplay("block; color: red");
  overlay->SetStyle("color:", "red");
  EXPECT_EQ(overlay->GetStyleDisplay(), "none");
  EXPECT_EQ(overlay->GetStyle("color"), "");
}

TEST_F(HtmlElementTest, InputValueChangesWithoutTouchingMarkup) {
  const HtmlElementPtr edit = Get("currentmixnameEdit");
  EXPECT_EQ(edit->GetValue(), "Mix");
  edit->SetValue("Zo\xC3\xAB's <mix>");
  EXPECT_EQ(edit->GetValue(), "Zo\xC3\xAB's <mix>");
  EXPECT_EQ(edit->GetAttribute("value"), "Mix");

  const HtmlElementPtr notes = Get("notes");
  EXPECT_EQ(notes->GetValue(), "a < b");
  notes->SetValue("typed");
  EXPECT_EQ(notes->GetValue(), "typed");
}

TEST_F(HtmlElementTest, CheckboxCheckedState) {
  const HtmlElementPtr minitunes = Get("minitunes");
  const HtmlElementPtr scanlib = Get("scanlib");
  EXPECT_TRUE(minitunes->GetChecked());
  EXPECT_FALSE(scanlib->GetChecked());
  EXPECT_EQ(scanlib->GetValue(), "on");

  minitunes->SetChecked(false);
  scanlib->SetChecked(true);
  EXPECT_FALSE(minitunes->GetChecked());
  EXPECT_TRUE(scanlib->GetChecked());

  const HtmlElementPtr edit = Get("currentmixnameEdit");
  edit->SetChecked(true);
  EXPECT_FALSE(edit->GetChecked());
}

TEST_F(HtmlElementTest, AttributesIgnoreLetterCaseOfTheirNames) {
  const HtmlElementPtr item = Get("tracklist1");
  EXPECT_EQ(item->GetAttribute("listID"), "1");
  EXPECT_TRUE(item->SetAttribute("mixID", "7"));
  EXPECT_EQ(item->GetAttribute("mixid"), "7");
  EXPECT_TRUE(item->HasAttribute("MIXID"));
  item->RemoveAttribute("MixId");
  EXPECT_FALSE(item->HasAttribute("mixid"));
  EXPECT_EQ(item->GetAttribute("mixid"), "");

  EXPECT_FALSE(item->SetAttribute("a b", "x"));
  EXPECT_FALSE(item->SetAttribute("x\"onclick", "y"));
  EXPECT_FALSE(item->SetAttribute("", "y"));
  EXPECT_EQ(Get("trackttable")->GetInnerHtml().find("onclick"), std::string::npos);
}

TEST_F(HtmlElementTest, ChangingAnIdChangesWhatLookupFinds) {
  const HtmlElementPtr link = Get("track1");
  link->SetAttribute("id", "track9");
  EXPECT_EQ(document_.GetElementById("track1"), nullptr);
  EXPECT_EQ(document_.GetElementById("track9"), link);
  EXPECT_EQ(link->GetId(), "track9");
}

TEST_F(HtmlElementTest, TagNamesParentsAndChildren) {
  const HtmlElementPtr list = Get("genretaglinks");
  list->SetInnerHtml("<table><tr><td id=\"cell\">x</td></tr></table>text<my-tag id=\"own\"></my-tag>");
  const HtmlElementPtr cell = Get("cell");
  EXPECT_EQ(cell->GetTagName(), "TD");
  EXPECT_EQ(cell->GetParent()->GetTagName(), "TR");
  EXPECT_EQ(Get("own")->GetTagName(), "MY-TAG");

  const auto children = list->GetChildren();
  ASSERT_EQ(children.size(), 2U);
  EXPECT_EQ(children[0]->GetTagName(), "TABLE");
  EXPECT_EQ(children[1], Get("own"));
}

}  // namespace
