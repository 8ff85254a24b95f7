// The library-scan worker and its controller. The worker refreshes the music
// database from the player's library once at start (after a pause, so that
// start-up stays responsive) and then every hour while ScanLib is on; it also
// runs the daily version check and the playlist mix synchronisation.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/kernel/Sync.h"

class PlayerListener;

// Where the worker's status texts go: the owner window, until the controller
// cuts the link. A worker that outlives Stop must never call a window that
// may have gone.
class ScanStatusLink {
 public:
  explicit ScanStatusLink(PlayerListener* owner) : owner_(owner) {}

  // The owner's SetScanStatus, unless the link was cut.
  void Report(const std::string& text);
  // No report reaches the owner after this returns (one in progress is
  // waited for).
  void Cut();

 private:
  std::mutex mutex_;
  PlayerListener* owner_;
};

// While it lives, ReportScanStatus on the constructing thread goes to `link`.
class ScopedScanStatusLink {
 public:
  explicit ScopedScanStatusLink(ScanStatusLink* link);
  ~ScopedScanStatusLink();
  ScopedScanStatusLink(const ScopedScanStatusLink&) = delete;
  ScopedScanStatusLink& operator=(const ScopedScanStatusLink&) = delete;

 private:
  ScanStatusLink* previous_;
};

// A status text of the scan: to the calling thread's link when it has one,
// else to `owner` when that is not null.
void ReportScanStatus(PlayerListener* owner, const std::string& text);

// The kernel objects one worker runs with: its own handles to the three
// named events, so that they outlive a controller that stopped waiting.
struct ScanWorkerContext {
  std::shared_ptr<ScanStatusLink> link;
  platform::UniqueHandle quit;
  platform::UniqueHandle cleanupDone;
  platform::UniqueHandle scanPaused;
};

// The worker's body; returns the thread's exit code (0).
DWORD LibraryScanThreadProc(ScanWorkerContext& context);

class LibraryScanThread {
 public:
  // Creates the three events; starts nothing.
  explicit LibraryScanThread(PlayerListener* owner);
  // Stops the worker.
  ~LibraryScanThread();
  LibraryScanThread(const LibraryScanThread&) = delete;
  LibraryScanThread& operator=(const LibraryScanThread&) = delete;

  // Starts a worker at the lowest priority unless one still runs.
  void Start();
  // Asks a running worker to stop and waits for it, at most 100 s. A worker
  // that has not ended by then is left to end by itself, cut off from the owner.
  void Stop();
  bool IsRunning();
  // Around track changes: the scan waits while paused.
  void Pause();
  void Resume();

  // Puts the process-wide start-up values back (a process that starts over,
  // and tests).
  static void ResetProcessState();

 private:
  platform::UniqueHandle thread_;
  PlayerListener* owner_;
  std::shared_ptr<ScanStatusLink> link_;
  platform::UniqueHandle quit_;
  platform::UniqueHandle cleanupDone_;
  platform::UniqueHandle scanPaused_;
};
