#include "core/Mix.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/SQLiteDB.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "tests/core/RecordsTestSupport.h"

namespace {

using zorva_test::RecordsTest;

// Every case runs with a database of its own installed as theMusicDB.
class MixTest : public RecordsTest {};

Tag MakeTag(const std::string& name, int type, int id, int frequency) {
  Tag tag(name, type, id);
  tag.frequency = frequency;
  return tag;
}

Mix StoredMix(int id, const std::string& name, bool playlist = false) {
  return Mix(SQLiteRow{{"id", std::to_string(id)},
                       {"name", name},
                       {"playlistmix", playlist ? "1" : "0"},
                       {"playlistpos", "0"},
                       {"playlistid", "0"}});
}

Mix EveningMix() {
  Mix mix = StoredMix(4, "Evening");
  mix.AddTag(MakeTag("Rock", TagGenre, 1, 3), false);
  mix.AddTag(MakeTag("Jazz", TagGenre, 2, 2), false);
  return mix;
}

TEST_F(MixTest, DefaultIsAnUnstoredRandomSelection) {
  Mix mix;
  EXPECT_TRUE(mix.IsRandom());
  EXPECT_EQ(mix.GetId(), 0);
  EXPECT_TRUE(mix.IsLibraryMix());
  EXPECT_EQ(mix.GetPlaylistTrackCount(), 0);
  EXPECT_EQ(mix.GetDisplayName(), "Random selection");
  EXPECT_EQ(mix.GetDescription(), "Use selector to fine tune");
  EXPECT_EQ(mix.GetTagSqlClause(), "");
}

TEST_F(MixTest, RowConstructorReadsTheMixColumns) {
  Mix mix(SQLiteRow{{"id", "8"}, {"name", "Road"}, {"playlistmix", "1"}, {"playlistpos", "3"}, {"playlistid", "4455"}});
  EXPECT_EQ(mix.GetId(), 8);
  EXPECT_EQ(mix.GetName(), "Road");
  EXPECT_FALSE(mix.IsLibraryMix());
  EXPECT_EQ(mix.GetPlaylistPos(), 3);
  EXPECT_EQ(mix.GetPlaylistId(), 4455);
  EXPECT_TRUE(mix.IsRandom());
}

TEST_F(MixTest, TagListKeepsRandomFlagAndCountInStep) {
  Mix mix;
  Tag rock = MakeTag("Rock", TagGenre, 1, 3);
  mix.AddTag(rock, false);
  mix.AddTag(rock, false);  // held already: once
  Tag renamed = rock;
  renamed.name = "Rock and roll";
  mix.AddTag(renamed, false);  // the same tag by its id
  EXPECT_FALSE(mix.IsRandom());
  EXPECT_EQ(mix.GetTags().size(), 1u);
  EXPECT_EQ(mix.GetPlaylistTrackCount(), 3);
  EXPECT_EQ(mix.GetDisplayName(), "Untitled mix");
  EXPECT_EQ(mix.GetDescription(), "Rock");
  mix.AddTag(MakeTag("Jazz", TagGenre, 2, 4), false);
  EXPECT_EQ(mix.GetPlaylistTrackCount(), 7);

  mix.RemoveTag(MakeTag("Rock", TagArtist, 1, 3), false);
  EXPECT_EQ(mix.GetTags().size(), 2u);
  EXPECT_EQ(mix.GetPlaylistTrackCount(), 7);

  EXPECT_TRUE(mix.HasTag(Tag("Rock", TagGenre, 77)));
  EXPECT_TRUE(mix.HasTag(renamed));
  mix.RemoveTag(renamed, false);
  mix.RemoveTag(MakeTag("Jazz", TagGenre, 2, 4), false);
  EXPECT_TRUE(mix.GetTags().empty());
  EXPECT_EQ(mix.GetPlaylistTrackCount(), 0);
  EXPECT_TRUE(mix.IsRandom());
  EXPECT_FALSE(mix.HasTag(rock));
  EXPECT_EQ(mix.GetDisplayName(), "Random selection");
  EXPECT_EQ(mix.GetDescription(), "Use selector to fine tune");
}

TEST_F(MixTest, DescriptionJoinsEveryTagNameInListOrderEmptyOnesToo) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"", "Rock"}, ", Rock"},
      {{"Rock", "", "Jazz"}, "Rock, , Jazz"},
      {{"Rock", ""}, "Rock, "},
  };
  for (const auto& [names, description] : cases) {
    Mix mix;
    int id = 0;
    for (const std::string& name : names) mix.AddTag(MakeTag(name, TagGenre, ++id, 1), false);
    EXPECT_EQ(mix.GetDescription(), description);
  }
}

