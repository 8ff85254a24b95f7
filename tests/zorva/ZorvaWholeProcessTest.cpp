// The whole program Zorva as a real process (label e2e): the player stand-in
// on a manual clock serving a generated library, Zorva headless on the
// scripted desktop (its clock moved by the test, its windows and pages read
// through the desktop's commands), and what is left behind when it ends.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/Mix.h"
#include "core/MusicDB.h"
#include "core/Schedule.h"
#include "core/Scheduler.h"
#include "core/Tag.h"
#include "core/Track.h"
#include "platform/profile/Profile.h"
#include "platform/window/WinUser.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TempFolder.h"
#include "tests/zorva/WholeProcessTestSupport.h"

extern char** environ;

namespace {

using zorva_test::ChildProcess;
using zorva_test::RunToEnd;
using zorva_test::ScopedEnv;
using zorva_test::TempFolder;

// Every process below `pid` (its children, theirs, ...).
std::set<pid_t> Descendants(pid_t pid) {
  std::set<pid_t> found;
  std::vector<pid_t> open{pid};
  while (!open.empty()) {
    const pid_t parent = open.back();
    open.pop_back();
    const std::string tasks = "/proc/" + std::to_string(parent) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
      std::ifstream children(task.path() / "children");
      for (pid_t child = 0; children >> child;) {
        if (found.insert(child).second) open.push_back(child);
      }
    }
  }
  return found;
}

