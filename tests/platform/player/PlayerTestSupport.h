// Shared by the player tests: temp folders, small libraries, a sink
// that records events and a bounded pump that waits on the queue.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/kernel/Messages.h"
#include "platform/player/ITunes.h"
#include "platform/player/standin/Library.h"

namespace player_test {

using namespace platform::player;

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/zorva-player-test-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Four tracks (100, 200, 300, 400 s), a plain playlist "Four" of all of
// them, a smart playlist and a URL track in the library only.
inline LibraryData SmallLibrary() {
  LibraryData lib;
  PlaylistData main;
  main.playlistId = 10;
  main.name = "Library";
  for (long i = 1; i <= 4; ++i) {
    TrackData t;
    t.databaseId = i;
    t.name = "Track " + std::to_string(i);
    t.artist = "Artist";
    t.album = "Album";
    t.genre = "Genre";
    t.location = "/music/track" + std::to_string(i) + ".mp3";
    t.rating = 20 * i;
    t.seconds = 100 * i;
    lib.tracks.push_back(t);
    main.trackIds.push_back(i);
  }
  TrackData stream;
  stream.databaseId = 5;
  stream.name = "Radio";
  stream.kind = ITTrackKindURL;
  stream.location = "http://radio.invalid/stream";
  stream.seconds = 0;
  lib.tracks.push_back(stream);
  main.trackIds.push_back(5);
  PlaylistData four;
  four.playlistId = 11;
  four.name = "Four";
  four.trackIds = {1, 2, 3, 4};
  PlaylistData smart;
  smart.playlistId = 12;
  smart.name = "Smart";
  smart.smart = true;
  smart.trackIds = {4};
  lib.playlists = {main, four, smart};
  return lib;
}

class RecordingSink : public IiTunesEvents {
 public:
  HRESULT Invoke(DISPID id, const std::vector<EventArg>& args) override {
    events.emplace_back(id, args);
    PostThreadMessage(GetCurrentThreadId(), WM_APP, 0, 0);  // wakes a waiting pump
    return S_OK;
  }
  std::vector<DISPID> Ids() const {
    std::vector<DISPID> ids;
    for (const auto& e : events) ids.push_back(e.first);
    return ids;
  }
  std::string TrackName(size_t index) const {
    const auto* object = std::get_if<std::shared_ptr<IITObject>>(&events.at(index).second.at(0));
    std::string name;
    if (object && *object) (*object)->get_Name(&name);
    return name;
  }
  std::vector<std::pair<DISPID, std::vector<EventArg>>> events;
};

// Runs the calling thread's queue until `done` holds, blocking on the queue
// between rounds. A failsafe timer ends the wait when nothing ever comes.
inline bool PumpUntil(const std::function<bool()>& done) {
  bool timedOut = false;
  HWND guard = CreateWindowHandle([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == WM_TIMER) timedOut = true;
    return 0;
  });
  SetTimer(guard, 1, 30000);
  MSG msg{};
  for (int round = 0; round < 100000 && !timedOut; ++round) {
    platform::PumpMessages();
    if (done()) break;
    if (GetMessage(&msg, nullptr, 0, 0) <= 0) break;
    DispatchMessage(&msg);
  }
  DestroyWindow(guard);
  return done();
}

}  // namespace player_test
