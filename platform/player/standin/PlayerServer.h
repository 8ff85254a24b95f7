// The player server: serves one PlayerModel on a local socket to any number
// of clients, each with its own objects; every client that advised a sink
// receives every event. One poll loop, no busy waiting: it sleeps until a
// socket is ready or, on the system clock, until the playing track ends.
// A client that goes away (or stops reading) is dropped and costs nothing.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/kernel/Clock.h"
#include "platform/player/standin/PlayerModel.h"

namespace platform::player {

class PlayerServer {
 public:
  PlayerServer(PlayerModel& model, std::string socketPath);
  ~PlayerServer();
  PlayerServer(const PlayerServer&) = delete;
  PlayerServer& operator=(const PlayerServer&) = delete;

  // With a manual clock, time moves only through "ctl.advance"; without one
  // that command is refused.
  void SetManualClock(ManualClock* clock);
  // Loads the library for "ctl.reload": the named file or folder, or the
  // library the server started with when `file` is empty. Throws LibraryError.
  void SetReloader(std::function<LibraryData(const std::string& file)> reloader);

  // Creates the socket (owner-only; in the private folder, see PlayerSocketPath,
  // that folder too). Throws std::runtime_error naming the path when it cannot,
  // when another server already answers there, or when the private folder is
  // not private.
  void Listen();
  // Serves until the player quits or Stop is called; returns the exit code.
  int Run();
  // From any thread or a signal handler.
  void Stop();

  size_t ConnectionCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform::player
