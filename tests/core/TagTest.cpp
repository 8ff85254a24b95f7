#include "core/Tag.h"

#include <gtest/gtest.h>

#include "core/Mix.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "tests/core/RecordsTestSupport.h"

namespace {

using zorva_test::RecordsTest;

// Every case runs with a database of its own installed as theMusicDB.
class TagTest : public RecordsTest {};

Tag MakeTag(const std::string& name, int type, int id, int frequency) {
  Tag tag(name, type, id);
  tag.frequency = frequency;
  return tag;
}

// A page whose element "holder" receives the rendered HTML.
std::unique_ptr<platform::MemoryHtmlDocument> PageWith(const std::string& html) {
  auto page = std::make_unique<platform::MemoryHtmlDocument>();
  page->LoadHtml("<html><body><div id='holder'></div></body></html>");
  page->GetElementById("holder")->SetInnerHtml(html);
  return page;
}

TEST_F(TagTest, ShortLabelKeepsSixCharactersWithoutQuotes) {
  EXPECT_EQ(Tag("Pop", TagGenre, 1).GetLabel(), "Pop");
  EXPECT_EQ(Tag("Electronic", TagGenre, 1).GetLabel(), "Electr");
  EXPECT_EQ(Tag("a\"b\"cdef", TagGenre, 1).GetLabel(), "abcd");
  Tag tag("Jazz", TagGenre, 1);
  tag.name = "Blues";
  tag.UpdateLabel();
  EXPECT_EQ(tag.GetLabel(), "Blues");
}

TEST_F(TagTest, ShortLabelCutsBetweenUtf8Characters) {
  EXPECT_EQ(Tag("Motörhead", TagArtist, 1).GetLabel(), "Motörh");
  EXPECT_EQ(Tag("日本語の音楽です", TagGenre, 1).GetLabel(), "日本語の音楽");
  EXPECT_EQ(Tag("\"é\"ü", TagGenre, 1).GetLabel(), "éü");
}

TEST_F(TagTest, TypeNamesAndEquality) {
  const char* words[] = {"genre", "album", "artist", "mix", "zorva", "playlist"};
  for (int type = 0; type < 6; ++type) EXPECT_EQ(Tag("x", type, 1).GetTypeName(), words[type]);
  EXPECT_TRUE(Tag("Rock", TagGenre, 1) == Tag("Rock", TagGenre, 2));
  EXPECT_FALSE(Tag("Rock", TagGenre, 1) == Tag("Rock", TagArtist, 1));
  EXPECT_FALSE(Tag("Rock", TagGenre, 1) == Tag("rock", TagGenre, 1));
}

TEST_F(TagTest, CloudSpanFollowsItsTemplate) {
  Tag tag = MakeTag("Rock", TagGenre, 12, 30);
  EXPECT_EQ(tag.GetCloudHtml(60, 0),
            "<span id=\"tagspan_:_12\" class=\"tagwrap\" frequency=\"30\">&nbsp;<span "
            "style=\"font-size:17px;\"><a href=\"#\" id=\"12_:_tag_:_add\" title=\"contains 30 "
            "tracks. click to add to the mix\" class=\"mixtagadd\">Rock</a></span>&nbsp;  </span> ");
  EXPECT_EQ(tag.GetLinkElementId(), "12_:_tag_:_add");
  EXPECT_EQ(tag.GetSpanElementId(), "tagspan_:_12");
}

TEST_F(TagTest, CloudFontSizeAndThreshold) {
  auto fontOf = [](Tag tag, int largest) {
    std::string html = tag.GetCloudHtml(largest, -1);
    auto start = html.find("font-size:") + 10;
    return std::stoi(html.substr(start, html.find(';', start) - start));
  };
  EXPECT_EQ(fontOf(MakeTag("a", 0, 1, 5), 0), 17);
  EXPECT_EQ(fontOf(MakeTag("a", 0, 1, 40), 40), 26);
  EXPECT_EQ(fontOf(MakeTag("a", 0, 1, 0), 40), 8);
  Tag hidden = MakeTag("a", 0, 1, 4);
  EXPECT_NE(hidden.GetCloudHtml(10, 4).find("class=\"tagwrap invisible\""), std::string::npos);
  EXPECT_NE(hidden.GetCloudHtml(10, 3).find("class=\"tagwrap\""), std::string::npos);
  EXPECT_EQ(MakeTag("", 0, 1, 4).GetCloudHtml(10, 0), "");
}

TEST_F(TagTest, LabHoldersFollowTheirTemplates) {
  Tag tag = MakeTag("Rock", TagGenre, 12, 30);
  EXPECT_EQ(tag.GetLabHolderHtml(),
            "<div class='labtagholder' onmouseover='tagover(this)' onmouseout='tagout(this)'><a "
            "class='labtaggo' href='#'><img id='12_:_genre_:_Rock_:_labgo' class='labtaggoimg' "
            "alt='view this tag in the lab' src='skin/tagleft.gif'></a><span  "
            "id='12_:_genre_:_Rock_:_labgo_2' class='labtag' title='you have 30 tracks for this "
            "genre'><img src='skin/genre_icon.gif'>Rock</span><a class='deletetag' href='#'><img  "
            "id='12_:_genre_:_Rock' class='deletetagimg' alt='remove this tag' "
            "src='skin/tagright.gif'></a></div>");
  EXPECT_EQ(tag.GetSearchHolderHtml(),
            "<div class='labtagholder' onmouseover='searchtagover(this)' "
            "onmouseout='searchtagout(this)'><a class='labtaggo' href='#'><img "
            "id='12_:_genre_:_Rock_:_labgo' class='labtaggoimg' alt='view this tag in the lab' "
            "src='skin/tagleft.gif'></a><span  id='12_:_genre_:_Rock_:_labgo_2' class='labtag' "
            "title='you have 30 tracks for this genre'><img src='skin/genre_icon.gif'>Rock</span>"
            "<span class='addtagright'></span></div>");
  EXPECT_EQ(tag.GetAddHolderHtml(),
            "<div class='addtagholder' onmouseover='addtagover(this)' "
            "onmouseout='addtagout(this)'><span class='addtagleft'></span><a href='#' "
            "class='addexistingtag' id='12_:_genre_:_Rock_:_add' title=\"Click to add Rock as a "
            "selector for this track\"><img src='skin/genre_icon.gif'>Rock</a><span "
            "class='addtagright'></span></div>");
  std::string all = tag.GetTrackHolderHtml(30);
  EXPECT_NE(all.find("title='This tag applies to all 30 tracks'"), std::string::npos);
  std::string some = tag.GetTrackHolderHtml(45);
  EXPECT_NE(some.find("title='30 out of 45 are also tagged with this genre'"), std::string::npos);
  std::string expected = tag.GetLabHolderHtml();
  const std::string title = "you have 30 tracks for this genre";
  expected.replace(expected.find(title), title.size(), "30 out of 45 are also tagged with this genre");
  EXPECT_EQ(some, expected);

  Tag unnamed(TagArtist);
  EXPECT_EQ(unnamed.GetLabHolderHtml(), "");
  EXPECT_EQ(unnamed.GetSearchHolderHtml(), "");
  EXPECT_EQ(unnamed.GetTrackHolderHtml(3), "");
  EXPECT_EQ(unnamed.GetAddHolderHtml(), "");
}

TEST_F(TagTest, MarkupInNamesStaysTextAndIdsReadBack) {
  Tag tag = MakeTag("A<b>'c\"&d", TagArtist, 5, 2);
  ASSERT_EQ(tag.GetLabel(), "A<b>'c");
  EXPECT_EQ(tag.GetLabHolderHtml(),
            "<div class='labtagholder' onmouseover='tagover(this)' onmouseout='tagout(this)'><a "
            "class='labtaggo' href='#'><img id='5_:_artist_:_A&lt;b&gt;&#39;c_:_labgo' "
            "class='labtaggoimg' alt='view this tag in the lab' src='skin/tagleft.gif'></a><span  "
            "id='5_:_artist_:_A&lt;b&gt;&#39;c_:_labgo_2' class='labtag' title='you have 2 tracks "
            "for this artist'><img src='skin/artist_icon.gif'>A&lt;b&gt;&#39;c&quot;&amp;d</span><a "
            "class='deletetag' href='#'><img  id='5_:_artist_:_A&lt;b&gt;&#39;c' "
            "class='deletetagimg' alt='remove this tag' src='skin/tagright.gif'></a></div>");

  auto page = PageWith(tag.GetLabHolderHtml() + tag.GetAddHolderHtml() + tag.GetSearchHolderHtml());
  ASSERT_EQ(page->GetElementById("holder")->GetChildren().size(), 3u);
  auto label = page->GetElementById("5_:_artist_:_A<b>'c_:_labgo_2");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->GetInnerText(), tag.name);
  EXPECT_NE(page->GetElementById("5_:_artist_:_A<b>'c"), nullptr);
  auto add = page->GetElementById("5_:_artist_:_A<b>'c_:_add");
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(add->GetAttribute("title"), "Click to add " + tag.name + " as a selector for this track");
  EXPECT_EQ(add->GetInnerText(), tag.name);

