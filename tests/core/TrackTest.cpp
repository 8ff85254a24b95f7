#include "core/Track.h"

#include <gtest/gtest.h>

#include "core/Mix.h"
#include "core/Tag.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "tests/core/RecordsTestSupport.h"

namespace {

using zorva_test::RecordsTest;

// Every case runs with a database of its own installed as theMusicDB.
class TrackTest : public RecordsTest {};

Track MakeTrack(int id, const std::string& name, const std::string& artist) {
  Track track;
  track.id = id;
  track.name = name;
  track.artist = artist;
  track.album = "Album";
  track.genre = "Pop";
  track.location = "/music/" + name;
  return track;
}

const char kTitle[] =
    "<span onclick='this.parentNode.click();' class=\"trackname\">Blue Monday</span>"
    "<span onclick='this.parentNode.click();' class=\"artistname\">New Order</span>";

TEST_F(TrackTest, TitleAndLabRowsFollowTheirTemplates) {
  Track track = MakeTrack(7, "Blue Monday", "New Order");
  EXPECT_EQ(track.GetTitleHtml(), kTitle);
  EXPECT_EQ(track.GetLabListHtml(),
            std::string("<div id='7_:_list' class='labtracklist' onmouseover='trackover(this);' "
                        "onmouseout='trackout(this);'><a id='7_:_lab' class='labtrack' href='#' "
                        "title='view track in lab'></a><a id='7_:_lab2' class='lablink'><img "
                        "src='skin/track_icon.gif'>") +
                kTitle +
                "</a><a id='7_:_dump' class='dumptrack' href='#'  title=\"Dump Track -&#13;I "
                "don't want to hear this track again\"></a></div>");
  EXPECT_EQ(track.GetDumpListHtml(),
            std::string("<div id='7_:_list' class='labtracklist' onmouseover='dumptrackover(this);' "
                        "onmouseout='dumptrackout(this);'><a id='7_:_lab' class='labtrack' "
                        "href='#' title='view track in lab'></a><a id='7_:_lab2' "
                        "class='lablink'><img src='skin/track_icon.gif'>") +
                kTitle +
                "</a><a id='7_:_dump' class='releasetrack' href='#'  title=\"Release Track "
                "-&#13;Bring track back into rotation\"></a></div>");
  EXPECT_EQ(track.GetSearchListHtml(),
            std::string("<div id='7_:_list' class='labtracklist' "
                        "onmouseover='searchtrackover(this);' onmouseout='searchtrackout(this);'>"
                        "<a id='7_:_lab' class='labtrack' href='#' title='view track in lab'></a>"
                        "<a id='7_:_lab2' class='lablink searchlablink'><img "
                        "src='skin/track_icon.gif'>") +
                kTitle + "</a><span class='searchtagright'></span></div>");
}

TEST_F(TrackTest, MarkupInNamesStaysText) {
  Track track = MakeTrack(9, "<b>Don't</b> \"stop\"", "Tom & Jerry's <script>x</script>");
  EXPECT_EQ(track.GetTitleHtml(),
            "<span onclick='this.parentNode.click();' class=\"trackname\">&lt;b&gt;Don&#39;t&lt;/b&gt; "
            "&quot;stop&quot;</span><span onclick='this.parentNode.click();' "
            "class=\"artistname\">Tom &amp; Jerry&#39;s &lt;script&gt;x&lt;/script&gt;</span>");

  platform::MemoryHtmlDocument page;
  page.LoadHtml("<html><body><div id='list'></div></body></html>");
  page.GetElementById("list")->SetInnerHtml(track.GetLabListHtml());
  auto row = page.GetElementById("9_:_list");
  ASSERT_NE(row, nullptr);
  // Three links and their spans: nothing more came out of the names.
  ASSERT_EQ(row->GetChildren().size(), 3u);
  auto link = page.GetElementById("9_:_lab2");
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->GetInnerText(), track.name + track.artist);
  EXPECT_NE(page.GetElementById("9_:_dump"), nullptr);
}

TEST_F(TrackTest, StoredReferencesShowAsBefore) {
  // A name stored from edited page HTML holds its entity; it shows as "&".
  Track track = MakeTrack(3, "Rock &amp; Roll &#39;n&#x27;", "A&B");
  EXPECT_EQ(track.GetTitleHtml(),
            "<span onclick='this.parentNode.click();' class=\"trackname\">Rock &amp; Roll "
            "&#39;n&#x27;</span><span onclick='this.parentNode.click();' "
            "class=\"artistname\">A&amp;B</span>");
}

TEST_F(TrackTest, EqualityComparesLocationsOnly) {
  Track a = MakeTrack(1, "One", "X");
  Track b = MakeTrack(2, "Two", "Y");
  b.location = a.location;
  EXPECT_TRUE(a == b);
  Track c = a;
  c.location = a.location + "x";
  EXPECT_FALSE(a == c);
  Track upper = a;
  upper.location = "/MUSIC/One";
  EXPECT_FALSE(a == upper);
}

TEST_F(TrackTest, RowConstructorReadsTheTrackColumns) {
  SQLiteRow row{{"id", "12"},       {"name", "N"},  {"album", "Al"},   {"artist", "Ar"},
                {"location", "/l"}, {"genre", "G"}, {"length", "321"}, {"enabled", "0"}};
  Track track(row);
  EXPECT_EQ(track.id, 12);
  EXPECT_EQ(track.name, "N");
  EXPECT_EQ(track.album, "Al");
  EXPECT_EQ(track.artist, "Ar");
  EXPECT_EQ(track.location, "/l");
  EXPECT_EQ(track.genre, "G");
  EXPECT_EQ(track.length, 321);
  EXPECT_FALSE(track.enabled);
  EXPECT_TRUE(track.rating.empty());
  EXPECT_FALSE(track.uploaded);
}

