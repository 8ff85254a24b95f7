#include "core/LibraryScanThread.h"

#include <atomic>

#include "core/ITunesPlayer.h"
#include "core/MusicDB.h"
#include "core/PlaylistSync.h"
#include "core/Settings.h"
#include "core/VersionCheck.h"
#include "platform/kernel/LastError.h"
#include "core/PlayerListener.h"
#include "platform/kernel/Log.h"

namespace {

constexpr const char* kQuitEvent = "quitthread";
constexpr const char* kCleanupDoneEvent = "cleanupdone";
constexpr const char* kScanPausedEvent = "scanningpasued";

constexpr DWORD kFirstPauseMs = 180000;
constexpr DWORD kBetweenScansMs = 3600000;
constexpr DWORD kStopWaitMs = 100000;
// Whether a worker runs is looked at, not waited for: the interface thread
// asks (the settings page as it loads), and any wait would hold it until a
// clock moved by hand is moved on.
constexpr DWORD kRunningTestMs = 0;

// The first worker of the process has passed its start-up pause.
std::atomic<bool> firstPauseDone{false};
// Pause was called and Resume not yet.
std::atomic<bool> scanPaused{false};

thread_local ScanStatusLink* currentLink = nullptr;

HANDLE NamedEvent(const char* name, BOOL initialState) { return CreateEvent(nullptr, TRUE, initialState, name); }

// Sets "cleanupdone" however the worker's body ends: while it is not set no
// later worker can start.
class CleanupDone {
 public:
  explicit CleanupDone(HANDLE event) : event_(event) {}
  ~CleanupDone() { SetEvent(event_); }
  CleanupDone(const CleanupDone&) = delete;
  CleanupDone& operator=(const CleanupDone&) = delete;

 private:
  HANDLE event_;
};

}  // namespace

void ScanStatusLink::Report(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (owner_) owner_->SetScanStatus(text);
}

void ScanStatusLink::Cut() {
  std::lock_guard<std::mutex> lock(mutex_);
  owner_ = nullptr;
}

ScopedScanStatusLink::ScopedScanStatusLink(ScanStatusLink* link) : previous_(currentLink) { currentLink = link; }

ScopedScanStatusLink::~ScopedScanStatusLink() { currentLink = previous_; }

void ReportScanStatus(PlayerListener* owner, const std::string& text) {
  if (currentLink) {
    currentLink->Report(text);
  } else if (owner) {
    owner->SetScanStatus(text);
  }
}

DWORD LibraryScanThreadProc(ScanWorkerContext& context) {
  CleanupDone cleanup(context.cleanupDone.Get());
  ScopedScanStatusLink status(context.link.get());
  const HANDLE quit = context.quit.Get();
  try {
    ReportScanStatus(nullptr, "Starting up");
    bool stop = false;
    // A database made at this start is filled at once.
    if (!theMusicDB.IsNewDatabase()) {
      ReportScanStatus(nullptr, "Pausing before first scan");
      VersionCheck check;
      check.CheckForUpdate();
      if (!firstPauseDone.load()) {
        if (!theSettings.GetScanLib()) {
          stop = true;
        } else if (WaitForSingleObject(quit, kFirstPauseMs) != WAIT_TIMEOUT) {
          stop = true;
        }
        firstPauseDone.store(true);
      }
    }
    if (!stop) {
      ReportScanStatus(nullptr, "Connecting to iTunes");
      // Status texts go through the link, never through the player's owner.
      ITunesPlayer player(nullptr);
      player.Connect(false);
      PlaylistSync().SetPlayer(&player).SyncPlaylistMixes();
      for (;;) {
        player.ScanLibrary(quit, context.scanPaused.Get());
        ReportScanStatus(nullptr, "Scan complete, pausing between scans");
        if (!theSettings.GetScanLib()) break;
        if (WaitForSingleObject(quit, kBetweenScansMs) != WAIT_TIMEOUT) break;
      }
    }
    ReportScanStatus(nullptr, "Stopped");
  } catch (...) {
    platform::LogFailure("LibraryScanThread::LibraryScanThreadProc");
    // The scan and the sync swallow their own failures; whatever else went
    // wrong, the worker still ends in order.
    try {
      ReportScanStatus(nullptr, "Stopped");
    } catch (...) {
      platform::LogFailure("LibraryScanThread::LibraryScanThreadProc");
    }
  }
  return 0;
}

LibraryScanThread::LibraryScanThread(PlayerListener* owner)
    : owner_(owner), quit_(NamedEvent(kQuitEvent, FALSE)), cleanupDone_(NamedEvent(kCleanupDoneEvent, TRUE)) {
  scanPaused_.Reset(NamedEvent(kScanPausedEvent, FALSE));
  // A fresh event is not signalled: the flag follows it.
  if (GetLastError() != ERROR_ALREADY_EXISTS) scanPaused.store(false);
}

LibraryScanThread::~LibraryScanThread() { Stop(); }

void LibraryScanThread::Start() {
  if (WaitForSingleObject(cleanupDone_.Get(), kRunningTestMs) != WAIT_OBJECT_0) return;
  ResetEvent(cleanupDone_.Get());
  ResetEvent(quit_.Get());
  auto context = std::make_shared<ScanWorkerContext>();
  link_ = std::make_shared<ScanStatusLink>(owner_);
  context->link = link_;
  context->quit.Reset(NamedEvent(kQuitEvent, FALSE));
  context->cleanupDone.Reset(NamedEvent(kCleanupDoneEvent, TRUE));
  context->scanPaused.Reset(NamedEvent(kScanPausedEvent, FALSE));
  thread_.Reset(CreateThread([context] { return LibraryScanThreadProc(*context); }, THREAD_PRIORITY_LOWEST));
  if (!thread_) {
    // No worker: nothing will set the event for it.
    SetEvent(cleanupDone_.Get());
    link_.reset();
  }
}

void LibraryScanThread::Stop() {
  if (thread_ && IsRunning()) {
    SetThreadPriority(thread_.Get(), THREAD_PRIORITY_HIGHEST);
    SignalObjectAndWait(quit_.Get(), cleanupDone_.Get(), kStopWaitMs, FALSE);
  }
  // A worker still running now ends by itself, without reaching the owner.
  if (link_) link_->Cut();
  link_.reset();
  thread_.Reset();
}

bool LibraryScanThread::IsRunning() { return WaitForSingleObject(cleanupDone_.Get(), kRunningTestMs) != WAIT_OBJECT_0; }

void LibraryScanThread::Pause() {
  if (scanPaused.load()) return;
  SetEvent(scanPaused_.Get());
  scanPaused.store(true);
}

void LibraryScanThread::Resume() {
  if (!scanPaused.load()) return;
  ResetEvent(scanPaused_.Get());
  scanPaused.store(false);
}

void LibraryScanThread::ResetProcessState() {
  firstPauseDone.store(false);
  scanPaused.store(false);
}
