#include "platform/player/standin/PlayerServer.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/kernel/Clock.h"
#include "platform/player/ITunes.h"
#include "platform/player/standin/PlayerProtocol.h"
#include "platform/player/standin/PlayerSocket.h"
#include "tests/platform/player/PlayerTestSupport.h"
#include "tests/support/ScopedEnv.h"

extern char** environ;

namespace {

using namespace platform::player;
using nlohmann::json;
using player_test::PumpUntil;
using player_test::RecordingSink;

DWORD Advise(const std::shared_ptr<IiTunes>& app, RecordingSink& sink) {
  std::shared_ptr<IConnectionPoint> point;
  EXPECT_EQ(QueryInterface<IConnectionPointContainer>(app)->FindConnectionPoint(DIID_IiTunesEvents, &point), S_OK);
  DWORD cookie = 0;
  EXPECT_EQ(point->Advise(&sink, &cookie), S_OK);
  return cookie;
}

// A player that takes one connection and reads its calls but answers only
// the first `answered` (none at all: it never takes the connection), as one
// stopped by a signal would.
class StuckPlayer {
 public:
  StuckPlayer(const std::string& path, int answered) : listener_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener_, 0), 0);
    if (answered > 0) thread_ = std::thread([this, answered] { Serve(answered); });
  }
  ~StuckPlayer() {
    ::shutdown(listener_, SHUT_RDWR);
    if (const int client = client_.load(); client >= 0) ::shutdown(client, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }

 private:
  void Serve(int answered) {
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    client_ = fd;
    std::string buffer;
    std::string line;
    for (int n = 0; ReadLine(fd, buffer, &line); ++n) {
      if (n >= answered) continue;
      const json request = json::parse(line, nullptr, false);
      SendAll(fd, ToProtocolLine(
                      {{"id", request.value("id", 0)}, {"hr", 0}, {"result", {{"protocol", kPlayerProtocolVersion}}}}));
    }
    client_ = -1;
    ::close(fd);
  }

  int listener_;
  std::atomic<int> client_{-1};
  std::thread thread_;
};

class PlayerServerTest : public ::testing::Test {
 protected:
  PlayerServerTest() : socket_(dir_.File("player.sock")) { setenv("ZORVA_PLAYER_SOCKET", socket_.c_str(), 1); }
  ~PlayerServerTest() override {
    StopServer();
    unsetenv("ZORVA_PLAYER_SOCKET");
  }

  void StartServer() {
    model_ = std::make_unique<PlayerModel>(player_test::SmallLibrary());
    server_ = std::make_unique<PlayerServer>(*model_, socket_);
    server_->SetManualClock(&clock_);
    server_->SetReloader([](const std::string& file) { return LoadLibraryXml(file); });
    server_->Listen();
    thread_ = std::thread([this] { exitCode_ = server_->Run(); });
  }
  void StopServer() {
    if (!thread_.joinable()) return;
    server_->Stop();
    thread_.join();
  }

  // One request over a connection of our own; the answer.
  json Raw(int fd, const std::string& line) {
    EXPECT_TRUE(SendAll(fd, line + "\n"));
    std::string answer;
    EXPECT_TRUE(ReadLine(fd, rawBuffer_, &answer));
    return json::parse(answer, nullptr, false);
  }

  player_test::TempDir dir_;
  std::string socket_;
  platform::ManualClock clock_;
  platform::ScopedClock scoped_{clock_};
  std::unique_ptr<PlayerModel> model_;
  std::unique_ptr<PlayerServer> server_;
  std::thread thread_;
  int exitCode_ = -1;
  std::string rawBuffer_;
};

