// The start of the real program Zorva to its first track playing: headless
// Chromium, the player stand-in already running on a library of 100,000
// tracks that Zorva's music database already holds (no scan needed).
//
// Each iteration starts Zorva, waits until the stand-in reports "playing"
// (the timed span, manual time), reads Zorva's own resident memory (its
// browser is another process and not counted), waits until Zorva and its
// browser are quiet (next to no CPU: the rest of the page fill is done) and
// reads it again, then quits the stand-in, which ends Zorva with it. Zorva
// has no other clean way to end from outside, so the stand-in is started
// again before the next iteration, untimed. One untimed start before the
// first iteration warms the caches and leaves Zorva's settings as a second
// start finds them.
//
// One iteration per run: --benchmark_repetitions=5 gives the median of five.
//
// ZORVA_BENCH_PROGRAMS=A:B... measures the Zorva programs named (each beside
// its pages) instead of the one built here, one benchmark each; with
// --benchmark_enable_random_interleaving their repetitions take turns, for
// a side-by-side comparison on a busy machine.
//
// BM_MemoryWithAllLabPages: Zorva started on the scripted desktop; once the
// first track plays, the Lab shows a view of each kind (its four pages kept
// loaded), then Zorva's settled memory and its browser's, as below.
//
// Counters (per iteration): rss_MB and hwm_MB (VmRSS and its peak VmHWM)
// when the first track plays, settled_rss_MB and settled_hwm_MB once quiet,
// browser_pss_MB (the browser's processes once quiet, PSS: each shared page
// divided among all processes that map it, other programs' too), browser_MB
// (the same processes, each page they hold counted once: other browsers on
// the machine do not lower it),
// browser_s (start to Zorva's first child, the browser), settle_s (playing
// to quiet) and quit_s (the stand-in's quit to Zorva's exit).
//
// Beside it, its floor in the same run: a bare Chromium started as Zorva
// starts it (headless, over the pipe) to a blank page that answers, then
// closed (BareChromiumToBlankPage, one start per iteration too).
//
// ZORVA_BENCH_TRACE=<file> runs Zorva with ZORVA_CHROMIUM_TRACE=1 and appends
// each start's output to the file, headed by its times: where a start's time
// goes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "benchmarks/BrowserBenchmarkSupport.h"
#include "benchmarks/GeneratedLibrary.h"
#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/kernel/UniqueFd.h"
#include "platform/player/standin/PlayerProtocol.h"
#include "platform/player/standin/PlayerSocket.h"

extern char** environ;

namespace {

using zorva_bench::TreePssMB;
using zorva_bench::TreeResidentMB;

namespace pp = platform::player;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Seconds(Clock::duration span) { return std::chrono::duration<double>(span).count(); }

std::string XmlText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
  }
  return out;
}

std::string FileUrl(const std::string& path) {
  std::string url = "file://localhost";
  for (char c : path) {
    if (c == ' ')
      url += "%20";
    else if (c == '%')
      url += "%25";
    else
      url += c;
  }
  return url;
}

