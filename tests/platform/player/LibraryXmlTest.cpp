#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "platform/player/standin/Library.h"
#include "platform/player/standin/PlayerModel.h"
#include "tests/platform/player/PlayerTestSupport.h"

namespace {

using namespace platform::player;

std::string Track(long id, const std::string& fields) {
  return "<key>" + std::to_string(id) + "</key><dict><key>Track ID</key><integer>" + std::to_string(id) + "</integer>" +
         fields + "</dict>";
}

std::string Library(const std::string& tracks, const std::string& playlists) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><dict><key>Major Version</key><integer>1</integer>"
         "<key>Tracks</key><dict>" +
         tracks + "</dict><key>Playlists</key><array>" + playlists + "</array></dict></plist>\n";
}

const std::string kTracks =
    Track(201,
          "<key>Name</key><string>Caf\xC3\xA9 &amp; Bar</string><key>Artist</key><string>A</string>"
          "<key>Album</key><string>B</string><key>Genre</key><string>Jazz</string>"
          "<key>Kind</key><string>MPEG audio file</string><key>Total Time</key><integer>187400</integer>"
          "<key>Rating</key><integer>80</integer><key>Track Type</key><string>File</string>"
          "<key>Location</key><string>file://localhost/C:/Music/My%20Song%23.mp3</string>") +
    Track(202,
          "<key>Name</key><string>Home</string><key>Track Type</key><string>File</string>"
          "<key>Location</key><string>file:///home/me/Music/a%C3%A9.m4a</string>") +
    Track(203,
          "<key>Name</key><string>Stream</string><key>Track Type</key><string>URL</string>"
          "<key>Location</key><string>http://radio.invalid/live</string>");

const std::string kPlaylists =
    "<dict><key>Name</key><string>Library</string><key>Master</key><true/>"
    "<key>Playlist ID</key><integer>500</integer><key>Playlist Persistent ID</key><string>AAA</string>"
    "<key>Playlist Items</key><array><dict><key>Track ID</key><integer>201</integer></dict></array></dict>"
    "<dict><key>Name</key><string>Music</string><key>Playlist ID</key><integer>501</integer>"
    "<key>Distinguished Kind</key><integer>4</integer></dict>"
    "<dict><key>Name</key><string>Folder</string><key>Playlist ID</key><integer>502</integer>"
    "<key>Playlist Persistent ID</key><string>F00</string><key>Folder</key><true/></dict>"
    "<dict><key>Name</key><string>Inside</string><key>Playlist ID</key><integer>503</integer>"
    "<key>Parent Persistent ID</key><string>F00</string><key>Playlist Items</key><array>"
    "<dict><key>Track ID</key><integer>202</integer></dict><dict><key>Track ID</key><integer>201</integer></dict>"
    "<dict><key>Track ID</key><integer>202</integer></dict></array></dict>"
    "<dict><key>Name</key><string>Smart</string><key>Playlist ID</key><integer>504</integer>"
    "<key>Smart Info</key><data>AQEAAwAAAAIAAAAZAAAAAAAAAAc=</data></dict>";

TEST(LibraryXmlTest, ReadsTracksAndPlaylists) {
  const LibraryData lib = ParseLibraryXml(Library(kTracks, kPlaylists), "lib.xml");
  ASSERT_EQ(lib.tracks.size(), 3u);
  const TrackData& t = lib.tracks[0];
  EXPECT_EQ(t.databaseId, 201);
  EXPECT_EQ(t.name, "Caf\xC3\xA9 & Bar");
  EXPECT_EQ(t.artist, "A");
  EXPECT_EQ(t.album, "B");
  EXPECT_EQ(t.genre, "Jazz");
  EXPECT_EQ(t.seconds, 187);
  EXPECT_EQ(t.rating, 80);
  EXPECT_EQ(t.kind, ITTrackKindFile);
  EXPECT_EQ(t.location, "C:/Music/My Song#.mp3");
  EXPECT_EQ(lib.tracks[1].location, "/home/me/Music/a\xC3\xA9.m4a");
  EXPECT_EQ(lib.tracks[2].kind, ITTrackKindURL);
  EXPECT_EQ(lib.tracks[2].location, "http://radio.invalid/live");

  ASSERT_EQ(lib.playlists.size(), 5u);
  EXPECT_EQ(lib.playlists[0].playlistId, 500);  // the Master playlist holds every track
  EXPECT_EQ(lib.playlists[0].trackIds, (std::vector<long>{201, 202, 203}));
  EXPECT_EQ(lib.playlists[1].specialKind, ITUserPlaylistSpecialKindMusic);
  EXPECT_EQ(lib.playlists[2].specialKind, ITUserPlaylistSpecialKindFolder);
  EXPECT_EQ(lib.playlists[3].parentId, 502);
  EXPECT_EQ(lib.playlists[3].trackIds, (std::vector<long>{202, 201, 202}));
  EXPECT_TRUE(lib.playlists[4].smart);
  EXPECT_EQ(lib.playlists[4].specialKind, ITUserPlaylistSpecialKindNone);
}

