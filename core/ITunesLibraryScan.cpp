// The library scan of ITunesPlayer: one pass copying the player's library
// into the music database.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "core/AppMainWindow.h"
#include "core/HtmlText.h"
#include "core/ITunesPlayer.h"
#include "core/LibraryScanThread.h"
#include "core/MusicDB.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Log.h"

namespace player = platform::player;

namespace {

constexpr DWORD kRetryWaitMs = 5000;
constexpr DWORD kPauseWaitMs = 5000;
// Per file track, so that the scan loads neither the machine nor the player.
constexpr DWORD kTrackPauseMs = 50;
constexpr long kProgressMinTracks = 20;
constexpr long kProgressSteps = 5;
// The writes of twenty tracks (on-disk marks, new rows, changed tags) go to
// the database together: one short transaction
// about once a second of scanning instead of one per track, so the other
// connections meet the write lock less often and never for long.
constexpr std::size_t kWriteBatch = 20;

// What one look at a library entry found.
enum class Visit {
  File,      // a file track with a location: `track` holds it
  Skip,      // nothing to store (no entry, another kind, no file, deleted)
  Rejected,  // the player refuses calls for now: look again later
  Failed,    // the player could not be read: the pass is incomplete
};

Visit Classify(HRESULT hr) {
  if (hr == player::ITUNES_E_OBJECTDELETED) return Visit::Skip;
  if (hr == player::RPC_E_CALL_REJECTED) return Visit::Rejected;
  return Visit::Failed;
}

Visit VisitEntry(player::IITTrackCollection& tracks, long index, Track& track) {
  std::shared_ptr<player::IITTrack> item;
  HRESULT hr = tracks.get_Item(index, &item);
  if (FAILED(hr)) return Classify(hr);
  if (!item) return Visit::Skip;
  player::ITTrackKind kind = player::ITTrackKindUnknown;
  hr = item->get_Kind(&kind);
  if (FAILED(hr)) return Classify(hr);
  if (kind != player::ITTrackKindFile) return Visit::Skip;
  ConvertITunesTrack(track, item);
  // The conversion passes over calls that fail; asking once more shows
  // whether the player answered them all, so a half-read track never
  // replaces the stored tags.
  hr = item->get_Kind(&kind);
  if (FAILED(hr)) return Classify(hr);
  return track.location.empty() ? Visit::Skip : Visit::File;
}

// The library's tracks as one pass sees them, and the rule for whether the
// pass may then delete what it did not see.
class LibraryView {
 public:
  // False when the library's tracks cannot be read: there is nothing to
  // compare with.
  bool Open(player::IiTunes& app) {
    std::shared_ptr<player::IITPlaylist> library;
    if (FAILED(app.get_LibraryPlaylist(&library)) || !library) return false;
    if (FAILED(library->get_Tracks(&tracks_)) || !tracks_) return false;
    return SUCCEEDED(tracks_->get_Count(&count_)) && count_ >= 0;
  }
  player::IITTrackCollection& Tracks() { return *tracks_; }
  long Count() const { return count_; }
  // Entries added or removed meanwhile shift the others past the ones
  // visited, so a pass over a library of another size saw only part of it.
  bool KeptSize() {
    long countAfter = 0;
    return SUCCEEDED(tracks_->get_Count(&countAfter)) && countAfter == count_;
  }
  // A library that shows no file track at all is taken for one the player
  // could not show, not for one whose every track went.
  bool MaySweep(int fileTracksSeen) { return KeptSize() && fileTracksSeen > 0; }

 private:
  std::shared_ptr<player::IITTrackCollection> tracks_;
  long count_ = 0;
};

class LibraryScan {
 public:
  LibraryScan(player::IiTunes& app, PlayerListener* owner, HANDLE quit, HANDLE pause)
      : app_(app), owner_(owner), quit_(quit), pause_(pause) {}

