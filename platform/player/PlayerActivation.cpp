#include "platform/player/PlayerActivation.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/player/ITunes.h"
#include "platform/player/LibraryInternal.h"
#include "platform/player/MpdPlayer.h"

extern char** environ;

namespace platform::player {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The value of XDG_MUSIC_DIR="..." in user-dirs.dirs, with $HOME put in.
std::string MusicFolderFromUserDirs(const std::string& home) {
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty() || config[0] != '/') config = home + "/.config";
  std::ifstream file(config + "/user-dirs.dirs");
  const std::string key = "XDG_MUSIC_DIR=\"";
  for (std::string line; std::getline(file, line);) {
    if (line.rfind(key, 0) != 0) continue;
    const std::size_t end = line.rfind('"');
    if (end < key.size()) return {};
    std::string value = line.substr(key.size(), end - key.size());
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    return value.empty() || value[0] != '/' ? std::string() : value;
  }
  return {};
}

bool ChildHasEnded(pid_t pid) {
  int status = 0;
  pid_t done = 0;
  while ((done = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  return done != 0;
}

}  // namespace

std::string UserMusicFolder() {
  if (std::string music = Env("XDG_MUSIC_DIR"); !music.empty()) return music;
  const std::string home = Env("HOME");
  if (home.empty()) return {};
  if (std::string music = MusicFolderFromUserDirs(home); !music.empty()) return music;
  return home + "/Music";
}

bool FolderHoldsAudio(const std::string& folder, int limit) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (folder.empty() || !fs::is_directory(folder, ec)) return false;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  for (int seen = 0; !ec && it != fs::recursive_directory_iterator() && seen < limit; it.increment(ec), ++seen) {
    if (it->is_regular_file(ec) && IsAudioFileName(it->path())) return true;
  }
  return false;
}

std::vector<std::string> PlayerLibraryArguments() {
  std::error_code ec;
  if (std::string library = Env("ZORVA_PLAYER_LIBRARY"); !library.empty())
    return {std::filesystem::is_directory(library, ec) ? "--folder" : "--library", library};
  if (std::string music = UserMusicFolder(); FolderHoldsAudio(music)) return {"--folder", music};
  return {"--sample"};
}

bool StartPlayerServer(const std::string& program, Millis timeout) {
  if (ChosenPlayer() == PlayerKind::Mpd) {
    // Zorva's own MPD: on the user's music, else on the sample beside the programs.
    std::string music = UserMusicFolder();
    if (!FolderHoldsAudio(music)) music = std::filesystem::path(program).parent_path() / "sample-music";
    return StartOwnMpd(music, timeout);
  }
  std::vector<std::string> argv = {program, "serve"};
  for (std::string& argument : PlayerLibraryArguments()) argv.push_back(std::move(argument));
  argv.push_back("--socket");
  argv.push_back(PlayerSocketPath());
  std::vector<char*> args;
  for (std::string& argument : argv) args.push_back(argument.data());
  args.push_back(nullptr);

  posix_spawnattr_t attributes;
  if (::posix_spawnattr_init(&attributes) != 0) return false;
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  const int started = ::posix_spawn(&pid, args[0], nullptr, &attributes, args.data(), environ);
  ::posix_spawnattr_destroy(&attributes);
  if (started != 0) return false;

  const Millis deadline = TheClock().Now() + timeout;
  bool up = false;
  bool ended = false;
  while (!(up = IsPlayerRunning()) && !(ended = ChildHasEnded(pid)) && TheClock().Now() < deadline) Sleep(50);
  // Reaped whenever it ends, without holding up the program.
  if (!ended) {
    std::thread([pid] {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  }
  return up;
}

}  // namespace platform::player