bool Installed(const std::string& program) {
  for (const char* folder : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
    if (::access((folder + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// A process that exists and is not a zombie waiting to be reaped.
bool Runs(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return false;
  const std::size_t name = text.rfind(')');
  return name != std::string::npos && name + 2 < text.size() && text[name + 2] != 'Z';
}

struct LibraryTrack {
  long id;
  std::string name;
  std::string artist;
  std::string album;
  std::string genre;
  std::string path;
};

constexpr long kTrackSeconds = 200;
const char* const kGenres[] = {"Jazz", "Rock", "Folk"};

std::vector<LibraryTrack> MakeTracks(const std::string& root) {
  std::vector<LibraryTrack> tracks;
  for (long n = 1; n <= 30; ++n) {
    const std::string genre = kGenres[n % 3];
    const std::string artist = genre + " Artist " + std::to_string(n % 4);
    const std::string album = genre + " Album " + std::to_string(n % 2);
    const std::string name = genre + " Song " + std::to_string(n);
    tracks.push_back({n, name, artist, album, genre, root + "/" + artist + "/" + album + "/" + name + ".mp3"});
  }
  return tracks;
}

// The tracks as an exported library file (the names need no escaping).
void WriteLibraryFile(const std::string& file, const std::vector<LibraryTrack>& tracks) {
  std::ofstream out(file);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
         "<key>Major Version</key><integer>1</integer><key>Tracks</key><dict>";
  for (const LibraryTrack& track : tracks) {
    std::string url = "file://";
    for (char c : track.path) url += c == ' ' ? std::string("%20") : std::string(1, c);
    out << "<key>" << track.id << "</key><dict><key>Track ID</key><integer>" << track.id
        << "</integer><key>Name</key><string>" << track.name << "</string><key>Artist</key><string>" << track.artist
        << "</string><key>Album</key><string>" << track.album << "</string><key>Genre</key><string>" << track.genre
        << "</string><key>Kind</key><string>MPEG audio file</string><key>Total Time</key><integer>"
        << kTrackSeconds * 1000 << "</integer><key>Track Type</key><string>File</string><key>Location</key><string>"
        << url << "</string></dict>";
  }
  out << "</dict><key>Playlists</key><array><dict><key>Name</key><string>Library</string>"
         "<key>Master</key><true/><key>Playlist ID</key><integer>500</integer>"
         "<key>Playlist Persistent ID</key><string>E2E0</string><key>Playlist Items</key><array>";
  for (const LibraryTrack& track : tracks)
    out << "<dict><key>Track ID</key><integer>" << track.id << "</integer></dict>";
  out << "</array></dict></array></dict></plist>\n";
}

class ZorvaWholeProcessTest : public ::testing::Test {
 protected:
  ZorvaWholeProcessTest() { zorva_test::PrepareWholeProcessHome(home_); }
  ~ZorvaWholeProcessTest() override {
    if (player_) Ctl("quit");
    platform::ReloadProfile();
  }

  std::string Ctl(const std::string& command, const std::string& argument = "") {
    std::vector<std::string> argv{ZORVA_PLAYER_BINARY, "ctl", "--socket", socket_, command};
    if (!argument.empty()) argv.push_back(argument);
    ChildProcess ctl(argv);
    ctl.WaitFor([](const std::string&) { return false; }, 30);  // reads to the end
    ctl.Wait();
    std::string text;
    for (const std::string& line : ctl.Lines()) text += line + "\n";
    return text;
  }

  // What Zorva finds when it starts: the library's tracks, two genre mixes,
  // and a running schedule that plays the first from 9:00 and the second
  // from 9:03 on weekdays (the scripted desktop's clock starts on a Monday
  // at 9:00).
  void PrepareDatabaseAndProfile(const std::vector<LibraryTrack>& tracks) {
    MusicDB db(dbPath_);
    ScopedMusicDB installed(db);
    for (const LibraryTrack& source : tracks) {
      Track track;
      track.name = source.name;
      track.artist = source.artist;
      track.album = source.album;
      track.genre = source.genre;
      track.location = source.path;
      track.length = static_cast<int>(kTrackSeconds);
      ASSERT_TRUE(db.AddOrUpdateTrack(track));
    }
    firstMix_.AddTag(db.FindOrCreateTag("Jazz", TagGenre), false);
    firstMix_.Rename("Morning Jazz");
    secondMix_.AddTag(db.FindOrCreateTag("Rock", TagGenre), false);
    secondMix_.Rename("Rock On");
    ASSERT_GT(firstMix_.GetId(), 0);
    ASSERT_GT(secondMix_.GetId(), 0);
    std::vector<Schedule> schedules;
    db.GetSchedules(ScheduleWeekdaysWeekend, schedules);
    int weekdays = 0;
    for (const Schedule& schedule : schedules) {
      if (schedule.AppliesOn(ScheduleMonday)) weekdays = schedule.GetId();
    }
    ASSERT_GT(weekdays, 0);
    ScheduleItem morning(9 * 60, 9 * 60 + 3, firstMix_.GetId(), weekdays);
    ScheduleItem later(9 * 60 + 3, 12 * 60, secondMix_.GetId(), weekdays);
    db.AddScheduleItem(morning);
    db.AddScheduleItem(later);
    WriteProfileInt("Startup", "ScheduleType", ScheduleWeekdaysWeekend);
    WriteProfileInt("Startup", "ScheduleOn", 1);
    // The version was checked that day already: no web request.
    WriteProfileInt("Version", "CheckDay", 5);
    WriteProfileInt("Version", "CheckMonth", 1);
    WriteProfileInt("Version", "CheckYear", 2026);
  }

  int Count(const std::string& sql) {
    SQLiteDB db;
    if (!db.Open(dbPath_)) return -1;
    SQLiteRowSet rows;
    if (db.Query(sql, rows) != 0 || rows.empty()) return -1;
    return rows.front().GetInt("n");
  }
  // The text of an element of the player page; "" also when there is none yet.
  std::string Text(ChildProcess& zorva, const std::string& id) {
    const auto answer = zorva.Ask("text Zorva.htm " + id + "\n");
    return answer.size() == 1 && answer[0].rfind("text ", 0) == 0 ? answer[0].substr(5) : "";
  }
  // The top-level windows showing `page`: "1" (visible) or "0" each, and
  // the title of the last one.
  std::string Visibility(ChildProcess& zorva, const std::string& page, std::string* title = nullptr) {
    std::string shown;
    for (const std::string& line : zorva.Ask("windows\n")) {
      std::istringstream in(line);
      std::string word;
      std::string visible;
      std::string name;
      if (!(in >> word >> visible >> name) || word != "window" || name != page) continue;
      shown += visible;
      if (title) std::getline(in >> std::ws, *title);
    }
    return shown;
  }
  // What a run must store again at its end: the current mix and the
  // window's place.
  static void ForgetStoredState() {
    WriteProfileInt("Startup", "CurrentMix", -1);
    WriteProfileBinary("Position", "Player", reinterpret_cast<const BYTE*>("gone"), 4);
  }
  void ExpectStateStored() {
    platform::ReloadProfile();
    EXPECT_EQ(GetProfileInt("Startup", "CurrentMix", 0), static_cast<UINT>(firstMix_.GetId()));
    std::vector<BYTE> placement;
    EXPECT_TRUE(GetProfileBinary("Position", "Player", placement));
    EXPECT_EQ(placement.size(), 44u);
  }
  // The library's songs, the library file, and the database and profile
  // made for them.
  void PrepareLibrary() {
    const std::vector<LibraryTrack> tracks = MakeTracks(home_.File("music"));
    WriteLibraryFile(home_.File("library.xml"), tracks);
    PrepareDatabaseAndProfile(tracks);
  }
  // Advances Zorva's clock until its page is filled (ten tracks queued), for
  // a minute at most.
  void WaitUntilFilled(ChildProcess& zorva) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Text(zorva, "track10").empty() && std::chrono::steady_clock::now() < deadline) Advance(zorva, 500);
  }
  // Starts the player stand-in on the library file and waits until it serves.
  void ServeLibrary(std::unique_ptr<ChildProcess>& player) {
    player = std::make_unique<ChildProcess>(std::vector<std::string>{
        ZORVA_PLAYER_BINARY, "serve", "--library", home_.File("library.xml"), "--manual-clock", "--socket", socket_});
    ASSERT_TRUE(player->Started());
    ASSERT_TRUE(player->WaitFor([](const std::string& line) { return line.rfind("zorva-player: serving", 0) == 0; }));
  }
  // A run that must store its state again: Zorva started playing as
  // StartPlaying does; the processes it started.
  std::set<pid_t> StartPlayingAfresh(std::unique_ptr<ChildProcess>& player, std::unique_ptr<ChildProcess>& zorva) {
    ForgetStoredState();
    StartPlaying(player, zorva);
    return HasFatalFailure() ? std::set<pid_t>{} : Descendants(zorva->Pid());
  }
  // Starts the player stand-in on the library and Zorva, and waits until
  // Zorva's page is filled (ten tracks queued).
  void StartPlaying(std::unique_ptr<ChildProcess>& player, std::unique_ptr<ChildProcess>& zorva) {
    if (!player) {
      PrepareLibrary();
      ASSERT_FALSE(HasFatalFailure());
      ServeLibrary(player);
      player_ = true;
      ASSERT_FALSE(HasFatalFailure());
    }
    zorva = std::make_unique<ChildProcess>(std::vector<std::string>{ZORVA_BINARY});
    ASSERT_TRUE(zorva->Started());
    WaitUntilFilled(*zorva);
    ASSERT_NE(Text(*zorva, "track10"), "");
  }
  // Every process Zorva started has ended, the browser's profile folder is
  // gone and the database was closed cleanly.
  void ExpectNothingLeft(const std::set<pid_t>& children) {
    const auto gone = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    auto anyRuns = [&children] {
      return std::any_of(children.begin(), children.end(), [](pid_t child) { return Runs(child); });
    };
    while (anyRuns() && std::chrono::steady_clock::now() < gone) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // other processes ending
    }
    for (pid_t child : children) EXPECT_FALSE(Runs(child)) << child;
    EXPECT_TRUE(std::filesystem::is_empty(home_.File("tmp"))) << "the browser's profile folder is left";
    EXPECT_EQ(Count("SELECT COUNT(*) AS n FROM pragma_integrity_check WHERE integrity_check = 'ok'"), 1);
    const std::string journal = dbPath_ + "-journal";
    if (std::filesystem::exists(journal)) {
      EXPECT_EQ(std::filesystem::file_size(journal), 0u) << "an unfinished transaction";
    }
  }
  // Moves Zorva's clock on by `ms` in the steps of its player poll.
  void Advance(ChildProcess& zorva, int ms) {
    std::string commands;
    for (int done = 0; done < ms; done += 500) commands += "advance 500\nsync -\n";
    zorva.Ask(commands);
  }

  TempFolder home_;
  std::string socket_ = home_.File("run/player.sock");
  std::string dbPath_ = home_.File("data/Zorva/music.db");
  ScopedEnv homeEnv_{"HOME", home_.Path()};
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", home_.File("run")};
  ScopedEnv data_{"XDG_DATA_HOME", home_.File("data")};
  ScopedEnv config_{"XDG_CONFIG_HOME", home_.File("config")};
  ScopedEnv socketEnv_{"ZORVA_PLAYER_SOCKET", socket_};
  ScopedEnv library_{"ZORVA_PLAYER_LIBRARY", nullptr};
  ScopedEnv music_{"XDG_MUSIC_DIR", nullptr};
  ScopedEnv tmp_{"TMPDIR", home_.File("tmp")};
  ScopedEnv headless_{"ZORVA_HEADLESS", "1"};
  ScopedEnv desktop_{"ZORVA_DESKTOP_CONTROL", "1"};
  ScopedEnv internet_{"ZORVA_INTERNET_CONNECTED", "0"};
  ScopedEnv web_{"ZORVA_WEB_URL", "http://127.0.0.1:9"};
  ScopedEnv live_{"ZORVA_LIVE_URL", "http://127.0.0.1:9"};
  Mix firstMix_;
  Mix secondMix_;
  bool player_ = false;
};

TEST_F(ZorvaWholeProcessTest, PlaysTheQueueSwitchesToTheScheduledMixShowsTheLabAndEndsWithThePlayer) {
  PrepareLibrary();
  ASSERT_FALSE(HasFatalFailure());

  std::unique_ptr<ChildProcess> player;
  ServeLibrary(player);
  player_ = true;
  ASSERT_FALSE(HasFatalFailure());

  ChildProcess zorva({ZORVA_BINARY});
  ASSERT_TRUE(zorva.Started());
  // Started, its page filled: the first mix of the schedule plays, ten tracks queued.
  WaitUntilFilled(zorva);
  EXPECT_EQ(Text(zorva, "currentmixname"), "Morning Jazz");
  for (int n = 1; n <= 10; ++n) EXPECT_NE(Text(zorva, "track" + std::to_string(n)), "") << n;
  const std::string status = Ctl("status");
  ASSERT_NE(status.find("state: playing"), std::string::npos) << status;
  const std::string first = Text(zorva, "trackname");
  EXPECT_NE(status.find("track: \"" + first + "\""), std::string::npos) << status;
  EXPECT_EQ(first.rfind("Jazz Song", 0), 0u) << first;
  EXPECT_EQ(Count("SELECT COUNT(*) AS n FROM trackPlayRecord"), 1);

  // The tool windows are there, hidden; Ctrl+Alt+L brings up the Lab.
  for (const char* page : {"TrackInfo.htm", "Automator.htm", "Generator.htm", "SettingsDialog.htm", "StatusDialog.htm"})
    EXPECT_EQ(Visibility(zorva, page), "0") << page;
  zorva.Ask("hotkey 3 76\n");
  std::string labTitle;
  EXPECT_EQ(Visibility(zorva, "TrackInfo.htm", &labTitle), "1");
  EXPECT_EQ(labTitle, "Zorva Lab > " + first);

  // The track plays to its end, both clocks moving: the schedule has turned
  // to the second mix, which the next track comes from, with one play record.
  for (int seconds = 0; seconds < kTrackSeconds; seconds += 20) {
    Ctl("advance", "20000");
    Advance(zorva, 20000);
  }
  Ctl("advance", "1000");
  std::string next = Text(zorva, "trackname");
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
       next == first && std::chrono::steady_clock::now() < end;) {
    Advance(zorva, 500);
    next = Text(zorva, "trackname");
  }
  EXPECT_EQ(next.rfind("Rock Song", 0), 0u) << next;
  EXPECT_EQ(Text(zorva, "currentmixname"), "Rock On");
  EXPECT_NE(Ctl("status").find("track: \"" + next + "\""), std::string::npos);
  EXPECT_EQ(Count("SELECT COUNT(*) AS n FROM trackPlayRecord"), 2);
  EXPECT_EQ(Count("SELECT COUNT(*) AS n FROM trackPlayRecord r JOIN track t ON t.id = r.trackid WHERE t.name = '" +
                  next + "'"),
            1);
  // Later polls of the same track record nothing more.
  Advance(zorva, 2000);
  EXPECT_EQ(Count("SELECT COUNT(*) AS n FROM trackPlayRecord"), 2);

  // The player quits: Zorva ends with it and leaves nothing running.
  const std::set<pid_t> children = Descendants(zorva.Pid());
  EXPECT_FALSE(children.empty());
  Ctl("quit");
  player_ = false;
  EXPECT_EQ(player->Wait(), 0);
  EXPECT_EQ(zorva.Wait("advance 100\n"), 0);
  // A killed process is gone a moment after the signal; none may stay.
  ExpectNothingLeft(children);

  // Settings and window places are stored.
  platform::ReloadProfile();
  EXPECT_EQ(GetProfileInt("Startup", "CurrentMix", 0), static_cast<UINT>(secondMix_.GetId()));
  EXPECT_EQ(GetProfileInt("Startup", "ScanLib", 7), 1u);
  std::vector<BYTE> placement;
  for (const char* window : {"Player", "Lab", "Automator", "Generator", "Settings"}) {
    EXPECT_TRUE(GetProfileBinary("Position", window, placement)) << window;
    EXPECT_EQ(placement.size(), 44u) << window;
  }
}

// The player dies (killed) or stops answering (stopped) while Zorva plays:
// Zorva notices, says so, and ends as when the player quits, keeping the
// current mix; its calls to a stuck player end after their time-out.
TEST_F(ZorvaWholeProcessTest, APlayerThatDiesOrStopsAnsweringIsNoticedAndSaid) {
  PrepareLibrary();
  ASSERT_FALSE(HasFatalFailure());
  for (const int signal : {SIGKILL, SIGSTOP}) {
    SCOPED_TRACE(signal);
    WriteProfileInt("Startup", "CurrentMix", 0);
    std::unique_ptr<ChildProcess> player;
    ServeLibrary(player);
    ASSERT_FALSE(HasFatalFailure());
    const std::string errors = home_.File("zorva.err");
    ChildProcess zorva({"/bin/sh", "-c", "exec \"$0\" 2>\"$1\"", ZORVA_BINARY, errors});
    ASSERT_TRUE(zorva.Started());
    WaitUntilFilled(zorva);
    ASSERT_NE(Text(zorva, "track10"), "");

    ASSERT_EQ(::kill(player->Pid(), signal), 0);
    // The clock moves on while a call waits for the stuck player.
    EXPECT_EQ(zorva.Wait("advance 1000\n"), 0);
    std::ifstream err(errors);
    const std::string said((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    EXPECT_NE(said.find("Zorva lost its connection to iTunes"), std::string::npos) << said;
    platform::ReloadProfile();
    EXPECT_EQ(GetProfileInt("Startup", "CurrentMix", 0), static_cast<UINT>(firstMix_.GetId()));
    if (signal == SIGSTOP) ::kill(player->Pid(), SIGCONT);
    ::kill(player->Pid(), SIGKILL);
    player->Wait();
    std::filesystem::remove(socket_);
  }
}

// The database's disk fills up while Zorva plays, and the profile's
// folder is replaced by a file: the failed writes are said once, on the
// status line and on standard error, and the music plays on.
TEST_F(ZorvaWholeProcessTest, WritesThatFailAreSaidOnceAndTheMusicPlaysOn) {
  zorva_test::SmallDisk disk(home_.File("data"), "16m");
  ASSERT_TRUE(disk.Mounted());
  std::filesystem::create_directories(home_.File("data/Zorva"));
  PrepareLibrary();
  ASSERT_FALSE(HasFatalFailure());
  std::unique_ptr<ChildProcess> player;
  ServeLibrary(player);
  ASSERT_FALSE(HasFatalFailure());
  player_ = true;
  const std::string errors = home_.File("zorva.err");
  ChildProcess zorva({"/bin/sh", "-c", "exec \"$0\" 2>\"$1\"", ZORVA_BINARY, errors});
  WaitUntilFilled(zorva);
  ASSERT_NE(Text(zorva, "track10"), "");
  auto said = [&errors] {
    std::ifstream err(errors);
    return std::string((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
  };

  disk.Fill();
  std::string status;
  for (int track = 0; track < 2; ++track) {
    // To its end: the player stops, and Zorva hands over the front of its
    // queue. A random queue may hold the track just played, so the player
    // playing again tells that it went on, not a new name.
    Ctl("seek", "100000");
    const auto next = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string playing;
    do {
      Advance(zorva, 500);
      if (const std::string now = Text(zorva, "status"); now.find("cannot record") != std::string::npos) status = now;
      playing = Ctl("status");
    } while ((playing.find("state: playing") == std::string::npos ||
              playing.find("track: \"" + Text(zorva, "trackname") + "\"") == std::string::npos || status.empty()) &&
             std::chrono::steady_clock::now() < next);
    EXPECT_NE(playing.find("state: playing"), std::string::npos) << playing << said();
    EXPECT_NE(playing.find("track: \"" + Text(zorva, "trackname") + "\""), std::string::npos) << playing;
  }
  EXPECT_NE(status.find("Zorva cannot record what it plays in " + dbPath_), std::string::npos) << status;
  EXPECT_NE(Ctl("status").find("state: playing"), std::string::npos);
  const std::string playsSaid = said();
  EXPECT_NE(playsSaid.find("cannot record what it plays"), std::string::npos) << playsSaid;
  EXPECT_EQ(playsSaid.find("cannot record what it plays"), playsSaid.rfind("cannot record what it plays"));

  std::filesystem::rename(home_.File("config/zorva"), home_.File("config/zorva.kept"));
  std::ofstream(home_.File("config/zorva")) << "a file";
  ASSERT_EQ(::kill(zorva.Pid(), SIGTERM), 0);
  EXPECT_EQ(zorva.Wait("advance 100\n"), 0);
  EXPECT_NE(said().find("Zorva could not save its settings"), std::string::npos) << said();
}

// Logout (SIGTERM), Ctrl+C (SIGINT) and a closed terminal (SIGHUP) end
// Zorva as closing its window does: exit code 0, the current mix and the
// window's place stored, every process it started ended, the browser's
// profile folder removed and the database closed.
TEST_F(ZorvaWholeProcessTest, EachEndingSignalEndsItAsClosingTheWindowDoes) {
  std::unique_ptr<ChildProcess> player;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    std::unique_ptr<ChildProcess> zorva;
    const std::set<pid_t> children = StartPlayingAfresh(player, zorva);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_FALSE(children.empty());
    ASSERT_EQ(::kill(zorva->Pid(), signal), 0);
    EXPECT_EQ(zorva->Wait("advance 100\n"), 0);
    ExpectNothingLeft(children);
    ExpectStateStored();
    EXPECT_EQ(GetProfileInt("Startup", "ScheduleOn", 7), 1u);
    // The player plays on: ending Zorva does not stop the music.
    EXPECT_NE(Ctl("status").find("state: playing"), std::string::npos);
  }
}

// The renderers of Zorva's own browser (its pages' processes), found in its
// process tree by their command line (which Chromium rewrites as one string).
std::set<pid_t> Renderers(pid_t zorva) {
  std::set<pid_t> renderers;
  for (pid_t pid : Descendants(zorva)) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline");
    std::string line((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::replace(line.begin(), line.end(), '\0', ' ');
    if ((line + " ").find(" --type=renderer ") != std::string::npos) renderers.insert(pid);
  }
  return renderers;
}

// The renderers die (killed for memory, or crashed) while Zorva plays: the
// player page is loaded again and filled as at start, the tool windows come
// back too, the music and the queue go on, and Zorva still ends cleanly.
TEST_F(ZorvaWholeProcessTest, KilledRenderersGiveThePagesBackFilledAsAtStart) {
  std::unique_ptr<ChildProcess> player;
  std::unique_ptr<ChildProcess> zorva;
  StartPlaying(player, zorva);
  ASSERT_FALSE(HasFatalFailure());
  const char* const shown[] = {"trackname", "artistname", "albumname", "currentmixname", "track1", "track5", "track10"};
  std::vector<std::string> before;
  for (const char* id : shown) before.push_back(Text(*zorva, id));
  EXPECT_EQ(before[3], "Morning Jazz");
  const std::string status = Ctl("status");

  const std::set<pid_t> killed = Renderers(zorva->Pid());
  ASSERT_FALSE(killed.empty());
  for (pid_t renderer : killed) ASSERT_EQ(::kill(renderer, SIGKILL), 0) << renderer;
  const char* const tools[] = {"TrackInfo.htm", "Automator.htm", "Generator.htm", "SettingsDialog.htm",
                               "StatusDialog.htm"};
  // The pages are made and loaded again with the clock standing still (a
  // load's time-out counts on the program's clock): the player page shows its
  // own text until the program fills it, which takes the clock moving on.
  auto loaded = [&] {
    return Text(*zorva, "trackname") == "Connecting to iTunes" &&
           std::all_of(std::begin(tools), std::end(tools),
                       [&](const char* page) { return Visibility(*zorva, page) == "0"; });
  };
  auto filled = [&] {
    for (std::size_t n = 0; n < std::size(shown); ++n) {
      if (Text(*zorva, shown[n]) != before[n]) return false;
    }
    return true;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!loaded() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the browser at work
  }
  ASSERT_TRUE(loaded()) << Text(*zorva, "trackname") << "\n"
                        << [&] {
                             std::string all;
                             for (const std::string& line : zorva->Ask("windows\n")) all += line + "\n";
                             return all;
                           }();
  while (!filled() && std::chrono::steady_clock::now() < deadline) Advance(*zorva, 500);
  for (std::size_t n = 0; n < std::size(shown); ++n) EXPECT_EQ(Text(*zorva, shown[n]), before[n]) << shown[n];
  const std::set<pid_t> renderers = Renderers(zorva->Pid());
  EXPECT_FALSE(renderers.empty());
  for (pid_t renderer : renderers) EXPECT_EQ(killed.count(renderer), 0u) << renderer;

  // The player played on, the same track; the tool windows are there again,
  // hidden, and the Lab comes up showing the track.
  EXPECT_NE(status.find("state: playing"), std::string::npos) << status;
  EXPECT_EQ(Ctl("status"), status);
  for (const char* page : tools) EXPECT_EQ(Visibility(*zorva, page), "0") << page;
  zorva->Ask("hotkey 3 76\n");
  std::string labTitle;
  EXPECT_EQ(Visibility(*zorva, "TrackInfo.htm", &labTitle), "1");
  EXPECT_EQ(labTitle, "Zorva Lab > " + before[0]);

  // Ended as closing the window does: nothing left, the mix stored.
  WriteProfileInt("Startup", "CurrentMix", -1);
  const std::set<pid_t> children = Descendants(zorva->Pid());
  ASSERT_EQ(::kill(zorva->Pid(), SIGTERM), 0);
  EXPECT_EQ(zorva->Wait("advance 100\n"), 0);
  ExpectNothingLeft(children);
  platform::ReloadProfile();
  EXPECT_EQ(GetProfileInt("Startup", "CurrentMix", 0), static_cast<UINT>(firstMix_.GetId()));
}

// On a desktop with a window manager (Xvfb and openbox): the main window's
// title is the program's, a hidden tool window has no window on the screen,
// a window moved by the desktop is stored where it is, and the desktop's
// close button hides a tool window and ends the program on the main one.
class ZorvaDesktopTest : public ZorvaWholeProcessTest {
 protected:
  void SetUp() override {
    for (const char* program : {"Xvfb", "openbox", "wmctrl", "xprop"}) {
      if (!Installed(program))
        GTEST_FAIL() << program
                     << " is not installed (build.sh installs Debian packages xvfb, openbox, wmctrl, x11-utils)";
    }
    xvfb_ = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0",
                                                                    "1280x1024x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb_->WaitFor([](const std::string& line) { return !line.empty(); }, 30)) << "Xvfb did not start";
    display_ = ":" + xvfb_->Lines().front();
    displayEnv_ = std::make_unique<ScopedEnv>("DISPLAY", display_.c_str());
    windowManager_ = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/openbox"});
    ASSERT_TRUE(windowManager_->Started());
    // The window manager is up once it answers for the desktop and lists
    // the windows it manages (none yet); a busy machine may take a while.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    auto up = [] {
      const std::string listed = RunToEnd({"/usr/bin/xprop", "-root", "_NET_CLIENT_LIST"});
      return RunToEnd({"/usr/bin/wmctrl", "-m"}).rfind("Name:", 0) == 0 && !listed.empty() &&
             listed.find("not found") == std::string::npos;
    };
    bool ready = false;
    std::string said;
    while (!(ready = up()) && std::chrono::steady_clock::now() < deadline) {
      // One that found the display not yet open to it says so and ends: it
      // is started again.
      if (!Runs(windowManager_->Pid())) {
        windowManager_->WaitFor([](const std::string&) { return false; }, 1);  // what it said
        said = windowManager_->Output();
        windowManager_ = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/openbox"});
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // another process starting
    }
    ASSERT_TRUE(ready) << "the window manager did not come up: " << said;
  }
  // The desktop's windows: id and title.
  std::vector<std::pair<std::string, std::string>> DesktopWindows() {
    const std::string all = RunToEnd({"/usr/bin/wmctrl", "-l"});
    std::vector<std::pair<std::string, std::string>> windows;
    std::istringstream in(all);
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields(line);
      std::string id, desktop, host, title;
      if (!(fields >> id >> desktop >> host)) continue;
      std::getline(fields >> std::ws, title);
      windows.emplace_back(id, title);
    }
    return windows;
  }
  // Waits until the desktop shows a window whose title holds `part`; its id.
  std::string WaitForWindow(ChildProcess& zorva, const std::string& part) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (std::chrono::steady_clock::now() < deadline) {
      for (const auto& [id, title] : DesktopWindows()) {
        if (title.find(part) != std::string::npos) return id;
      }
      zorva.Ask();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the window manager at work
    }
    return "";
  }

  std::unique_ptr<ChildProcess> xvfb_;
  std::unique_ptr<ChildProcess> windowManager_;
  std::string display_;
  std::unique_ptr<ScopedEnv> displayEnv_;
  ScopedEnv shown_{"ZORVA_HEADLESS", nullptr};
};

TEST_F(ZorvaDesktopTest, TitlesHiddenWindowsMovesAndTheCloseButton) {
  std::unique_ptr<ChildProcess> player;
  std::unique_ptr<ChildProcess> zorva;
  StartPlaying(player, zorva);
  ASSERT_FALSE(HasFatalFailure());
  const std::string track = Text(*zorva, "trackname");

  // The main window's title is the program's own (" > Zorva : track - artist",
  // scrolled); the desktop trims the blanks at its ends.
  Advance(*zorva, 500);  // the poll that sets the title
  std::string title;
  ASSERT_EQ(Visibility(*zorva, "Zorva.htm", &title), "1");
  while (!title.empty() && title.back() == ' ') title.pop_back();
  EXPECT_NE(title.find(track.substr(0, 4)), std::string::npos) << title;
  const std::string main = WaitForWindow(*zorva, title);
  ASSERT_NE(main, "") << "no window titled " << title;
  // Only the main window is on the screen: the hidden tool windows are not.
  for (const auto& [id, shown] : DesktopWindows()) EXPECT_EQ(id, main) << shown;

  // A tool window closed from the desktop is hidden, and comes back.
  zorva->Ask("hotkey 3 76\n");
  const std::string lab = WaitForWindow(*zorva, "Zorva Lab");
  ASSERT_NE(lab, "");
  RunToEnd({"/usr/bin/wmctrl", "-i", "-c", lab});
  const auto hidden = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (Visibility(*zorva, "TrackInfo.htm") != "0" && std::chrono::steady_clock::now() < hidden) Advance(*zorva, 500);
  EXPECT_EQ(Visibility(*zorva, "TrackInfo.htm"), "0");
  zorva->Ask("hotkey 3 76\n");
  EXPECT_EQ(Visibility(*zorva, "TrackInfo.htm"), "1");
  EXPECT_NE(WaitForWindow(*zorva, "Zorva Lab"), "");

  // Moved by the desktop, then closed with its close button: the program
  // ends, and stores where the window was.
  RunToEnd({"/usr/bin/wmctrl", "-i", "-r", main, "-e", "0,333,222,-1,-1"});
  // The window manager moves it; the program looks at its windows' places
  // at most once a second of real time, on its poll: the test waits until
  // it has seen the new place, however busy the machine.
  auto near = [](int value, int wanted) { return value >= wanted - 40 && value <= wanted + 40; };
  const auto seen = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::string place;
  for (;;) {
    const std::vector<std::string> answer = zorva->Ask("place Zorva.htm\n");
    place = answer.empty() ? "" : answer.front();
    std::istringstream in(place);
    std::string word;
    int left = 0;
    int top = 0;
    if ((in >> word >> left >> top && word == "place" && near(left, 333) && near(top, 222)) ||
        std::chrono::steady_clock::now() >= seen) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the window manager and the browser at work
    Advance(*zorva, 500);
  }
  RunToEnd({"/usr/bin/wmctrl", "-i", "-c", main});
  EXPECT_EQ(zorva->Wait("advance 100\n"), 0);
  platform::ReloadProfile();
  std::vector<BYTE> stored;
  ASSERT_TRUE(GetProfileBinary("Position", "Player", stored));
  ASSERT_EQ(stored.size(), sizeof(WINDOWPLACEMENT));
  WINDOWPLACEMENT placement{};
  std::memcpy(&placement, stored.data(), sizeof placement);
  // The frame the window manager adds may shift it by a few pixels.
  EXPECT_NEAR(placement.rcNormalPosition.left, 333, 40) << place;
  EXPECT_NEAR(placement.rcNormalPosition.top, 222, 40) << place;
}

// The player dies while Zorva shows its pages on a desktop: the state is
// stored before the question that says so, and an ending signal while that
// question waits ends Zorva the normal way, leaving nothing behind.
TEST_F(ZorvaDesktopTest, AnEndingSignalWhileAQuestionWaitsEndsItTheNormalWay) {
  std::unique_ptr<ChildProcess> player;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    std::unique_ptr<ChildProcess> zorva;
    const std::set<pid_t> children = StartPlayingAfresh(player, zorva);
    ASSERT_FALSE(HasFatalFailure());
    ::kill(player->Pid(), SIGKILL);
    player->Wait();
    Advance(*zorva, 1000);
    ASSERT_NE(WaitForWindow(*zorva, "Zorva lost iTunes"), "");
    ExpectStateStored();

    ASSERT_EQ(::kill(zorva->Pid(), signal), 0);
    EXPECT_EQ(zorva->Wait("", 30), 0);
    ExpectNothingLeft(children);
    // The next run's player, on the same library.
    std::filesystem::remove(socket_);
    ServeLibrary(player);
    ASSERT_FALSE(HasFatalFailure());
  }
}

// Keys from the desktop: Ctrl+P typed into the player's page pauses and
// plays; Ctrl+Alt+L and Ctrl+Alt+P come while another program has the focus.
TEST_F(ZorvaDesktopTest, CtrlPInThePageAndTheHotKeysFromAnotherProgram) {
  std::unique_ptr<ChildProcess> player;
  std::unique_ptr<ChildProcess> zorva;
  StartPlaying(player, zorva);
  ASSERT_FALSE(HasFatalFailure());
  const auto until = [&](const std::string& state) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Ctl("status").find("state: " + state) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      Advance(*zorva, 100);
    }
    return Ctl("status").find("state: " + state) != std::string::npos;
  };
  Advance(*zorva, 500);
  std::string title;
  ASSERT_EQ(Visibility(*zorva, "Zorva.htm", &title), "1");
  while (!title.empty() && title.back() == ' ') title.pop_back();
  const std::string main = WaitForWindow(*zorva, title.substr(0, 8));
  ASSERT_NE(main, "");
  RunToEnd({"/usr/bin/xdotool", "windowactivate", "--sync", std::to_string(std::stoul(main, nullptr, 16))});
  for (const char* state : {"stopped", "playing", "stopped"}) {  // the player shows a pause as stopped
    // Ctrl let go first, then P.
    RunToEnd({"/usr/bin/xdotool", "key", "ctrl+p"});
    EXPECT_TRUE(until(state)) << state;
  }

  ChildProcess other({"/usr/bin/xmessage", "-name", "otherclient", "another program"});
  RunToEnd({"/usr/bin/xdotool", "search", "--sync", "--classname", "otherclient", "windowactivate", "--sync"});
  RunToEnd({"/usr/bin/xdotool", "key", "ctrl+alt+p"});
  EXPECT_TRUE(until("playing"));
  RunToEnd({"/usr/bin/xdotool", "key", "ctrl+alt+l"});
  EXPECT_NE(WaitForWindow(*zorva, "Zorva Lab"), "");
  EXPECT_EQ(zorva->Wait("quit\n"), 0);
}

}  // namespace
