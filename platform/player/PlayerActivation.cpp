#include "platform/player/PlayerActivation.h"

#include <fcntl.h>
#include <mpd/client.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <iterator>
#include <thread>

#include "platform/player/ITunes.h"
#include "platform/player/standin/LibraryInternal.h"
#include "platform/player/mpd/MpdPlayer.h"
#include "platform/player/standin/PlayerSocket.h"
#include "platform/profile/Profile.h"
#include "platform/shell/Shell.h"
#include "platform/kernel/EnvFolders.h"
#include "platform/kernel/UniqueFd.h"
#include "platform/player/mpd/MpdOwners.h"

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

std::mutex theFaultLock;
std::string theStartFault;

// Says on standard error why the player cannot start, and keeps it for the
// program's own message.
void SetStartFault(const std::string& fault) {
  std::lock_guard<std::mutex> lock(theFaultLock);
  theStartFault = fault;
  if (!fault.empty()) std::fprintf(stderr, "zorva: %s\n", fault.c_str());
}

bool ChildHasEnded(pid_t pid) {
  int status = 0;
  pid_t done = 0;
  while ((done = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {}
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

std::string PlayerStartFault() {
  std::lock_guard<std::mutex> lock(theFaultLock);
  return theStartFault;
}

bool StartPlayerServer(const std::string& program, Millis timeout) {
  SetStartFault("");
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
  while (!(up = IsPlayerRunning()) && !(ended = ChildHasEnded(pid)) && TheClock().Now() < deadline) WaitForOthers(50);
  // Reaped whenever it ends, without holding up the program.
  if (!ended) {
    std::thread([pid] {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    }).detach();
  }
  return up;
}

// --- which player, and Zorva's own MPD

namespace {

bool Named(const std::string& name, PlayerKind* kind) {
  if (name == "mpd")
    *kind = PlayerKind::Mpd;
  else if (name == "stand-in")
    *kind = PlayerKind::StandIn;
  else
    return false;
  return true;
}

// Something listens on the stand-in's socket, or its folder is refused. The
// connection is not waited for: a server that accepts nothing must not hold
// up the choice.
bool StandInAnswers() {
  const std::string path = PlayerSocketPath();
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  platform::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.IsDefined()) return false;
  const int done = ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const bool listening = done == 0 || errno == EAGAIN || errno == EINPROGRESS;
  fd.Reset();
  if (listening) return true;
  // Its folder refused (not private) is the stand-in's answer too.
  std::string refused;
  platform::UniqueFd(ConnectToPlayer(path, &refused));
  return !refused.empty();
}

// Zorva's own MPD keeps its database, state and playlists here.
std::string DataFolder() { return platform::shell::DataFolder() + "mpd"; }

// Runs `argv` and waits for it; its output goes nowhere. True when it exits 0.
bool RunProgram(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  std::vector<std::string> copy = argv;
  for (std::string& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  ::posix_spawnattr_init(&attributes);
  // The daemon it leaves behind goes on after the program ends.
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  const int started = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  if (started != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The MPD named by the pid file when it still runs on `config`: 0 when none.
pid_t RunningOn(const std::string& pidFile, const std::string& config) {
  std::ifstream file(pidFile);
  pid_t pid = 0;
  if (!(file >> pid) || pid <= 0) return 0;
  std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
  const std::string line((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
  return line.find(config) != std::string::npos && line.find("mpd") != std::string::npos ? pid : 0;
}

// The library, ratings and playlist names are the user's alone, also in
// folders and files that an older start left open to others.
// "" when they are the user's; else what is wrong and where.
std::string MakeDataPrivate(const std::string& zorva) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(zorva + "/mpd/playlists", ec);
  for (const std::string& folder : {zorva, zorva + "/mpd", zorva + "/mpd/playlists"}) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return folder + ": cannot create the folder: " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return folder + ": not a folder";
    if (st.st_uid != ::getuid())
      return folder + ": belongs to user " + std::to_string(st.st_uid) + ", not to you (user " +
             std::to_string(::getuid()) + ")";
    ::chmod(folder.c_str(), 0700);
  }
  for (fs::recursive_directory_iterator it(zorva + "/mpd", ec), end; !ec && it != end; it.increment(ec)) {
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    ::chmod(it->path().c_str(), S_ISDIR(st.st_mode) ? 0700 : (st.st_mode & 0700));
  }
  return {};
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

PlayerKind ChosenPlayer(bool* mpdAnswers) {
  PlayerKind kind = PlayerKind::StandIn;
  // The stand-in's socket named is the stand-in chosen.
  const bool named = Named(Env("ZORVA_PLAYER"), &kind) || Named(GetProfileString("Player", "Name", ""), &kind) ||
                     Named(Env("ZORVA_PLAYER_SOCKET").empty() ? "" : "stand-in", &kind);
  if (named && (kind == PlayerKind::StandIn || !mpdAnswers)) return kind;
  // A player that does not answer costs the time-out: it is asked once.
  const bool answers = IsMpdRunning();
  if (mpdAnswers) *mpdAnswers = answers;
  if (named || answers) return PlayerKind::Mpd;
  if (StandInAnswers()) return PlayerKind::StandIn;
  return MpdInstalled() ? PlayerKind::Mpd : PlayerKind::StandIn;
}

std::string OwnMpdFolder() {
  if (const std::string runtime = RuntimeFolder(); !runtime.empty()) return runtime + "/zorva-mpd";
  return PrivateSocketFolder() + "/mpd";
}

bool MpdInstalled() {
  std::string path = Env("PATH");
  if (path.empty()) path = "/usr/local/bin:/usr/bin:/bin";
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string folder = path.substr(start, end - start);
    if (!folder.empty() && ::access((folder + "/mpd").c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

std::string OwnMpdAudioOutput() {
  std::error_code ec;
  namespace fs = std::filesystem;
  const std::string runtime = Env("XDG_RUNTIME_DIR");
  if (!Env("PULSE_SERVER").empty() || (!runtime.empty() && fs::exists(runtime + "/pulse/native", ec))) return "pulse";
  if (!runtime.empty() && fs::exists(runtime + "/pipewire-0", ec)) return "pipewire";
  for (fs::directory_iterator it("/dev/snd", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("pcmC", 0) == 0 && name.back() == 'p') return "alsa";
  }
  return "null";
}

bool StartOwnMpd(const std::string& musicFolder, Millis timeout) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const std::string runtime = OwnMpdFolder();
  const std::string data = DataFolder();
  try {
    if (runtime.rfind(PrivateSocketFolder(), 0) == 0) MakePrivateFolder(PrivateSocketFolder());
    fs::create_directories(runtime, ec);
    if (struct stat st{}; ::stat(runtime.c_str(), &st) == 0 && st.st_uid == ::getuid()) ::chmod(runtime.c_str(), 0700);
    MakePrivateFolder(runtime);
  } catch (const std::exception& e) {
    SetStartFault(e.what());
    return false;
  }
  if (std::string fault = MakeDataPrivate(fs::path(data).parent_path()); !fault.empty()) {
    SetStartFault(fault);
    return false;
  }
  const std::string configFile = runtime + "/mpd.conf";
  const std::string socket = runtime + "/socket";
  const Millis deadline = TheClock().Now() + timeout;
  // One that runs on this configuration but does not answer is not joined
  // by a second on the same files, which `mpd --kill` would not reach.
  if (const pid_t running = RunningOn(runtime + "/pid", configFile)) {
    while (TheClock().Now() < deadline) {
      if (const MpdConnection owner{mpd_connection_new(socket.c_str(), 0, kMpdAnswerTimeout)}) {
        const bool answers = mpd_connection_get_error(owner.get()) == MPD_ERROR_SUCCESS;
        if (answers) return true;
      }
      if (RunningOn(runtime + "/pid", configFile) != running) break;
      WaitForOthers(50);
    }
    if (RunningOn(runtime + "/pid", configFile) == running) {
      SetStartFault(configFile + ": Zorva's MPD (process " + std::to_string(running) +
                    ") runs on it but does not answer; end it with mpd --kill " + configFile);
      return false;
    }
  }
  // A database of its own for each music folder.
  const std::string db = data + "/db-" + std::to_string(std::hash<std::string>()(musicFolder) % 1000000007);
  const std::string output = OwnMpdAudioOutput();
  {
    std::ofstream config(configFile, std::ios::trunc);
    config << "music_directory " << Quoted(musicFolder) << "\n"
           << "playlist_directory " << Quoted(data + "/playlists") << "\n"
           << "db_file " << Quoted(db) << "\n"
           << "state_file " << Quoted(data + "/state") << "\n"
           << "sticker_file " << Quoted(data + "/sticker.sql") << "\n"
           << "pid_file " << Quoted(runtime + "/pid") << "\n"
           << "bind_to_address " << Quoted(runtime + "/socket") << "\n"
           << "auto_update \"yes\"\n";
    // One fixed format: a song of another rate or depth is converted rather
    // than the output reopened (about 2 s of silence between them).
    const char* format = "  format \"44100:16:2\"\n";
    if (output != "null")
      config << "audio_output {\n  type " << Quoted(output) << "\n  name \"Desktop\"\n" << format << "}\n";
    // Time goes on without a sound server too.
    config << "audio_output {\n  type \"null\"\n  name \"Silent\"\n  mixer_type \"none\"\n" << format << "}\n";
    if (!config) return false;
  }
  // What it writes later (database, stickers, playlists) is private too.
  if (!RunProgram({"/bin/sh", "-c", "umask 077 && exec mpd \"$0\"", configFile})) return false;

  // Wait until it answers, have it read the folder, and wait for that.
  MpdConnection owner;
  while (TheClock().Now() < deadline) {
    owner.reset(mpd_connection_new(socket.c_str(), 0, kMpdAnswerTimeout));
    if (owner && mpd_connection_get_error(owner.get()) == MPD_ERROR_SUCCESS) break;
    owner.reset();
    WaitForOthers(50);
  }
  if (!owner) return false;
  mpd_connection* c = owner.get();
  bool done = mpd_run_update(c, nullptr) != 0;
  while (done && TheClock().Now() < deadline) {
    const MpdStatus status(mpd_run_status(c));
    if (!status) {
      done = false;
      break;
    }
    const bool updating = mpd_status_get_update_id(status.get()) != 0;
    if (!updating) break;
    WaitForOthers(50);
  }
  owner.reset();
  return done;
}

}  // namespace platform::player