TEST_F(MixTest, PlaylistMixDescription) {
  Mix empty(77, "Road trip", 0);
  EXPECT_FALSE(empty.IsLibraryMix());
  EXPECT_FALSE(empty.IsRandom());
  EXPECT_EQ(empty.GetPlaylistId(), 77);
  EXPECT_EQ(empty.GetDescription(), "iTunes Playlist");
  Mix twelve(77, "Road trip", 12);
  EXPECT_EQ(twelve.GetDescription(), "iTunes playlist with 12 tracks");
  twelve.SetId(9);
  EXPECT_NE(twelve.GetPlayerMenuHtml().find("id=\"9_:_1_:_delete\""), std::string::npos);
  EXPECT_NE(EveningMix().GetPlayerMenuHtml().find("id=\"4_:_0_:_delete\""), std::string::npos);
}

TEST_F(MixTest, TagClauseJoinsTheConditions) {
  Mix mix;
  mix.AddTag(MakeTag("Rock", TagGenre, 1, 3), false);
  mix.AddTag(MakeTag("Guns N' Roses", TagArtist, 2, 2), false);
  EXPECT_EQ(mix.GetTagSqlClause(),
            "AND ((tag.name = 'Rock' AND tag.type = '0') OR (tag.name = 'Guns N'' Roses' AND "
            "tag.type = '2')) ");
}

TEST_F(MixTest, EntriesFollowTheirTemplates) {
  Mix mix = EveningMix();
  EXPECT_EQ(mix.GetPlayerMenuHtml(),
            "<div class=\"mixwrap\" id=\"4_:_0_:_set\" title=\"Play from Evening mix\" "
            "onclick=\"ypSlideOutMenu.hideAll();\" "
            "onMouseOver=\"this.style.backgroundColor='#adab22';\" "
            "onMouseOut=\"this.style.backgroundColor='#ffffff';\">&nbsp;<div "
            "class=\"windowcontrols\"><a href=\"#\" id=\"4_:_0_:_delete\" title=\"delete this mix\" "
            "class=\"mixdel\">X</a></div> Evening&nbsp; <div class=\"mixdesc\" "
            "onclick=\"this.parentNode.click()\">Rock, Jazz</div></div>");
  EXPECT_EQ(mix.GetAutomatorLinkHtml(),
            "<a href=\"#\" id=\"editormix\" mixid=4 onclick=\"mixclick('mixchanger','newmix');\"> "
            "<img id=\"Img1\" align=\"bottom\" border=\"0\" src=\"skin/automator_mix.gif\"> Evening "
            "</a>");
  EXPECT_EQ(mix.GetLabAddHolderHtml(),
            "<div class='mixholder' onmouseover='searchtrackover(this);' "
            "onmouseout='searchtrackout(this);'><a id='4_:_mixlab' class='labmix' href='#' "
            "title='view mix in lab'></a><a href='#' id='4_:_mixlink' class='mixlink' title='click "
            "to add tag to this mix'><span onclick='this.parentNode.click();' class='labmixname'> "
            "Evening </span>&nbsp;<span onclick='this.parentNode.click();' "
            "class='mixnametext'>Rock, Jazz</span></a><span class='mixright'></span></div>");
  EXPECT_EQ(mix.GetLabLinkHolderHtml(),
            "<div class='mixholder' onmouseover='searchtrackover(this);' "
            "onmouseout='searchtrackout(this);'><a id='4_:_mixlab' class='labmix' href='#' "
            "title='view mix in lab'></a><a href='#' id='4_:_mixlink' class='mixlink mixinlink' "
            "title='click to go to this mix in the lab'><span onclick='this.parentNode.click();' "
            "class='labmixname'> Evening </span><span onclick='this.parentNode.click();' "
            "class='mixnametext'>Rock, Jazz</span></a><span class='mixright'></span></div>");
  EXPECT_EQ(mix.GetLabListHolderHtml(),
            "<div class='mixholder' onmouseover='mixover(this);' onmouseout='mixout(this);'><a "
            "id='4_:_mixlab' class='labmix' href='#' title='view mix in lab'></a><a href='#' "
            "id='4_:_mixinlink' class='mixlink mixinlink'><span onclick='this.parentNode.click();' "
            "class='labmixname'> Evening </span><span onclick='this.parentNode.click();' "
            "class='mixnametext'>Rock, Jazz</span></a><a href='#' id='4_:_mixdel' class='delmix' "
            "title='remove tag from this mix'></a></div>");

  std::string tags = "x";
  EXPECT_EQ(mix.AppendLabTagsHtml(tags), 2);
  EXPECT_EQ(tags, "x" + mix.GetTags()[0].GetLabHolderHtml() + mix.GetTags()[1].GetLabHolderHtml());
}