// The reader streams: where the parts stand and what lies between them
// changes nothing.
TEST(LibraryXmlTest, OrderOfPartsAndLayoutDoNotMatter) {
  const LibraryData plain = ParseLibraryXml(Library(kTracks, kPlaylists), "a.xml");
  std::string spaced = Library(kTracks, kPlaylists);
  for (const char* tag : {"<key>", "<dict>", "</array>"})
    for (size_t at = spaced.find(tag); at != std::string::npos; at = spaced.find(tag, at + 20))
      spaced.insert(at, "\n\t<!-- note -->\t");
  const std::string playlistsFirst = "<plist><dict><key>Playlists</key><array>" + kPlaylists +
                                     "</array><key>Tracks</key><dict>" + kTracks + "</dict></dict></plist>";
  for (const std::string& text : {spaced, playlistsFirst}) {
    const LibraryData lib = ParseLibraryXml(text, "b.xml");
    EXPECT_EQ(lib.tracks, plain.tracks);
    EXPECT_EQ(lib.playlists, plain.playlists);
  }
}

TEST(LibraryXmlTest, BadFilesAreRefusedNamingTheFileAndTheFault) {
  const struct {
    const char* name;
    std::string text;
    const char* fault;
  } cases[] = {
      {"not XML", "this is no XML <", "not an XML file"},
      {"empty", "", "not an XML file (line 1: no root element)"},
      {"no element", "<?xml version=\"1.0\"?>\n<!-- nothing -->\n", "no root element"},
      {"broken after the tracks", Library(Track(1, ""), "") + "<x", "not an XML file"},
      {"no Tracks", "<plist><dict><key>Playlists</key><array/></dict></plist>", "no Tracks dictionary"},
      {"bad location",
       Library(Track(1,
                     "<key>Track Type</key><string>File</string>"
                     "<key>Location</key><string>file://localhost/C:/a%zz.mp3</string>"),
               ""),
       "bad Location"},
      {"remote host", Library(Track(1, "<key>Location</key><string>file://server/x.mp3</string>"), ""), "bad Location"},
      {"file without location", Library(Track(1, "<key>Track Type</key><string>File</string>"), ""),
       "without a Location"},
      {"no track id", Library("<key>1</key><dict><key>Name</key><string>x</string></dict>", ""), "no Track ID"},
      {"wrong type", Library(Track(1, "<key>Name</key><integer>3</integer>"), ""), "Name is an integer"},
      {"rating", Library(Track(1, "<key>Rating</key><integer>120</integer>"), ""), "out of range"},
      {"unknown item",
       Library(Track(1, ""),
               "<dict><key>Name</key><string>P</string><key>Playlist ID</key><integer>9</integer>"
               "<key>Playlist Items</key><array><dict><key>Track ID</key><integer>2</integer>"
               "</dict></array></dict>"),
       "unknown track 2"},
      {"unknown parent",
       Library(Track(1, ""),
               "<dict><key>Name</key><string>P</string><key>Playlist ID</key><integer>9</integer>"
               "<key>Parent Persistent ID</key><string>NOPE</string></dict>"),
       "parent NOPE"},
      {"entity",
       "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>"
       "<plist><dict><key>Tracks</key><dict>" +
           Track(1, "<key>Name</key><string>&e;</string>") + "</dict></dict></plist>",
       "entity references are not allowed"},
  };
  player_test::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("library.xml");
    std::ofstream(path, std::ios::trunc) << c.text;
    try {
      LoadLibraryXml(path);
      ADD_FAILURE() << "accepted";
    } catch (const LibraryError& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
      EXPECT_NE(message.find(c.fault), std::string::npos) << message;
    }
  }
  EXPECT_THROW(LoadLibraryXml(dir.File("missing.xml")), LibraryError);
}

