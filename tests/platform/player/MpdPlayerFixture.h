// What the tests of the player layer on a real MPD share: a view of a
// track, the tracks of a playlist, a sink that records the events, and the
// fixture of an MPD on four generated songs.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/player/ITunes.h"
#include "tests/platform/player/MpdTestSupport.h"

namespace zorva_test {

namespace pp = platform::player;

struct TrackView {
  std::string name, artist, genre, location, time;
  long id = 0;
  pp::ITTrackKind kind = pp::ITTrackKindUnknown;
};

inline TrackView View(const std::shared_ptr<pp::IITTrack>& track) {
  TrackView v;
  if (!track) return v;
  track->get_Name(&v.name);
  track->get_Artist(&v.artist);
  track->get_Genre(&v.genre);
  track->get_Time(&v.time);
  track->get_TrackDatabaseID(&v.id);
  track->get_Kind(&v.kind);
  if (auto file = pp::QueryInterface<pp::IITFileOrCDTrack>(track)) file->get_Location(&v.location);
  return v;
}

// Every track of a playlist, in order.
inline std::vector<TrackView> Tracks(const std::shared_ptr<pp::IITPlaylist>& playlist) {
  std::vector<TrackView> out;
  std::shared_ptr<pp::IITTrackCollection> tracks;
  if (!playlist || FAILED(playlist->get_Tracks(&tracks)) || !tracks) return out;
  long count = 0;
  tracks->get_Count(&count);
  for (long i = 1; i <= count; ++i) {
    std::shared_ptr<pp::IITTrack> track;
    tracks->get_Item(i, &track);
    out.push_back(View(track));
  }
  return out;
}

inline std::map<std::string, long> IdsByLocation(const std::shared_ptr<pp::IiTunes>& app) {
  std::shared_ptr<pp::IITPlaylist> library;
  app->get_LibraryPlaylist(&library);
  std::map<std::string, long> ids;
  for (const TrackView& t : Tracks(library)) ids[t.location] = t.id;
  return ids;
}

// The events a sink received, by id, with the names of their tracks.
class RecordingSink : public pp::IiTunesEvents {
 public:
  HRESULT Invoke(pp::DISPID id, const std::vector<pp::EventArg>& args) override {
    if (id == pp::ITEventDatabaseChanged) {
      ++databaseChanges;
      if (args.size() == 2) {
        if (auto rows = std::get_if<pp::ObjectIDRows>(&args[0])) deletedRows += rows->size();
        if (auto rows = std::get_if<pp::ObjectIDRows>(&args[1]))
          for (const auto& row : *rows) changedIds.insert(row[3]);
      }
      return S_OK;
    }
    std::string name;
    if (!args.empty())
      if (auto object = std::get_if<std::shared_ptr<pp::IITObject>>(&args[0]); object && *object) {
        (*object)->get_Name(&name);
        if (auto track = pp::QueryInterface<pp::IITTrack>(*object); track && id == pp::ITEventPlayerPlay) {
          long index = 0;
          track->get_PlayOrderIndex(&index);
          played.emplace_back(name, index);
        }
      }
    if (id == pp::ITEventAboutToPromptUserToQuit && !args.empty())
      if (auto number = std::get_if<long>(&args[0])) lostWords += *number == pp::kPlayerLost;
    events.emplace_back(id, name);
    return S_OK;
  }
  std::size_t Count(pp::DISPID id) const {
    std::size_t n = 0;
    for (const auto& e : events) n += e.first == id;
    return n;
  }
  std::vector<std::pair<pp::DISPID, std::string>> events;
  std::vector<std::pair<std::string, long>> played;  // the play events' tracks and places
  int lostWords = 0;                                 // about-to-quit events that say the player was lost
  int databaseChanges = 0;
  std::size_t deletedRows = 0;
  std::set<long> changedIds;
};

// The sink advised on the application object for the life of the guard.
class Advised {
 public:
  Advised(const std::shared_ptr<pp::IiTunes>& app, pp::IiTunesEvents* sink) {
    pp::QueryInterface<pp::IConnectionPointContainer>(app)->FindConnectionPoint(pp::DIID_IiTunesEvents, &point_);
    result_ = point_ ? point_->Advise(sink, &cookie_) : E_FAIL;
  }
  ~Advised() { Unadvise(); }
  Advised(const Advised&) = delete;
  Advised& operator=(const Advised&) = delete;
  HRESULT Result() const { return result_; }
  HRESULT Unadvise() {
    if (FAILED(result_)) return result_;
    result_ = E_FAIL;
    return point_->Unadvise(cookie_);
  }

 private:
  std::shared_ptr<pp::IConnectionPoint> point_;
  DWORD cookie_ = 0;
  HRESULT result_ = E_FAIL;
};

class MpdPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 1; i <= 4; ++i)
      ASSERT_TRUE(zorva_test::MakeSong(mpd_.Music() + "/Kiri/t" + std::to_string(i) + ".ogg",
                                       "Tone " + std::to_string(i), "Kiri", i % 2 ? "Ambient" : "Folk",
                                       i == 4 ? 1.5 : 2.5, 300 + 50 * i));
    mpd_.Start();
  }

  std::shared_ptr<pp::IiTunes> App() {
    std::shared_ptr<pp::IiTunes> app;
    EXPECT_EQ(pp::CoCreateITunesApp(&app), S_OK);
    return app;
  }

  std::shared_ptr<pp::IITUserPlaylist> NewPlaylist(const std::shared_ptr<pp::IiTunes>& app, const std::string& name) {
    std::shared_ptr<pp::IITPlaylist> playlist;
    EXPECT_EQ(app->CreatePlaylist(name, &playlist), S_OK);
    return pp::QueryInterface<pp::IITUserPlaylist>(playlist);
  }

  struct NewSong {
    std::string path, title, artist, genre;
    double seconds = 0;
    int tone = 0;
  };

  // Makes the songs, then has MPD read them in.
  void AddSongs(const std::vector<NewSong>& songs) {
    for (const NewSong& s : songs)
      ASSERT_TRUE(zorva_test::MakeSong(s.path, s.title, s.artist, s.genre, s.seconds, s.tone)) << s.path;
    mpd_.Update();
  }

  std::string Song(int i) const { return mpd_.Music() + "/Kiri/t" + std::to_string(i) + ".ogg"; }

  TestMpd mpd_;
};

// Sets a file's modification time (seconds since 1970, negative before).
inline void SetFileTime(const std::string& path, long seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

}  // namespace zorva_test