  Tag cloud = MakeTag("<img src=x onerror=alert(1)>", TagGenre, 8, 1);
  auto cloudPage = PageWith(cloud.GetCloudHtml(1, 0));
  auto link = cloudPage->GetElementById("8_:_tag_:_add");
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->GetChildren().empty());
  EXPECT_EQ(link->GetInnerText(), cloud.name);
}

TEST_F(TagTest, StoredReferencesShowAsBefore) {
  Tag tag = MakeTag("R&amp;B", TagGenre, 4, 1);
  std::string html = tag.GetAddHolderHtml();
  EXPECT_NE(html.find("<img src='skin/genre_icon.gif'>R&amp;B</a>"), std::string::npos);
  // The id keeps the stored text exactly.
  EXPECT_NE(html.find("id='4_:_genre_:_R&amp;amp;_:_add'"), std::string::npos);
  auto page = PageWith(html);
  auto add = page->GetElementById("4_:_genre_:_R&amp;_:_add");
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(add->GetInnerText(), "R&B");
}

TEST_F(TagTest, XmlAndSqlCondition) {
  EXPECT_EQ(MakeTag("R&B <\"x\">", TagGenre, 1, 0).GetXml(),
            "<tag><tag_type>0</tag_type><name>R&amp;B &lt;&quot;x&quot;&gt;</name></tag>");
  EXPECT_EQ(Tag("Guns N' Roses", TagArtist, 3).TagSearchCondition(),
            "(tag.name = 'Guns N'' Roses' AND tag.type = '2')");
}