TEST(LibraryXmlTest, ARefusedReloadLeavesTheServedLibraryWhole) {
  player_test::TempDir dir;
  const std::string path = dir.File("half.xml");
  // Good tracks first, then a broken playlist: nothing of it may arrive.
  std::ofstream(path) << Library(Track(1, "<key>Name</key><string>x</string>"),
                                 "<dict><key>Name</key><string>P</string><key>Playlist ID</key>"
                                 "<integer>9</integer><key>Playlist Items</key><array><dict>"
                                 "<key>Track ID</key><integer>7</integer></dict></array></dict>");
  PlayerModel model(MakeSampleLibrary());
  EXPECT_THROW(model.ReplaceLibrary(LoadLibraryXml(path)), LibraryError);
  EXPECT_EQ(model.Status().trackCount, 40);
  EXPECT_EQ(model.Status().playlistCount, 5);
}

TEST(LibraryXmlTest, FolderOfAudioFilesNamesTracksFromThePath) {
  player_test::TempDir dir;
  std::filesystem::create_directories(dir.File("The Band/First Album"));
  std::ofstream(dir.File("The Band/First Album/01 - Opening.mp3")) << std::string(160000, 'x');
  std::ofstream(dir.File("The Band/First Album/02 Second.FLAC")) << "x";
  std::ofstream(dir.File("The Band/First Album/cover.jpg")) << "x";
  std::ofstream(dir.File("Loose.ogg")) << "x";
  const LibraryData lib = LoadLibraryFolder(dir.Path());
  ASSERT_EQ(lib.tracks.size(), 3u);
  EXPECT_EQ(lib.tracks[0].name, "Loose");
  EXPECT_EQ(lib.tracks[0].artist, "");
  const TrackData& opening = lib.tracks[1];
  EXPECT_EQ(opening.name, "Opening");
  EXPECT_EQ(opening.artist, "The Band");
  EXPECT_EQ(opening.album, "First Album");
  EXPECT_EQ(opening.seconds, 10);
  EXPECT_EQ(opening.location, dir.File("The Band/First Album/01 - Opening.mp3"));
  EXPECT_EQ(lib.tracks[2].name, "Second");
  ASSERT_EQ(lib.playlists.size(), 1u);
  EXPECT_EQ(lib.playlists[0].trackIds.size(), 3u);
  try {
    LoadLibraryFolder(dir.File("nowhere"));
    ADD_FAILURE() << "accepted";
  } catch (const LibraryError& e) {
    EXPECT_NE(std::string(e.what()).find(dir.File("nowhere")), std::string::npos);
  }
}

TEST(LibraryXmlTest, SampleLibraryIsTheSameEveryTime) {
  const LibraryData a = MakeSampleLibrary();
  const LibraryData b = MakeSampleLibrary();
  ASSERT_EQ(a.tracks.size(), 40u);
  EXPECT_EQ(a.tracks, b.tracks);
  EXPECT_EQ(a.playlists, b.playlists);
  std::set<std::string> artists, albums, genres;
  for (const TrackData& t : a.tracks) {
    artists.insert(t.artist);
    albums.insert(t.album);
    genres.insert(t.genre);
    EXPECT_GT(t.seconds, 0);
  }
  EXPECT_EQ(artists.size(), 5u);
  EXPECT_EQ(albums.size(), 8u);
  EXPECT_EQ(genres.size(), 4u);
  ASSERT_EQ(a.playlists.size(), 5u);
  EXPECT_EQ(std::count_if(a.playlists.begin(), a.playlists.end(), [](const auto& p) { return p.smart; }), 1);
  EXPECT_EQ(std::count_if(a.playlists.begin(), a.playlists.end(),
                          [](const auto& p) { return p.specialKind == ITUserPlaylistSpecialKindFolder; }),
            1);
  EXPECT_NO_THROW(ValidateLibrary(a, "sample"));
}

TEST(LibraryXmlTest, FileUrls) {
  EXPECT_EQ(FileUrlToPath("file:///a/b%20c"), "/a/b c");
  EXPECT_EQ(FileUrlToPath("file://localhost/D:/x.mp3"), "D:/x.mp3");
  EXPECT_THROW(FileUrlToPath("http://x/y"), LibraryError);
  EXPECT_THROW(FileUrlToPath("file:///a%00b"), LibraryError);
  EXPECT_THROW(FileUrlToPath("file:///a%4"), LibraryError);
}

}  // namespace