// The player's exported library for exactly the tracks of the database at
// `dbPath`, so that what Zorva hands over the stand-in knows.
bool WriteLibraryFor(const std::string& dbPath, const std::string& xmlPath) {
  sqlite3* raw = nullptr;
  if (sqlite3_open_v2(dbPath.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(raw);
    return false;
  }
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
  sqlite3_stmt* rawStatement = nullptr;
  if (sqlite3_prepare_v2(db.get(), "SELECT id, name, artist, album, genre, location, length FROM track ORDER BY id", -1,
                         &rawStatement, nullptr) != SQLITE_OK)
    return false;
  std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> statement(rawStatement, &sqlite3_finalize);
  auto column = [&](int n) {
    const unsigned char* text = sqlite3_column_text(statement.get(), n);
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
  };

  std::ofstream out(xmlPath, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
         "\t<key>Major Version</key><integer>1</integer>\n"
         "\t<key>Minor Version</key><integer>1</integer>\n"
         "\t<key>Tracks</key>\n\t<dict>\n";
  std::vector<std::string> ids;
  while (sqlite3_step(statement.get()) == SQLITE_ROW) {
    const std::string id = column(0);
    ids.push_back(id);
    out << "\t\t<key>" << id << "</key>\n\t\t<dict>\n"
        << "\t\t\t<key>Track ID</key><integer>" << id << "</integer>\n"
        << "\t\t\t<key>Name</key><string>" << XmlText(column(1)) << "</string>\n"
        << "\t\t\t<key>Artist</key><string>" << XmlText(column(2)) << "</string>\n"
        << "\t\t\t<key>Album</key><string>" << XmlText(column(3)) << "</string>\n"
        << "\t\t\t<key>Genre</key><string>" << XmlText(column(4)) << "</string>\n"
        << "\t\t\t<key>Kind</key><string>MPEG audio file</string>\n"
        << "\t\t\t<key>Total Time</key><integer>" << sqlite3_column_int64(statement.get(), 6) * 1000 << "</integer>\n"
        << "\t\t\t<key>Track Type</key><string>File</string>\n"
        << "\t\t\t<key>Location</key><string>" << XmlText(FileUrl(column(5))) << "</string>\n"
        << "\t\t</dict>\n";
  }
  out << "\t</dict>\n\t<key>Playlists</key>\n\t<array>\n\t\t<dict>\n"
         "\t\t\t<key>Name</key><string>Library</string>\n\t\t\t<key>Master</key><true/>\n"
         "\t\t\t<key>Playlist ID</key><integer>1000</integer>\n"
         "\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n";
  for (const std::string& id : ids) out << "\t\t\t\t<dict><key>Track ID</key><integer>" << id << "</integer></dict>\n";
  out << "\t\t\t</array>\n\t\t</dict>\n\t</array>\n</dict>\n</plist>\n";
  return !ids.empty() && static_cast<bool>(out);
}

// With `input`, the child's standard input is a pipe whose writing end it
// gives (the caller closes it).
pid_t Spawn(const std::vector<std::string>& arguments, const std::string& log, int* input = nullptr) {
  std::vector<std::string> copy = arguments;
  std::vector<char*> argv;
  for (std::string& argument : copy) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int pipeEnds[2] = {-1, -1};
  if (input && ::pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input) {
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (input) {
    ::close(pipeEnds[0]);
    if (failed) {
      ::close(pipeEnds[1]);
    } else {
      *input = pipeEnds[1];
    }
  }
  return failed ? -1 : pid;
}

// Waits for `pid` to end; false (and the process killed) when it has not
// within `limit`.
bool WaitEnd(pid_t pid, Clock::duration limit) {
  const Clock::time_point until = Clock::now() + limit;
  while (Clock::now() < until) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(5ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return false;
}

// A field of /proc/<pid>/status in MB.
double StatusMB(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0) return std::strtod(line.c_str() + field.size() + 1, nullptr) / 1024;
  return 0;
}

// User and system time of the process so far, in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;  // state .. cmajflt
  long user = 0, system = 0;
  fields >> user >> system;
  return user + system;
}

// The children of every thread of the process.
std::vector<pid_t> Children(pid_t pid) {
  std::vector<pid_t> children;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream list(task.path() / "children");
    for (pid_t child = 0; list >> child;) children.push_back(child);
  }
  return children;
}

// CPU ticks of the process and everything it started that still runs: Zorva
// waiting for its browser is busy too.
long TreeCpuTicks(pid_t pid) {
  long ticks = CpuTicks(pid);
  for (pid_t child : Children(pid)) ticks += TreeCpuTicks(child);
  return ticks;
}

// One connection to the stand-in for its control commands.
class PlayerLink {
 public:
  bool Connect(const std::string& socket) {
    Close();
    std::string refused;
    fd_.Reset(pp::ConnectToPlayer(socket, &refused));
    return fd_.IsDefined();
  }
  void Close() {
    fd_.Reset();
    buffer_.clear();
  }
  // The answer's text, nullopt when the stand-in did not answer.
  std::optional<std::string> Control(const std::string& command) {
    if (!fd_.IsDefined()) return std::nullopt;
    const nlohmann::json request = {{"id", ++id_}, {"op", "ctl." + command}, {"args", nlohmann::json::object()}};
    std::string line;
    if (!pp::SendAll(fd_.Get(), pp::ToProtocolLine(request)) || !pp::ReadLine(fd_.Get(), buffer_, &line)) {
      return std::nullopt;
    }
    const nlohmann::json answer = nlohmann::json::parse(line, nullptr, false);
    if (!answer.is_object() || !answer.contains("result") || !answer["result"].contains("text")) return std::string();
    return answer["result"]["text"].get<std::string>();
  }
  bool Playing() {
    const std::optional<std::string> status = Control("status");
    return status && status->rfind("state: playing", 0) == 0;
  }

 private:
  platform::UniqueFd fd_;
  int id_ = 0;
  std::string buffer_;
};

void SetEnv(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

// What one start of Zorva measured.
struct Start {
  std::string error;
  double toPlaying = 0;
  double toBrowser = 0;
  double rss = 0, hwm = 0;
  double settledRss = 0, settledHwm = 0;
  double browserPss = 0;
  double browserResident = 0;
  double settle = 0;
  double quit = 0;
};

// The database, the library file, the private folders and environment, and
// the stand-in, made once per run.
class World {
 public:
  World() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zorva-startup-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      error_ = "cannot make a temporary folder";
      return;
    }
    home_ = pattern;
    for (const char* folder : {"data/Zorva", "config", "runtime", "tmp"})
      std::filesystem::create_directories(home_ + "/" + folder);
    {
      zorva_bench::Library generated;
      std::filesystem::copy_file(generated.AnalysedPath(), home_ + "/data/Zorva/music.db");
      largeMixId_ = generated.largeMixId;
    }
    library_ = home_ + "/Library.xml";
    socket_ = home_ + "/runtime/player.sock";
    if (!WriteLibraryFor(home_ + "/data/Zorva/music.db", library_)) {
      error_ = "cannot write the library file";
      return;
    }
    SetEnv("HOME", home_);
    SetEnv("XDG_DATA_HOME", home_ + "/data");
    SetEnv("XDG_CONFIG_HOME", home_ + "/config");
    SetEnv("XDG_RUNTIME_DIR", home_ + "/runtime");
    SetEnv("TMPDIR", home_ + "/tmp");
    SetEnv("ZORVA_PLAYER_SOCKET", socket_);
    SetEnv("ZORVA_HEADLESS", "1");
    // The update check stays off the network; a start must not wait on it.
    SetEnv("ZORVA_INTERNET_CONNECTED", "0");
    ::unsetenv("ZORVA_PLAYER_LIBRARY");
    ::unsetenv("ZORVA_DESKTOP_CONTROL");
    if (const char* trace = std::getenv("ZORVA_BENCH_TRACE"); trace && *trace) {
      trace_ = trace;
      SetEnv("ZORVA_CHROMIUM_TRACE", "1");
    } else {
      ::unsetenv("ZORVA_CHROMIUM_TRACE");
    }
    const Start warm = Run(ZORVA_BINARY);
    error_ = warm.error;
  }
  ~World() {
    if (player_ > 0) {
      kill(player_, SIGTERM);
      WaitEnd(player_, 10s);
    }
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
  }
  const std::string& Error() const { return error_; }

  // One start of `program` with the stand-in running and stopped.
  Start Run(const std::string& program) {
    Start start;
    if (!StartPlayer()) {
      if (player_ > 0) WaitEnd(player_, 0s);
      player_ = -1;
      start.error = "the player stand-in did not start (see " + home_ + "/player.log)";
      return start;
    }
    const Clock::time_point t0 = Clock::now();
    const pid_t zorva = Spawn({program}, home_ + "/zorva.log");
    if (zorva < 0) {
      start.error = "cannot start " + program;
      return start;
    }
    std::optional<Clock::time_point> browser;
    bool playing = false;
    bool ended = false;
    while (!playing && !ended && Clock::now() - t0 < 120s) {
      if (!browser && !Children(zorva).empty()) browser = Clock::now();
      playing = link_.Playing();
      if (!playing) {
        ended = waitpid(zorva, nullptr, WNOHANG) == zorva;
        std::this_thread::sleep_for(2ms);
      }
    }
    const Clock::time_point t1 = Clock::now();
    if (playing) {
      start.toPlaying = Seconds(t1 - t0);
      start.toBrowser = browser ? Seconds(*browser - t0) : 0;
      start.rss = StatusMB(zorva, "VmRSS");
      start.hwm = StatusMB(zorva, "VmHWM");
      // Quiet: Zorva and its browser together use at most 50 ms of CPU in
      // half a second.
      long before = TreeCpuTicks(zorva);
      Clock::time_point quietFrom = Clock::now();
      while (Clock::now() - t1 < 60s) {
        std::this_thread::sleep_for(500ms);
        const long now = TreeCpuTicks(zorva);
        if (now - before <= 5 * sysconf(_SC_CLK_TCK) / 100) break;
        before = now;
        quietFrom = Clock::now();
      }
      start.settle = Seconds(quietFrom - t1);
      start.settledRss = StatusMB(zorva, "VmRSS");
      for (pid_t child : Children(zorva)) {
        start.browserPss += TreePssMB(child);
        start.browserResident += TreeResidentMB(child);
      }
      start.settledHwm = StatusMB(zorva, "VmHWM");
    } else {
      start.error = "Zorva did not get a track playing (see " + home_ + "/zorva.log)";
    }
    // Quitting the stand-in ends Zorva with it.
    const Clock::time_point quitAt = Clock::now();
    link_.Control("quit");
    link_.Close();
    if (!ended && !WaitEnd(zorva, 60s) && start.error.empty()) start.error = "Zorva did not end when the player quit";
    start.quit = Seconds(Clock::now() - quitAt);
    WaitEnd(player_, 30s);
    player_ = -1;
    if (!trace_.empty()) KeepTrace(program, start);
    return start;
  }

  // One start of `program` on the scripted desktop (a manual clock moved on
  // by the benchmark): once the first track plays, the Lab comes up (its hot
  // key) and the user clicks from the track to home, the large mix and one
  // of its genres, so that all four Lab pages are loaded and kept. Then the
  // memory of Zorva and of its browser, once quiet.
  Start RunWithLabViews(const std::string& program) {
    Start start;
    if (!StartPlayer()) {
      start.error = "the player stand-in did not start (see " + home_ + "/player.log)";
      return start;
    }
    const std::string log = home_ + "/zorva-lab.log";
    std::ofstream(log, std::ios::trunc).close();
    SetEnv("ZORVA_DESKTOP_CONTROL", "1");
    int input = -1;
    const pid_t zorva = Spawn({program}, log, &input);
    ::unsetenv("ZORVA_DESKTOP_CONTROL");
    if (zorva < 0) {
      start.error = "cannot start " + program;
      return start;
    }
    int token = 0;
    // Sends `lines` and a sync, and waits for its answer; the log's text.
    auto ask = [&](const std::string& lines) {
      const std::string sync = "sync " + std::to_string(++token);
      const std::string text = lines + sync + "\n";
      if (::write(input, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return std::string();
      const Clock::time_point until = Clock::now() + 60s;
      while (Clock::now() < until) {
        std::ifstream in(log);
        const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (all.find(sync + "\n") != std::string::npos) return all;
        std::this_thread::sleep_for(5ms);
      }
      return std::string();
    };
    // Moves the clock on until `done`, for at most 60 s of the real one.
    auto until = [&](const std::function<bool(const std::string&)>& done) {
      const Clock::time_point limit = Clock::now() + 60s;
      while (Clock::now() < limit) {
        const std::string all = ask("advance 100\n");
        if (all.empty()) return false;
        if (done(all)) return true;
      }
      return false;
    };
    // The page shows element `id`: the text command answers with its text.
    auto page = [&](const char* file, const char* id) {
      return [file, id, &ask, &token](const std::string&) {
        const std::string all = ask(std::string("text ") + file + " " + id + "\n");
        const std::size_t end = all.find("\nsync " + std::to_string(token) + "\n");
        const std::size_t begin = all.rfind("\nsync " + std::to_string(token - 1) + "\n", end);
        if (end == std::string::npos || begin == std::string::npos) return false;
        const std::string answers = all.substr(begin, end - begin) + "\n";
        return answers.find("\ntext ") != std::string::npos;
      };
    };
    const std::string tagGo = "1_:_genre_:_Genre _:_labgo";
    const struct {
      const char* command;
      const char* page;
      const char* id;
    } steps[] = {
        {"hotkey 3 76", "TrackInfo.htm", "labhome"},
        {"click TrackInfo.htm labhome", "LabHome.htm", "tagsheading"},
        {nullptr, "MixInfo.htm", "existingtags"},
        {nullptr, "SelectorInfo.htm", "relatedtags"},
    };
    bool shown = until([&](const std::string&) { return link_.Playing(); });
    for (const auto& step : steps) {
      if (!shown) break;
      std::string command = step.command ? step.command : "";
      if (!step.command && std::string(step.page) == "MixInfo.htm")
        command = "click LabHome.htm " + std::to_string(largeMixId_) + "_:_mixlab";
      if (!step.command && std::string(step.page) == "SelectorInfo.htm") command = "click MixInfo.htm " + tagGo;
      ask(command + "\n");
      shown = until(page(step.page, step.id));
      if (!shown) start.error = std::string("the Lab did not show ") + step.page + " (see " + log + ")";
    }
    if (shown) {
      // Quiet, as after a start; the clock moves on meanwhile.
      long before = TreeCpuTicks(zorva);
      const Clock::time_point t1 = Clock::now();
      while (Clock::now() - t1 < 60s) {
        ask("advance 500\n");
        std::this_thread::sleep_for(500ms);
        const long now = TreeCpuTicks(zorva);
        if (now - before <= 5 * sysconf(_SC_CLK_TCK) / 100) break;
        before = now;
      }
      start.settledRss = StatusMB(zorva, "VmRSS");
      start.settledHwm = StatusMB(zorva, "VmHWM");
      for (pid_t child : Children(zorva)) {
        start.browserPss += TreePssMB(child);
        start.browserResident += TreeResidentMB(child);
      }
    } else if (start.error.empty()) {
      start.error = "Zorva did not get a track playing (see " + log + ")";
    }
    link_.Control("quit");
    link_.Close();
    ::close(input);
    if (!WaitEnd(zorva, 60s) && start.error.empty()) start.error = "Zorva did not end when the player quit";
    WaitEnd(player_, 30s);
    player_ = -1;
    return start;
  }

 private:
  bool StartPlayer() {
    player_ = Spawn({ZORVA_PLAYER_BINARY, "serve", "--library", library_, "--socket", socket_}, home_ + "/player.log");
    if (player_ < 0) return false;
    const Clock::time_point until = Clock::now() + 300s;
    while (Clock::now() < until) {
      if (link_.Connect(socket_)) return link_.Control("stop").has_value();
      if (waitpid(player_, nullptr, WNOHANG) == player_) {
        player_ = -1;
        return false;
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  // Moves this start's output to the trace file.
  void KeepTrace(const std::string& program, const Start& start) {
    const std::string log = home_ + "/zorva.log";
    std::ofstream out(trace_, std::ios::app);
    out << "== " << program << ": browser started at " << start.toBrowser * 1000 << " ms, playing at "
        << start.toPlaying * 1000 << " ms" << (start.error.empty() ? "" : " (" + start.error + ")") << "\n";
    std::ifstream in(log);
    out << in.rdbuf();
    std::ofstream truncate(log, std::ios::trunc);
  }

  std::string error_;
  std::string trace_;
  std::string home_;
  int largeMixId_ = 0;
  std::string library_;
  std::string socket_;
  pid_t player_ = -1;
  PlayerLink link_;
};

World& TheWorld() {
  static World world;
  return world;
}

// Runs `run(world)` once an iteration and sums what the starts measured;
// false, the state told why, where the world or a start failed.
template <class Run>
bool SumOfStarts(benchmark::State& state, Run run, Start* sum) {
  World& world = TheWorld();
  if (!world.Error().empty()) {
    state.SkipWithError(world.Error().c_str());
    return false;
  }
  for (auto _ : state) {
    const Start start = run(world);
    if (!start.error.empty()) {
      state.SkipWithError(start.error.c_str());
      return false;
    }
    state.SetIterationTime(start.toPlaying);
    sum->toBrowser += start.toBrowser;
    sum->rss += start.rss;
    sum->hwm += start.hwm;
    sum->settledRss += start.settledRss;
    sum->settledHwm += start.settledHwm;
    sum->browserPss += start.browserPss;
    sum->browserResident += start.browserResident;
    sum->settle += start.settle;
    sum->quit += start.quit;
  }
  return true;
}

void Average(benchmark::State& state, const char* name, double total) {
  state.counters[name] = benchmark::Counter(total, benchmark::Counter::kAvgIterations);
}

void StartToFirstTrackPlaying(benchmark::State& state, const std::string& program) {
  Start sum;
  if (!SumOfStarts(
          state, [&](World& world) { return world.Run(program); }, &sum))
    return;
  Average(state, "browser_s", sum.toBrowser);
  Average(state, "rss_MB", sum.rss);
  Average(state, "hwm_MB", sum.hwm);
  Average(state, "settled_rss_MB", sum.settledRss);
  Average(state, "settled_hwm_MB", sum.settledHwm);
  Average(state, "settle_s", sum.settle);
  Average(state, "browser_pss_MB", sum.browserPss);
  Average(state, "browser_MB", sum.browserResident);
  Average(state, "quit_s", sum.quit);
}

// The memory once the Lab has shown a view of each kind (all four of its
// pages kept loaded), beside StartToFirstTrackPlaying's, whose Lab has
// loaded its track page only.
void MemoryWithAllLabPages(benchmark::State& state) {
  Start sum;
  if (!SumOfStarts(
          state, [](World& world) { return world.RunWithLabViews(ZORVA_BINARY); }, &sum))
    return;
  Average(state, "settled_rss_MB", sum.settledRss);
  Average(state, "settled_hwm_MB", sum.settledHwm);
  Average(state, "browser_pss_MB", sum.browserPss);
  Average(state, "browser_MB", sum.browserResident);
}

// The floor: Chromium's own start to a blank page of ours that answers.
void BareChromiumToBlankPage(benchmark::State& state) {
  for (auto _ : state) {
    const Clock::time_point t0 = Clock::now();
    std::string error;
    platform::chromium::Browser::Options options;
    options.headless = true;
    auto browser = platform::chromium::Browser::Start(options, &error);
    auto page = browser ? platform::ChromiumHtmlDocument::Create(browser, &error) : nullptr;
    if (!page || !page->GetBody()) {
      state.SkipWithError(("no blank page: " + error).c_str());
      return;
    }
    state.SetIterationTime(Seconds(Clock::now() - t0));
    page.reset();
    browser.reset();
  }
}

const bool registered = [] {
  benchmark::RegisterBenchmark("BM_BareChromiumToBlankPage", BareChromiumToBlankPage)
      ->Unit(benchmark::kMillisecond)
      ->UseManualTime()
      ->Iterations(1);
  std::vector<std::string> programs;
  if (const char* listed = std::getenv("ZORVA_BENCH_PROGRAMS"); listed && *listed) {
    std::istringstream list(listed);
    for (std::string program; std::getline(list, program, ':');)
      if (!program.empty()) programs.push_back(program);
  }
  const bool named = !programs.empty();
  if (!named) programs.push_back(ZORVA_BINARY);
  for (std::size_t i = 0; i < programs.size(); ++i) {
    const std::string name = "BM_StartToFirstTrackPlaying" + (named ? "/" + std::to_string(i) : std::string());
    benchmark::RegisterBenchmark(name.c_str(), StartToFirstTrackPlaying, programs[i])
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(1);
  }
  if (!named) {
    benchmark::RegisterBenchmark("BM_MemoryWithAllLabPages", MemoryWithAllLabPages)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  }
  return true;
}();

}  // namespace