TEST_F(TagTest, PageOperationsChangeTheCachedElements) {
  Tag rock = MakeTag("Rock", TagGenre, 12, 30);
  auto page = PageWith(rock.GetCloudHtml(30, 0));
  auto link = page->GetElementById("12_:_tag_:_add");
  auto span = page->GetElementById("tagspan_:_12");
  ASSERT_NE(link, nullptr);
  ASSERT_NE(span, nullptr);

  rock.SetClassRemove(*page);
  EXPECT_EQ(link->GetClassName(), "mixtagremove");
  rock.SetClassAdd(*page);
  EXPECT_EQ(link->GetClassName(), "mixtagadd");
  Mix mix;
  mix.AddTag(Tag("Rock", TagGenre, 99), false);
  rock.UpdateMixClass(*page, mix);
  EXPECT_EQ(link->GetClassName(), "mixtagremove");
  rock.UpdateMixClass(*page, Mix());
  EXPECT_EQ(link->GetClassName(), "mixtagadd");

  rock.HideElement(*page);
  EXPECT_EQ(span->GetStyleDisplay(), "none");
  EXPECT_EQ(span->GetStyleVisibility(), "hidden");
  rock.ShowElement(*page);
  EXPECT_EQ(span->GetStyleDisplay(), "inline");
  EXPECT_EQ(span->GetStyleVisibility(), "visible");

  // A tag that never rendered finds its link by id; markup stays text.
  Tag renamed("<b>Hard</b> Rock", TagGenre, 12);
  renamed.SetAddLinkText(*page);
  EXPECT_EQ(renamed.GetLinkElementId(), "12_:_tag_:_add");
  EXPECT_EQ(link->GetInnerText(), "<b>Hard</b> Rock");
  EXPECT_TRUE(link->GetChildren().empty());

  // Elements that are not in the page: nothing happens.
  platform::MemoryHtmlDocument empty;
  Tag other = MakeTag("Jazz", TagGenre, 13, 1);
  other.SetClassRemove(empty);
  other.HideElement(empty);
  other.SetAddLinkText(empty);
  rock.SetClassRemove(empty);
  EXPECT_EQ(link->GetClassName(), "mixtagadd");
  EXPECT_EQ(empty.GetElementById("13_:_tag_:_add"), nullptr);
}