TEST_F(MixTest, UnnamedMixesAreNotListed) {
  Mix mix;
  mix.AddTag(MakeTag("Rock", TagGenre, 1, 3), false);
  EXPECT_EQ(mix.GetPlayerMenuHtml(), "");
  EXPECT_EQ(mix.GetLabAddHolderHtml(), "");
  EXPECT_EQ(mix.GetLabLinkHolderHtml(), "");
  EXPECT_EQ(mix.GetLabListHolderHtml(), "");
  EXPECT_NE(mix.GetAutomatorLinkHtml().find("mixid=0 "), std::string::npos);
  EXPECT_NE(mix.GetAutomatorLinkHtml().find("> Untitled mix </a>"), std::string::npos);
}

TEST_F(MixTest, MarkupInNamesStaysText) {
  Mix mix = StoredMix(4, "<i>Mine</i> & \"yours\"");
  mix.AddTag(MakeTag("R'n'B <3", TagGenre, 1, 3), false);
  const std::string html = mix.GetPlayerMenuHtml();
  EXPECT_NE(html.find("title=\"Play from &lt;i&gt;Mine&lt;/i&gt; &amp; &quot;yours&quot; mix\""), std::string::npos);
  EXPECT_NE(html.find("onclick=\"this.parentNode.click()\">R&#39;n&#39;B &lt;3</div>"), std::string::npos);

  platform::MemoryHtmlDocument page;
  page.LoadHtml("<html><body><div id='holder'></div></body></html>");
  page.GetElementById("holder")->SetInnerHtml(html + mix.GetLabListHolderHtml() + mix.GetAutomatorLinkHtml());
  auto entry = page.GetElementById("4_:_0_:_set");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->GetAttribute("title"), "Play from " + mix.GetName() + " mix");
  EXPECT_EQ(entry->GetChildren().size(), 2u);
  auto listLink = page.GetElementById("4_:_mixinlink");
  ASSERT_NE(listLink, nullptr);
  EXPECT_EQ(listLink->GetInnerText(), " " + mix.GetName() + " R'n'B <3");
  auto editor = page.GetElementById("editormix");
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->GetChildren().size(), 1u);
}

