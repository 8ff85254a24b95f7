// zorva-player: the stand-in for the desktop media player. "serve" keeps a
// library and a play position for the automation objects (it plays no
// sound); "ctl" lets a person or a test act at the player.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/kernel/Clock.h"
#include "platform/player/ITunes.h"
#include "platform/player/standin/Library.h"
#include "platform/player/standin/PlayerModel.h"
#include "platform/player/standin/PlayerProtocol.h"
#include "platform/player/standin/PlayerServer.h"
#include "platform/player/standin/PlayerSocket.h"
#include "platform/kernel/UniqueFd.h"

namespace {

using namespace platform::player;
using nlohmann::json;

const char kUsage[] =
    "usage:\n"
    "  zorva-player serve [--library FILE.xml | --folder DIR | --sample] [--socket PATH]\n"
    "                     [--manual-clock] [--version MAJOR.MINOR]\n"
    "  zorva-player ctl [--socket PATH] play|stop|next|seek SECONDS|disable|enable|\n"
    "                     reload [FILE]|quit|status|advance MS\n";

int Usage(const std::string& problem) {
  std::cerr << "zorva-player: " << problem << "\n" << kUsage;
  return 2;
}

PlayerServer* theServer = nullptr;

extern "C" void OnSignal(int) {
  if (theServer) theServer->Stop();
}

// A whole number; one beyond a long is as far as a long goes.
bool ParseNumber(const std::string& text, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0') return false;
  *out = value;
  return true;
}

// A library file, or a folder of audio files.
LibraryData LoadPath(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return LoadLibraryFolder(path);
  return LoadLibraryXml(path);
}

int Serve(const std::vector<std::string>& args) {
  std::string library, folder, socket = PlayerSocketPath();
  bool manual = false;
  long major = 1, minor = 10;
  int sources = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (a == "--library" || a == "--folder" || a == "--socket" || a == "--version") {
      auto v = value();
      if (!v) return Usage(a + " needs a value");
      if (a == "--library")
        library = *v, ++sources;
      else if (a == "--folder")
        folder = *v, ++sources;
      else if (a == "--socket")
        socket = *v;
      else {
        const size_t dot = v->find('.');
        if (dot == std::string::npos || !ParseNumber(v->substr(0, dot), &major) ||
            !ParseNumber(v->substr(dot + 1), &minor))
          return Usage("--version needs MAJOR.MINOR");
      }
    } else if (a == "--sample") {
      ++sources;
    } else if (a == "--manual-clock") {
      manual = true;
    } else {
      return Usage("unknown option " + a);
    }
  }
  if (sources > 1) return Usage("give one of --library, --folder and --sample");

  // The library the server starts with is also what a plain "reload" reads again.
  std::function<LibraryData()> original;
  std::string what;
  if (!library.empty()) {
    const std::string path = std::filesystem::absolute(library).string();
    original = [path] { return LoadLibraryXml(path); };
    what = path;
  } else if (!folder.empty()) {
    const std::string path = std::filesystem::absolute(folder).string();
    original = [path] { return LoadLibraryFolder(path); };
    what = path;
  } else {
    original = [] { return MakeSampleLibrary(); };
    what = "the sample library";
  }

  platform::ManualClock manualClock;
  std::optional<platform::ScopedClock> scopedClock;
  if (manual) scopedClock.emplace(manualClock);

  try {
    PlayerModel model(original());
    model.SetVersion(major, minor);
    PlayerServer server(model, socket);
    if (manual) server.SetManualClock(&manualClock);
    server.SetReloader([original](const std::string& file) { return file.empty() ? original() : LoadPath(file); });
    server.Listen();
    theServer = &server;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const PlayerStatus status = model.Status();
    std::cout << "zorva-player: serving " << what << " (" << status.trackCount << " tracks, " << status.playlistCount
              << " playlists) on " << socket << std::endl;
    int rc = server.Run();
    theServer = nullptr;
    return rc;
  } catch (const std::exception& e) {
    theServer = nullptr;
    std::cerr << "zorva-player: " << e.what() << "\n";
    return 1;
  }
}

int Control(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::string socket = PlayerSocketPath();
  if (args.size() >= 2 && args[0] == "--socket") {
    socket = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) return Usage("ctl needs a command");
  const std::string command = args[0];
  json request = {{"id", 1}, {"op", "ctl." + command}, {"args", json::object()}};
  // A count of 0 or more.
  auto needNumber = [&](const char* key, const char* unit) -> std::optional<std::string> {
    long n = 0;
    if (args.size() != 2 || !ParseNumber(args[1], &n)) return command + " needs " + unit;
    if (n < 0) return command + " needs 0 or more " + unit + ", not " + args[1];
    request["args"][key] = n;
    return std::nullopt;
  };
  if (command == "seek") {
    if (auto problem = needNumber("seconds", "SECONDS")) return Usage(*problem);
  } else if (command == "advance") {
    if (auto problem = needNumber("ms", "MS")) return Usage(*problem);
  } else if (command == "reload") {
    if (args.size() > 2) return Usage("reload takes at most one FILE");
    if (args.size() == 2) request["args"]["file"] = std::filesystem::absolute(args[1]).string();
  } else if (command == "play" || command == "stop" || command == "next" || command == "disable" ||
             command == "enable" || command == "quit" || command == "status") {
    if (args.size() != 1) return Usage(command + " takes no argument");
  } else {
    return Usage("unknown command " + command);
  }

  std::string refused;
  platform::UniqueFd fd(ConnectToPlayer(socket, &refused));
  if (!fd.IsDefined()) {
    std::cerr << "zorva-player: " << (refused.empty() ? "no player runs at " + socket : refused) << "\n";
    return 1;
  }
  std::string buffer, line;
  bool ok = SendAll(fd.Get(), ToProtocolLine(request)) && ReadLine(fd.Get(), buffer, &line);
  fd.Reset();
  if (!ok) {
    std::cerr << "zorva-player: the player at " << socket << " did not answer\n";
    return 1;
  }
  json answer = json::parse(line, nullptr, false);
  auto hr = answer.is_object() ? answer.find("hr") : answer.end();
  if (!answer.is_object() || hr == answer.end() || !hr->is_number_integer()) {
    std::cerr << "zorva-player: a garbled answer\n";
    return 1;
  }
  if (hr->get<HRESULT>() < 0) {
    auto error = answer.find("error");
    std::cerr << "zorva-player: "
              << (error != answer.end() && error->is_string() ? error->get<std::string>() : "failed") << "\n";
    return 1;
  }
  if (auto result = answer.find("result"); result != answer.end() && result->is_object())
    if (auto text = result->find("text"); text != result->end() && text->is_string())
      std::cout << text->get<std::string>();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command");
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "serve") return Serve(args);
  if (command == "ctl") return Control(args);
  if (command == "--help" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  return Usage("unknown command " + command);
}
