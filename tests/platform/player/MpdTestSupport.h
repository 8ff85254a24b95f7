// A real MPD for tests: started by the test on a folder of short generated
// songs, on a socket of its own, with the null output (it plays in real time
// without sound). Waits are on MPD's answers with generous bounds, never on
// durations.
#pragma once

#include <gtest/gtest.h>
#include <mpd/client.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/Messages.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/SoxSong.h"
#include "tests/support/TempFolder.h"

namespace zorva_test {

// Generous: the machine is shared and may be loaded.
constexpr auto kMpdWait = std::chrono::seconds(60);

// Pumps this thread's messages until `done` holds or the bound passes.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds bound = kMpdWait) {
  const auto until = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    platform::PumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Makes a tagged Ogg Vorbis file of `seconds` with sox.
inline bool MakeSong(const std::string& path, const std::string& title, const std::string& artist,
                     const std::string& genre, double seconds, int tone) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::vector<std::string> argv = SoxSongCommand(path, {title, artist, "Salt", genre}, seconds, tone);
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "sox", nullptr, nullptr, args.data(), environ) != 0) return false;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class TestMpd {
 public:
  // `config`: lines added to MPD's configuration; `output`: its audio
  // output block (the null output unless given).
  explicit TestMpd(
      const std::string& config = "",
      const std::string& output = "audio_output {\n  type \"null\"\n  name \"null\"\n  mixer_type \"none\"\n}\n")
      : host_("MPD_HOST", folder_.File("socket")),
        port_("MPD_PORT", nullptr),
        data_("XDG_DATA_HOME", folder_.File("data")),
        player_("ZORVA_PLAYER", "mpd") {
    std::filesystem::create_directories(Music());
    std::filesystem::create_directories(folder_.File("playlists"));
    std::filesystem::create_directories(folder_.File("data"));
    std::ofstream(folder_.File("mpd.conf")) << "music_directory \"" << Music() << "\"\n"
                                            << "playlist_directory \"" << folder_.File("playlists") << "\"\n"
                                            << "db_file \"" << folder_.File("db") << "\"\n"
                                            << "state_file \"" << folder_.File("state") << "\"\n"
                                            << "sticker_file \"" << folder_.File("sticker.sql") << "\"\n"
                                            << "bind_to_address \"" << folder_.File("socket") << "\"\n"
                                            << output << config;
  }
  ~TestMpd() {
    Resume();
    Stop();
  }

  std::string Music() const { return folder_.File("music"); }
  std::string Socket() const { return folder_.File("socket"); }
  const TempFolder& Folder() const { return folder_; }

  // Starts it and waits until it has read its folder.
  void Start() {
    ASSERT_FALSE(process_) << "started twice";
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/mpd", "--no-daemon", folder_.File("mpd.conf")});
    ASSERT_TRUE(PumpUntil([&] { return Answers(); })) << "MPD did not come up";
    Update();
  }
  // Reads the folder again and waits until it is done.
  void Update() {
    auto c = Open();
    ASSERT_TRUE(c);
    ASSERT_NE(mpd_run_update(c.get(), nullptr), 0u);
    ASSERT_TRUE(PumpUntil([&] {
      mpd_status* status = mpd_run_status(c.get());
      if (!status) return false;
      const bool done = mpd_status_get_update_id(status) == 0;
      mpd_status_free(status);
      return done;
    }));
  }
  // Ends it as a user quits it.
  void Stop() {
    if (!process_) return;
    ::kill(process_->Pid(), SIGTERM);
    process_->Wait();
    process_.reset();
  }
  // Stops it dead (it keeps its socket, answers nothing), and lets it go on.
  void Pause() {
    if (process_ && !paused_) ::kill(process_->Pid(), SIGSTOP);
    paused_ = process_ != nullptr;
  }
  void Resume() {
    if (process_ && paused_) ::kill(process_->Pid(), SIGCONT);
    paused_ = false;
  }

  bool Answers() const {
    auto c = Open();
    return c != nullptr;
  }

  struct Free {
    void operator()(mpd_connection* c) const { mpd_connection_free(c); }
  };
  using Connection = std::unique_ptr<mpd_connection, Free>;
  // A connection of the test's own, to change MPD behind the layer's back.
  Connection Open() const {
    Connection c(mpd_connection_new(folder_.File("socket").c_str(), 0, 10000));
    if (!c || mpd_connection_get_error(c.get()) != MPD_ERROR_SUCCESS) return nullptr;
    return c;
  }

 private:
  TempFolder folder_;
  ScopedEnv host_;
  ScopedEnv port_;
  ScopedEnv data_;
  ScopedEnv player_;
  std::unique_ptr<ChildProcess> process_;
  bool paused_ = false;
};

}  // namespace zorva_test