TEST_F(TrackTest, ListeningToTextEscapesNameAndArtist) {
  Track track = MakeTrack(1, "Rock & Roll", "\"AC<DC>\"");
  EXPECT_EQ(track.GetListeningToText(), "Listening to Rock &amp; Roll by &quot;AC&lt;DC&gt;&quot;");
}

TEST_F(TrackTest, IdAndElementConstructorsLoadTheTrack) {
  Track stored = AddTrack("Song", "Artist", "Album", "Rock", 245);
  Track byId(stored.id);
  EXPECT_EQ(byId.name, "Song");
  EXPECT_EQ(byId.location, stored.location);
  EXPECT_EQ(byId.length, 245);
  EXPECT_TRUE(byId.enabled);

  platform::MemoryHtmlDocument page;
  page.LoadHtml("<html><body><div id='list'></div></body></html>");
  page.GetElementById("list")->SetInnerHtml(byId.GetLabListHtml());
  Track fromElement(*page.GetElementById(std::to_string(stored.id) + "_:_lab2"));
  EXPECT_EQ(fromElement.id, stored.id);
  EXPECT_EQ(fromElement.name, "Song");
  EXPECT_EQ(fromElement.artist, "Artist");

  Track unknown(stored.id + 100);
  EXPECT_EQ(unknown.id, stored.id + 100);
  EXPECT_TRUE(unknown.name.empty());
  EXPECT_TRUE(unknown.location.empty());
}

TEST_F(TrackTest, TagForwardersChangeTheDatabase) {
  Track track = AddTrack("Song", "Artist", "Album", "Rock");
  track.SetTag("favourite", TagZorva);
  track.SetTag("favourite", TagZorva);  // a tag the track holds: once
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag, tag WHERE tagid = tag.id AND tag.name = "
                   "'favourite'"),
            1);
  // Lab tags keep the genre of the track: a second genre is one more.
  track.SetTag("Jazz", TagGenre);
  TagList tags;
  db.GetTrackTags(tags, track);
  EXPECT_EQ(tags.size(), 5u);

  Tag favourite = db.FindOrCreateTag("favourite", TagZorva);
  track.RemoveTag(favourite);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag WHERE tagid = " + std::to_string(favourite.id)), 0);
  track.AddTag(favourite);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag WHERE tagid = " + std::to_string(favourite.id)), 1);

  track.album = "Other album";
  track.SaveDetails("New name");
  Track reloaded(track.id);
  EXPECT_EQ(reloaded.name, "New name");
  EXPECT_EQ(reloaded.album, "Other album");
}

TEST_F(TrackTest, LabTagsHtmlListsEveryTagOfTheTrack) {
  Track track = AddTrack("Song", "Artist", "Album", "Rock");
  TagList tags;
  db.GetTrackTags(tags, track);
  std::string expected = "start";
  for (const Tag& tag : tags) expected += tag.GetLabHolderHtml();
  std::string html = "start";
  track.GetLabTagsHtml(html);
  EXPECT_EQ(html, expected);
  EXPECT_NE(html.find("skin/artist_icon.gif'>Artist</span>"), std::string::npos);
  EXPECT_NE(html.find("skin/album_icon.gif'>Album</span>"), std::string::npos);
  EXPECT_NE(html.find("skin/genre_icon.gif'>Rock</span>"), std::string::npos);
}

TEST_F(TrackTest, UploadXmlCarriesTagsMixAndRating) {
  Track track = AddTrack("Rock & Roll", "Artist", "Album", "Rock", 180);
  Mix mix;
  mix.AddNewTag("Party", TagZorva);
  mix.Rename("Party mix");
  track.rating = "4 out of 5";
  std::string xml = track.GetXml(mix);
  const std::string head =
      "<track><name>Rock &amp; Roll</name><artist>Artist</artist><album>Album</album>"
      "<genre>Rock</genre><length>180</length>";
  ASSERT_EQ(xml.substr(0, head.size()), head);
  TagList tags;
  db.GetTrackTags(tags, track);
  std::string expected = head;
  for (const Tag& tag : tags) expected += tag.GetXml();
  expected +=
      "<tag><tag_type>5</tag_type><name>Party mix</name></tag>"
      "<tag><tag_type>6</tag_type><name>4 out of 5</name></tag></track>";
  EXPECT_EQ(xml, expected);
  EXPECT_EQ(tags.size(), 3u);
}

TEST_F(TrackTest, UploadXmlLeavesOutMusicUnnamedArtistAndAlbumMixes) {
  Track track = AddTrack("Song", "Artist", "Album", "Rock", 100);
  Mix music;
  music.Rename("Music");
  Mix artist;
  artist.Rename("Artist");
  Mix album;
  album.Rename("Album");
  Mix lowerCase;
  lowerCase.Rename("artist");
  for (const Mix& mix : {Mix(), music, artist, album}) {
    EXPECT_EQ(track.GetXml(mix).find("<tag_type>5</tag_type>"), std::string::npos) << mix.GetName();
  }
  EXPECT_NE(track.GetXml(lowerCase).find("<tag><tag_type>5</tag_type><name>artist</name></tag>"), std::string::npos);
}

}  // namespace