TEST_F(MixTest, ElementConstructorParsesTheId) {
  AddTrack("One", "Artist", "Album", "Rock");
  Mix stored;
  stored.AddNewTag("Rock", TagGenre);
  stored.Rename("Rocking");
  platform::MemoryHtmlDocument page;
  page.LoadHtml("<html><body><a id='0_:_1_:_set'></a><a id='" + std::to_string(stored.GetId()) +
                "_:_0_:_delete'></a><a id='5000_:_1_:_set'></a></body></html>");

  Mix random(*page.GetElementById("0_:_1_:_set"));
  EXPECT_EQ(random.GetId(), 0);
  EXPECT_TRUE(random.IsRandom());
  EXPECT_TRUE(random.GetTags().empty());

  Mix loaded(*page.GetElementById(std::to_string(stored.GetId()) + "_:_0_:_delete"));
  EXPECT_EQ(loaded.GetName(), "Rocking");
  ASSERT_EQ(loaded.GetTags().size(), 1u);
  EXPECT_EQ(loaded.GetTags()[0].name, "Rock");
  EXPECT_EQ(loaded.GetPlaylistTrackCount(), 1);

  Mix gone(*page.GetElementById("5000_:_1_:_set"));
  EXPECT_EQ(gone.GetId(), 5000);
  EXPECT_TRUE(gone.GetTags().empty());
  EXPECT_FALSE(gone.IsLibraryMix());
}

TEST_F(MixTest, EditsAreStoredAtOnce) {
  AddTrack("One", "Artist", "Album", "Rock");
  AddTrack("Two", "Artist", "Album", "Jazz");
  Mix mix;
  mix.Rename("");
  ASSERT_GT(mix.GetId(), 0);
  EXPECT_EQ(Mix(mix.GetId()).GetName(), "Random selection");

  mix.AddNewTag("Rock", TagGenre);
  mix.AddNewTag("Jazz", TagGenre);
  Mix loaded(mix.GetId());
  EXPECT_EQ(loaded.GetTags().size(), 2u);
  EXPECT_EQ(loaded.GetPlaylistTrackCount(), 2);

  Tag album(db.FindOrCreateTag("Album", TagAlbum).id);
  mix.SetTag(album);
  loaded.Reload();
  ASSERT_EQ(loaded.GetTags().size(), 1u);
  EXPECT_EQ(loaded.GetTags()[0].name, "Album");
  EXPECT_EQ(loaded.GetPlaylistTrackCount(), 2);

  mix.RemoveTag(album, true);
  EXPECT_TRUE(mix.IsRandom());
  loaded.Reload();
  EXPECT_TRUE(loaded.GetTags().empty());
  EXPECT_TRUE(loaded.IsRandom());

  mix.Rename("Renamed");
  EXPECT_EQ(Mix(mix.GetId()).GetName(), "Renamed");
  EXPECT_EQ(Number("SELECT COUNT(*) FROM mix"), 1);
}

TEST_F(MixTest, ReloadKeepsAMixThatIsNotStored) {
  AddTrack("One", "Artist", "Album", "Rock");
  Mix played;
  played.AddTag(Tag(db.FindOrCreateTag("Rock", TagGenre).id), true);
  ASSERT_EQ(played.GetId(), 0);
  played.Reload();
  ASSERT_EQ(played.GetTags().size(), 1u);
  EXPECT_EQ(played.GetTags()[0].name, "Rock");
  EXPECT_FALSE(played.IsRandom());
  EXPECT_EQ(played.GetPlaylistTrackCount(), 1);

  Mix playlist(12, "Road trip", 7);
  playlist.Reload();
  EXPECT_EQ(playlist.GetDescription(), "iTunes playlist with 7 tracks");

  // A stored mix that was deleted meanwhile loses its tags and plays at random.
  Mix stored;
  stored.AddNewTag("Rock", TagGenre);
  stored.Rename("Gone soon");
  db.DeleteMix(stored);
  stored.Reload();
  EXPECT_TRUE(stored.GetTags().empty());
  EXPECT_TRUE(stored.IsRandom());
  EXPECT_EQ(stored.GetPlaylistTrackCount(), 0);
}

}  // namespace