  void Run() {
    // The worker's own connection to the database file of theMusicDB; it
    // closes on every way out.
    MusicDB db(theMusicDB.GetPath());
    if (!db.IsOpen()) return;
    // Without the library's tracks the stored tracks stay as they are and
    // libraryChanged stays set.
    LibraryView library;
    if (!library.Open(app_)) return;
    player::IITTrackCollection& tracks = library.Tracks();
    const long count = library.Count();
    db.MarkAllTracksNotOnDisk();
    // Whatever way the pass ends, the writes kept so far are made.
    struct WriteBatch {
      explicit WriteBatch(MusicDB& batched) : db(batched) { db.BatchScanWrites(true); }
      ~WriteBatch() {
        db.FlushScanWrites();
        db.BatchScanWrites(false);
      }
      MusicDB& db;
    } batch(db);

    int lastPercent = -1;
    int added = 0;
    int fileTracks = 0;
    // A track whose mark did not reach the database would be swept.
    bool allStored = true;
    for (long i = 0; i < count; ++i) {
      while (!iTunesAvailable) {
        if (WaitForQuit(kRetryWaitMs)) return;
      }
      if (WaitForQuit(0)) return;
      if (WaitForSingleObject(pause_, 0) == WAIT_OBJECT_0) {
        Report("Paused for track change");
        do {
          Report("Paused for track change");
          if (WaitForQuit(kPauseWaitMs)) return;
        } while (WaitForSingleObject(pause_, 0) == WAIT_OBJECT_0);
        Report("Scan resumed");
        lastPercent = -1;
      }
      const int percent = static_cast<int>(i * 100 / count);
      if (percent != lastPercent) {
        Report(FormatText("%d%%", percent));
        lastPercent = percent;
      }

      Track track;
      Visit visit = VisitEntry(tracks, i + 1, track);
      while (visit == Visit::Rejected) {
        if (WaitForQuit(kRetryWaitMs)) return;
        visit = VisitEntry(tracks, i + 1, track);
      }
      // A track that could not be read is not on disk as far as this pass
      // knows; sweeping now would delete it with its tags and dumps.
      if (visit == Visit::Failed) return;
      if (visit == Visit::Skip) continue;

      ++fileTracks;
      bool stored = false;
      if (db.AddOrUpdateTrack(track, stored)) ++added;
      if (!stored) allStored = false;
      if (db.PendingScanWrites() >= kWriteBatch && !db.FlushScanWrites()) allStored = false;
      // Repeats after every file track while `added` stays on a step.
      if (added > 0 && count > kProgressMinTracks && added % (count / kProgressSteps) == 0) {
        PostToAppMainWindow(WM_APP_SCAN_PROGRESS);
      }
      Sleep(kTrackPauseMs);
    }

    if (!db.FlushScanWrites()) allStored = false;
    // The next pass stores what this one could not, and sweeps then.
    if (!library.KeptSize() || !allStored) return;
    if (!library.MaySweep(fileTracks)) {
      Report("Done");
      return;
    }
    libraryChanged = false;
    const int deleted = db.DeleteTracksNotOnDisk();
    const std::string status =
        added >= 1 ? FormatText("Done, %d tracks added, %d tracks deleted", added, deleted) : "Done";
    if (added > 0) PostToAppMainWindow(WM_APP_SCAN_ADDED);
    Report(status);
  }

 private:
  // True when quit is asked for (or cannot be waited on any more).
  bool WaitForQuit(DWORD timeoutMs) { return WaitForSingleObject(quit_, timeoutMs) != WAIT_TIMEOUT; }

  void Report(const std::string& text) { ReportScanStatus(owner_, text); }

  player::IiTunes& app_;
  PlayerListener* owner_;
  HANDLE quit_;
  HANDLE pause_;
};

}  // namespace

bool ITunesPlayer::ShowsWholeLibraryDuring(const std::function<void()>& read) {
  LibraryView library;
  const bool opened = iTunes_ && library.Open(*iTunes_);
  // One file track is enough; an entry that cannot be read now counts as none.
  int fileTracks = 0;
  for (long i = 1; opened && fileTracks == 0 && i <= library.Count(); ++i) {
    Track track;
    const Visit visit = VisitEntry(library.Tracks(), i, track);
    if (visit == Visit::File) ++fileTracks;
    if (visit == Visit::Rejected || visit == Visit::Failed) break;
  }
  read();
  return opened && library.MaySweep(fileTracks);
}

void ITunesPlayer::ScanLibrary(HANDLE quitEvent, HANDLE pauseEvent) {
  if (!libraryChanged || !iTunesAvailable) return;
  if (!iTunes_) return;
  try {
    LibraryScan(*iTunes_, owner_, quitEvent, pauseEvent).Run();
  } catch (...) {
    platform::LogFailure("ITunesPlayer::ScanLibrary");
    // A scan that failed part-way leaves libraryChanged set: the next one
    // starts over.
  }
}
