// Starting the player stand-in for a program that finds none: which library
// it serves, and a real zorva-player started by CoCreateITunesApp.
#include "platform/player/PlayerActivation.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/player/ITunes.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

namespace {

namespace pp = platform::player;
using zorva_test::ScopedEnv;
using zorva_test::TempFolder;
using Args = std::vector<std::string>;

void Touch(const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << "x";
}

class PlayerActivationTest : public ::testing::Test {
 protected:
  TempFolder home_;
  ScopedEnv homeEnv_{"HOME", home_.Path()};
  ScopedEnv config_{"XDG_CONFIG_HOME", nullptr};
  ScopedEnv music_{"XDG_MUSIC_DIR", nullptr};
  ScopedEnv library_{"ZORVA_PLAYER_LIBRARY", nullptr};
  ScopedEnv socket_{"ZORVA_PLAYER_SOCKET", home_.File("player.sock")};
};

TEST_F(PlayerActivationTest, ServesTheLibraryNamedElseTheMusicFolderWithAudioElseTheSample) {
  // ~/Music without audio files, then with one deep inside.
  Touch(home_.File("Music/notes.txt"));
  EXPECT_EQ(pp::PlayerLibraryArguments(), (Args{"--sample"}));
  Touch(home_.File("Music/Artist/Album/01 Song.MP3"));
  EXPECT_EQ(pp::PlayerLibraryArguments(), (Args{"--folder", home_.File("Music")}));

  // The music folder the user's folder list names.
  Touch(home_.File("Sounds/a.flac"));
  std::filesystem::create_directories(home_.File(".config"));
  std::ofstream(home_.File(".config/user-dirs.dirs")) << "# comment\nXDG_MUSIC_DIR=\"$HOME/Sounds\"\n";
  EXPECT_EQ(pp::UserMusicFolder(), home_.File("Sounds"));
  {
    ScopedEnv music("XDG_MUSIC_DIR", home_.File("Empty"));
    EXPECT_EQ(pp::PlayerLibraryArguments(), (Args{"--sample"}));
  }
  // The library named wins, as a folder or as a file.
  ScopedEnv named("ZORVA_PLAYER_LIBRARY", home_.File("Music"));
  EXPECT_EQ(pp::PlayerLibraryArguments(), (Args{"--folder", home_.File("Music")}));
  ScopedEnv file("ZORVA_PLAYER_LIBRARY", home_.File("Library.xml"));
  EXPECT_EQ(pp::PlayerLibraryArguments(), (Args{"--library", home_.File("Library.xml")}));
}

TEST_F(PlayerActivationTest, CoCreateStartsTheRegisteredPlayerOnceAndAFailedStartIsReported) {
  int activations = 0;
  pp::RegisterPlayerActivator([&] {
    ++activations;
    return pp::StartPlayerServer(ZORVA_PLAYER_BINARY, 30000);
  });
  {
    // A library that cannot be loaded: the player ends at once, nobody answers.
    ScopedEnv broken("ZORVA_PLAYER_LIBRARY", home_.File("missing.xml"));
    std::shared_ptr<pp::IiTunes> app;
    EXPECT_EQ(pp::CoCreateITunesApp(&app), pp::CO_E_SERVER_EXEC_FAILURE);
    EXPECT_EQ(app, nullptr);
    EXPECT_EQ(activations, 1);
  }
  std::shared_ptr<pp::IiTunes> app;
  ASSERT_EQ(pp::CoCreateITunesApp(&app), S_OK);
  std::shared_ptr<pp::IiTunes> second;
  ASSERT_EQ(pp::CoCreateITunesApp(&second), S_OK);
  EXPECT_EQ(activations, 2);  // the second found the player running
  std::shared_ptr<pp::IITPlaylist> playlist;
  ASSERT_EQ(app->get_LibraryPlaylist(&playlist), S_OK);
  std::shared_ptr<pp::IITTrackCollection> tracks;
  playlist->get_Tracks(&tracks);
  long count = 0;
  tracks->get_Count(&count);
  EXPECT_EQ(count, 40);  // the sample library
  pp::RegisterPlayerActivator(nullptr);
  const std::string quit = std::string(ZORVA_PLAYER_BINARY) + " ctl --socket '" + home_.File("player.sock") + "' quit";
  EXPECT_EQ(std::system(quit.c_str()), 0);
}

}  // namespace