TEST_F(TagTest, IdConstructorLoadsTheTag) {
  AddTrack("One", "Artist", "Album", "Rock");
  AddTrack("Two", "Artist", "Album 2", "Rock");
  Tag rock = db.FindOrCreateTag("Rock", TagGenre);
  Tag loaded(rock.id);
  EXPECT_EQ(loaded.name, "Rock");
  EXPECT_EQ(loaded.type, TagGenre);
  EXPECT_EQ(loaded.frequency, 2);
  EXPECT_EQ(loaded.GetLabel(), "Rock");

  Tag missing(rock.id + 1000);
  EXPECT_EQ(missing.id, rock.id + 1000);
  EXPECT_TRUE(missing.name.empty());
}

TEST_F(TagTest, ElementConstructorLoadsOrReadsTheId) {
  AddTrack("One", "Artist", "Album", "Rock");
  Tag rock(db.FindOrCreateTag("Rock", TagGenre).id);
  auto page = PageWith(rock.GetLabHolderHtml() +
                       "<a id='900_:_mix_:_Chill_:_labgo'></a><a id='901_:_playlist_:_List'></a>"
                       "<a id='902_:_zorva_:_Mine'></a>");
  Tag clicked(*page->GetElementById(std::to_string(rock.id) + "_:_genre_:_Rock_:_labgo_2"));
  EXPECT_EQ(clicked.id, rock.id);
  EXPECT_EQ(clicked.name, "Rock");
  EXPECT_EQ(clicked.frequency, 1);

  Tag unknown(*page->GetElementById("900_:_mix_:_Chill_:_labgo"));
  EXPECT_EQ(unknown.id, 900);
  EXPECT_EQ(unknown.type, TagMix);
  EXPECT_EQ(unknown.name, "Chill");
  Tag zorva(*page->GetElementById("902_:_zorva_:_Mine"));
  EXPECT_EQ(zorva.type, TagZorva);
  // "playlist" is not a word of an element id.
  Tag playlist(*page->GetElementById("901_:_playlist_:_List"));
  EXPECT_NE(playlist.type, TagPlaylist);
  EXPECT_EQ(playlist.name, "List");
}

TEST_F(TagTest, ConditionFindsTheStoredTag) {
  Tag tag = db.FindOrCreateTag("Guns N' Roses", TagArtist);
  EXPECT_EQ(Number("SELECT id FROM tag WHERE " + tag.TagSearchCondition()), tag.id);
}

TEST_F(TagTest, RenameAndAssignmentForwarders) {
  Track one = AddTrack("One", "Artist", "Album", "Rock");
  Track two = AddTrack("Two", "Other", "Album 2", "Jazz");
  Tag rock = db.FindOrCreateTag("Rock", TagGenre);
  rock.Rename("Hard Rock Classics");
  EXPECT_EQ(rock.GetLabel(), "Hard R");
  EXPECT_EQ(Tag(rock.id).name, "Hard Rock Classics");

  rock.AddToTracksAs("loud", TagZorva);
  Tag loud = db.FindOrCreateTag("loud", TagZorva);
  EXPECT_EQ(Tag(loud.id).frequency, 1);

  Tag jazz = db.FindOrCreateTag("Jazz", TagGenre);
  jazz.CopyAssignments(loud);
  EXPECT_EQ(Tag(loud.id).frequency, 2);

  rock.RemoveSharedAssignments(loud);
  TagList tags;
  db.GetTrackTags(tags, one);
  for (const Tag& tag : tags) EXPECT_NE(tag.name, "loud");
  EXPECT_EQ(Tag(loud.id).frequency, 1);
}

}  // namespace