TEST_F(PlayerServerTest, CoCreateFailsWhenNoPlayerRuns) {
  std::shared_ptr<IiTunes> app;
  EXPECT_EQ(CoCreateITunesApp(&app), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_FALSE(app);
  EXPECT_FALSE(IsPlayerRunning());
  std::ofstream(socket_) << "not a socket";
  model_ = std::make_unique<PlayerModel>(player_test::SmallLibrary());
  PlayerServer server(*model_, socket_);
  EXPECT_THROW(server.Listen(), std::runtime_error);
}

TEST_F(PlayerServerTest, TwoClientsEachGetEveryEvent) {
  StartServer();
  EXPECT_TRUE(IsPlayerRunning());
  std::shared_ptr<IiTunes> a, b;
  ASSERT_EQ(CoCreateITunesApp(&a), S_OK);
  ASSERT_EQ(CoCreateITunesApp(&b), S_OK);
  RecordingSink sa, sb;
  Advise(a, sa);
  Advise(b, sb);
  ASSERT_EQ(a->Play(), S_OK);
  ASSERT_EQ(b->NextTrack(), S_OK);
  clock_.Advance(200000);  // the second track ends
  model_->Tick();
  const std::vector<DISPID> expected = {ITEventPlayerPlay, ITEventPlayerStop, ITEventPlayerPlay, ITEventPlayerStop,
                                        ITEventPlayerPlay};
  ASSERT_TRUE(PumpUntil([&] { return sa.events.size() >= 5 && sb.events.size() >= 5; }));
  EXPECT_EQ(sa.Ids(), expected);
  EXPECT_EQ(sb.Ids(), expected);
  EXPECT_EQ(sa.TrackName(4), "Track 3");
  EXPECT_EQ(sb.TrackName(4), "Track 3");
  // Objects that came with an event work on their own connection.
  std::string album;
  auto track = QueryInterface<IITTrack>(std::get<std::shared_ptr<IITObject>>(sb.events[4].second[0]));
  ASSERT_EQ(track->get_Album(&album), S_OK);
  EXPECT_EQ(album, "Album");
}

TEST_F(PlayerServerTest, MalformedRequestsGetErrorAnswers) {
  StartServer();
  int fd = ConnectUnixSocket(socket_);
  ASSERT_GE(fd, 0);
  const std::pair<std::string, json> cases[] = {
      {"this is not json", nullptr},
      {"[1, 2]", nullptr},
      {R"({"id": 3, "op": "get_Name", "target": {"k": "track", "s": "one"}})", 3},
      {R"({"id": 4, "op": "Fly"})", 4},
      {R"({"id": 5, "op": "get_Item", "target": {"k": "tracks", "s": 1, "p": 11}, "args": {"index": "x"}})", 5},
      {R"({"id": 6, "op": "get_Item", "target": {"k": "tracks", "s": 1, "p": 11}, "args": {"index": 99999999999999999999}})",
       6},
      {R"({"id": 7, "op": "AddFiles", "target": {"k": "playlist", "s": 1, "p": 11}, "args": {"paths": [1]}})", 7},
      {R"({"id": "8", "op": "hello"})", nullptr},
      {R"({"id": 9, "op": "get_Name", "target": {"k": "track", "s": 1, "p": 11, "t": 999, "d": 1}})", 9},
  };
  for (const auto& [line, id] : cases) {
    SCOPED_TRACE(line);
    json answer = Raw(fd, line);
    ASSERT_TRUE(answer.is_object());
    EXPECT_EQ(answer["id"], id);
    ASSERT_TRUE(answer["hr"].is_number_integer());
    EXPECT_LT(answer["hr"].get<HRESULT>(), 0);
  }
  EXPECT_EQ(
      Raw(fd, R"({"id": 9, "op": "get_Name", "target": {"k": "track", "s": 1, "p": 11, "t": 999, "d": 1}})")["hr"],
      ITUNES_E_OBJECTDELETED);
  json hello = Raw(fd, R"({"id": 10, "op": "hello"})");
  EXPECT_EQ(hello["hr"], S_OK);
  EXPECT_EQ(hello["result"]["protocol"], kPlayerProtocolVersion);
  ::close(fd);
}

TEST_F(PlayerServerTest, OverlongAndDeepRequestsAreRefusedAtOnceAndStallNobody) {
  StartServer();
  int fd = ConnectUnixSocket(socket_), other = ConnectUnixSocket(socket_);
  ASSERT_GE(fd, 0);
  ASSERT_GE(other, 0);
  const timeval failsafe{30, 0};  // a missing answer fails the test instead of hanging it
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &failsafe, sizeof failsafe);
  setsockopt(other, SOL_SOCKET, SO_RCVTIMEO, &failsafe, sizeof failsafe);
  auto errorOf = [](const json& answer) { return answer.value("error", std::string()); };

  EXPECT_EQ(errorOf(Raw(fd, std::string(100000, '[') + std::string(100000, ']'))), "the request nests too deeply");
  const std::string deepInString =
      R"({"id": 1, "op": "CreatePlaylist", "target": {"k": "app"}, "args": {"name": "[[[[[[[[{{{{"}})";
  EXPECT_EQ(Raw(fd, deepInString)["hr"], S_OK);

  // Half a request that never ends: the other client is served meanwhile.
  const std::string start = R"({"id": 2, "op": "hello", "pad": ")";
  ASSERT_TRUE(SendAll(fd, start + std::string(kMaxRequestLine / 2, 'x')));
  std::string otherBuffer, line;
  ASSERT_TRUE(SendAll(other, R"({"id": 3, "op": "hello"})"
                             "\n"));
  ASSERT_TRUE(ReadLine(other, otherBuffer, &line));
  EXPECT_EQ(json::parse(line)["id"], 3);
  // Past the limit it is answered before it ends; its rest is dropped and the
  // connection serves on.
  ASSERT_TRUE(SendAll(fd, std::string(kMaxRequestLine / 2 + 10, 'x')));
  ASSERT_TRUE(ReadLine(fd, rawBuffer_, &line));
  EXPECT_EQ(errorOf(json::parse(line)), "the request is too long");
  EXPECT_EQ(Raw(fd, std::string(1000, 'x') + "\"}\n" + R"({"id": 4, "op": "hello"})")["id"], 4);
  ::close(fd);
  ::close(other);
}

TEST_F(PlayerServerTest, AClientThatDisappearsCostsTheServerNothing) {
  StartServer();
  std::shared_ptr<IiTunes> app;
  ASSERT_EQ(CoCreateITunesApp(&app), S_OK);
  {
    // Advises, leaves half a request behind and vanishes without reading.
    int fd = ConnectUnixSocket(socket_);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Raw(fd, R"({"id": 1, "op": "Advise"})")["hr"], S_OK);
    ASSERT_TRUE(SendAll(fd, R"({"id": 2, "op": "Pl)"));
    ::close(fd);
  }
  ASSERT_EQ(app->Play(), S_OK);  // events for the vanished client too
  ITPlayerState state = ITPlayerStateStopped;
  for (int i = 0; i < 10000 && server_->ConnectionCount() != 1; ++i) ASSERT_EQ(app->get_PlayerState(&state), S_OK);
  EXPECT_EQ(server_->ConnectionCount(), 1u);
  ASSERT_EQ(app->get_PlayerState(&state), S_OK);
  EXPECT_EQ(state, ITPlayerStatePlaying);
}

TEST_F(PlayerServerTest, CallsFailOnceTheServerIsGone) {
  StartServer();
  std::shared_ptr<IiTunes> app;
  ASSERT_EQ(CoCreateITunesApp(&app), S_OK);
  std::shared_ptr<IITPlaylist> library;
  ASSERT_EQ(app->get_LibraryPlaylist(&library), S_OK);
  StopServer();
  EXPECT_EQ(app->Play(), RPC_E_DISCONNECTED);
  std::string name;
  EXPECT_EQ(library->get_Name(&name), RPC_E_DISCONNECTED);
  EXPECT_FALSE(IsPlayerRunning());
}

// Calls to a player that stops answering fail after their wait, as calls to
// a disconnected player do; the advised sinks hear the player was lost; and
// a player that takes no connections refuses them after the wait too.
TEST_F(PlayerServerTest, APlayerThatStopsAnsweringFailsEachCallAfterItsWait) {
  // The program's clock goes on while a call waits, as time would.
  auto withTimeGoingOn = [this](const std::function<void()>& calls) {
    std::atomic<bool> done{false};
    std::thread mover([&] {
      while (!done) {
        clock_.Advance(1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // pacing only
      }
    });
    calls();
    done = true;
    mover.join();
  };
  {
    StuckPlayer player(socket_, 2);  // the greeting and the advice, then nothing
    std::shared_ptr<IiTunes> app;
    ASSERT_EQ(CoCreateITunesApp(&app), S_OK);
    RecordingSink sink;
    Advise(app, sink);
    withTimeGoingOn([&] { EXPECT_EQ(app->Play(), RPC_E_DISCONNECTED); });
    // The connection is given up: later calls fail at once.
    EXPECT_EQ(app->Stop(), RPC_E_DISCONNECTED);
    ASSERT_TRUE(PumpUntil([&] { return !sink.events.empty(); }));
    ASSERT_EQ(sink.Ids(), std::vector<DISPID>{ITEventAboutToPromptUserToQuit});
    ASSERT_EQ(sink.events[0].second.size(), 1u);
    EXPECT_EQ(std::get<long>(sink.events[0].second[0]), kPlayerLost);
  }
  std::filesystem::remove(socket_);
  {
    StuckPlayer player(socket_, 0);
    withTimeGoingOn([&] {
      // The first waits in the player's queue unanswered; the queue is then full.
      for (int i = 0; i < 2; ++i) {
        std::shared_ptr<IiTunes> app;
        EXPECT_EQ(CoCreateITunesApp(&app), CO_E_SERVER_EXEC_FAILURE) << i;
      }
    });
  }
}

TEST_F(PlayerServerTest, QuitSendsItsEventsInOrderAndEndsTheServer) {
  StartServer();
  std::shared_ptr<IiTunes> app;
  ASSERT_EQ(CoCreateITunesApp(&app), S_OK);
  RecordingSink sink;
  Advise(app, sink);
  int fd = ConnectUnixSocket(socket_);
  json answer = Raw(fd, R"({"id": 1, "op": "ctl.quit"})");
  ::close(fd);
  EXPECT_EQ(answer["hr"], S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink.events.size() >= 2; }));
  EXPECT_EQ(sink.Ids(), (std::vector<DISPID>{ITEventAboutToPromptUserToQuit, ITEventQuitting}));
  thread_.join();
  EXPECT_EQ(exitCode_, 0);
  EXPECT_EQ(app->Stop(), RPC_E_DISCONNECTED);
}

TEST_F(PlayerServerTest, ReloadReportsCountsAndARefusedFileChangesNothing) {
  StartServer();
  int fd = ConnectUnixSocket(socket_);
  const std::string bad = dir_.File("bad.xml");
  std::ofstream(bad) << "<plist><dict><key>Tracks</key><string>x</string></dict></plist>";
  json answer = Raw(fd, json{{"id", 1}, {"op", "ctl.reload"}, {"args", {{"file", bad}}}}.dump());
  EXPECT_LT(answer["hr"].get<HRESULT>(), 0);
  EXPECT_NE(answer["error"].get<std::string>().find(bad + ": "), std::string::npos);
  EXPECT_EQ(model_->Status().trackCount, 5);

  const std::string good = dir_.File("good.xml");
  std::ofstream(good) << "<plist><dict><key>Tracks</key><dict><key>1</key><dict><key>Track ID</key>"
                         "<integer>1</integer><key>Name</key><string>Only</string></dict></dict></dict></plist>";
  answer = Raw(fd, json{{"id", 2}, {"op", "ctl.reload"}, {"args", {{"file", good}}}}.dump());
  ASSERT_EQ(answer["hr"], S_OK);
  EXPECT_EQ(answer["result"]["deleted"], 4 + 3);  // four tracks, three playlists
  EXPECT_EQ(answer["result"]["changed"], 2);      // track 1 renamed, the new library playlist
  EXPECT_EQ(model_->Status().trackCount, 1);
  EXPECT_EQ(Raw(fd, R"({"id": 3, "op": "ctl.advance", "args": {"ms": -5}})")["hr"], E_INVALIDARG);
  ::close(fd);
}

TEST_F(PlayerServerTest, SeekBeyondAnyTrackPlaysTheNextAndANegativeSeekIsRefused) {
  StartServer();
  int fd = ConnectUnixSocket(socket_);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(Raw(fd, R"({"id": 1, "op": "ctl.play"})")["hr"], S_OK);
  json refused = Raw(fd, R"({"id": 2, "op": "ctl.seek", "args": {"seconds": -3}})");
  EXPECT_EQ(refused["hr"], E_INVALIDARG);
  EXPECT_NE(refused["error"].get<std::string>().find("0 or more"), std::string::npos) << refused;
  long track = 1;
  for (const char* far : {"9223372036854775807", "18446744073709551615"}) {
    SCOPED_TRACE(far);
    ASSERT_EQ(Raw(fd, std::string(R"({"id": 3, "op": "ctl.seek", "args": {"seconds": )") + far + "}}")["hr"], S_OK);
    EXPECT_EQ(model_->Status().track->databaseId, ++track);
  }
  // The clock cannot be run past its end either.
  for (int i = 0; i < 2; ++i)
    ASSERT_EQ(Raw(fd, R"({"id": 4, "op": "ctl.advance", "args": {"ms": 9223372036854775807}})")["hr"], S_OK);
  EXPECT_GT(clock_.Now(), 0);
  ::close(fd);
}

// --- the real server process

struct Child {
  pid_t pid = -1;
  int out = -1;
};

Child Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string binary = ZORVA_PLAYER_BINARY;
  argv.push_back(binary.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fds[2];
  EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  Child child;
  EXPECT_EQ(posix_spawn(&child.pid, binary.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  child.out = fds[0];
  return child;
}

std::string ReadUntil(int fd, bool lineOnly) {
  std::string text;
  char c;
  while (::read(fd, &c, 1) == 1) {
    if (lineOnly && c == '\n') break;
    text += c;
  }
  return text;
}

int Wait(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Runs `zorva-player ctl` against `socket`; its exit code, and its output in `output`.
int Ctl(const std::string& socket, std::vector<std::string> args, std::string* output = nullptr) {
  args.insert(args.begin(), {"ctl", "--socket", socket});
  Child child = Spawn(args);
  std::string text = ReadUntil(child.out, false);
  ::close(child.out);
  if (output) *output = text;
  return Wait(child.pid);
}

// Without another place set, the socket lies in a folder of the user's own
// that nobody else may enter, and only a server of the same user is trusted.
TEST_F(PlayerServerTest, OnlyAPrivateFolderAndAPlayerOfTheSameUserAreTrusted) {
  zorva_test::ScopedEnv noSocket("ZORVA_PLAYER_SOCKET", nullptr), noRuntime("XDG_RUNTIME_DIR", nullptr),
      tmp("TMPDIR", dir_.Path());
  const std::string folder = dir_.File("zorva-" + std::to_string(::getuid()));
  socket_ = folder + "/zorva-player.sock";
  ASSERT_EQ(PlayerSocketPath(), socket_);
  StartServer();
  struct stat st {};
  ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::shared_ptr<IiTunes> app;
  EXPECT_EQ(CoCreateITunesApp(&app), S_OK);
  app.reset();
  StopServer();

  auto refusedBoth = [&](const std::string& fault) {
    std::string refused;
    EXPECT_EQ(ConnectToPlayer(socket_, &refused), -1);
    EXPECT_NE(refused.find(fault), std::string::npos) << refused;
    EXPECT_EQ(CoCreateITunesApp(&app), E_ACCESSDENIED);
    EXPECT_FALSE(IsPlayerRunning());
    try {
      PlayerServer(*model_, socket_).Listen();
      ADD_FAILURE() << "listened";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(fault), std::string::npos) << e.what();
    }
  };
  ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
  refusedBoth("mode 0755); it must be 0700");
  if (::geteuid() == 0) {  // only root can hand the folder to another user
    ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    refusedBoth("belongs to user 65534");
  }
  std::filesystem::remove_all(folder);
  std::filesystem::create_directory(dir_.File("elsewhere"));
  std::filesystem::create_directory_symlink(dir_.File("elsewhere"), folder);
  refusedBoth("not a folder");

  // A server of another user, wherever it listens (as root: a child process
  // that takes another user's identity and listens in a shared folder).
  if (::geteuid() != 0) return;
  const std::string shared = dir_.File("shared"), path = shared + "/player.sock";
  ASSERT_EQ(::chmod(dir_.Path().c_str(), 0711), 0);
  std::filesystem::create_directory(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
  int ready[2], hold[2];
  ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(hold, O_CLOEXEC), 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ready[0]);
    ::close(hold[1]);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0)
      ::_exit(1);
    char c = 1;
    if (::write(ready[1], &c, 1) != 1) ::_exit(1);
    [[maybe_unused]] ssize_t n = ::read(hold[0], &c, 1);  // until the test lets go
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(hold[0]);
  char c = 0;
  EXPECT_EQ(::read(ready[0], &c, 1), 1);
  {
    zorva_test::ScopedEnv there("ZORVA_PLAYER_SOCKET", path);
    std::string refused;
    EXPECT_EQ(ConnectToPlayer(path, &refused), -1);
    EXPECT_NE(refused.find("runs as user 65534"), std::string::npos) << refused;
    EXPECT_EQ(CoCreateITunesApp(&app), E_ACCESSDENIED);
    EXPECT_FALSE(IsPlayerRunning());
    EXPECT_EQ(Ctl(path, {"status"}), 1);
  }
  ::close(hold[1]);
  ::close(ready[0]);
  EXPECT_EQ(Wait(pid), 0);
}

TEST_F(PlayerServerTest, RealServerProcessPlaysThroughATrackEndAndQuits) {
  Child server = Spawn({"serve", "--sample", "--manual-clock", "--socket", socket_});
  const std::string ready = ReadUntil(server.out, true);  // printed once it listens
  ASSERT_NE(ready.find("serving"), std::string::npos) << ready;

  std::shared_ptr<IiTunes> app;
  ASSERT_EQ(CoCreateITunesApp(&app), S_OK);
  RecordingSink sink;
  Advise(app, sink);
  std::shared_ptr<IITPlaylist> library;
  std::shared_ptr<IITTrackCollection> tracks;
  std::shared_ptr<IITTrack> first, second;
  ASSERT_EQ(app->get_LibraryPlaylist(&library), S_OK);
  ASSERT_EQ(library->get_Tracks(&tracks), S_OK);
  ASSERT_EQ(tracks->get_Item(1, &first), S_OK);
  ASSERT_EQ(tracks->get_Item(2, &second), S_OK);
  std::string firstName, secondName, time;
  first->get_Name(&firstName);
  second->get_Name(&secondName);
  ASSERT_EQ(first->get_Time(&time), S_OK);
  int minutes = 0, seconds = 0;
  ASSERT_EQ(std::sscanf(time.c_str(), "%d:%d", &minutes, &seconds), 2);

  ASSERT_EQ(first->Play(), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink.events.size() >= 1; }));
  EXPECT_EQ(Ctl(socket_, {"seek", "-5"}), 2);  // refused before it reaches the player
  ASSERT_EQ(Ctl(socket_, {"seek", std::to_string(minutes * 60 + seconds - 2)}), 0);
  ASSERT_EQ(Ctl(socket_, {"advance", "5000"}), 0);
  ASSERT_TRUE(PumpUntil([&] { return sink.events.size() >= 3; }));
  EXPECT_EQ(sink.Ids(), (std::vector<DISPID>{ITEventPlayerPlay, ITEventPlayerStop, ITEventPlayerPlay}));
  EXPECT_EQ(sink.TrackName(1), firstName);
  EXPECT_EQ(sink.TrackName(2), secondName);
  long position = -1;
  ASSERT_EQ(app->get_PlayerPosition(&position), S_OK);
  EXPECT_EQ(position, 3);

  std::string status;
  ASSERT_EQ(Ctl(socket_, {"status"}, &status), 0);
  EXPECT_NE(status.find("state: playing"), std::string::npos) << status;
  EXPECT_NE(status.find(secondName), std::string::npos) << status;

  ASSERT_EQ(Ctl(socket_, {"quit"}), 0);
  ASSERT_TRUE(PumpUntil([&] { return sink.events.size() >= 5; }));
  EXPECT_EQ(sink.events[3].first, ITEventAboutToPromptUserToQuit);
  EXPECT_EQ(sink.events[4].first, ITEventQuitting);
  ::close(server.out);
  EXPECT_EQ(Wait(server.pid), 0);
  EXPECT_EQ(app->Play(), RPC_E_DISCONNECTED);
  EXPECT_NE(Ctl(socket_, {"status"}), 0);
}

}  // namespace
