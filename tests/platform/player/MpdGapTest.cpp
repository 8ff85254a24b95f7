// What a listener hears between two tracks that the program hands MPD one at
// a time, as it plays a mix: MPD plays into a PulseAudio of the test's own
// with a null sink, whose monitor is recorded with parec at its default
// latency (as a desktop plays; a low-latency recorder would make the whole
// sink low-latency and hide a gap), and the silences are measured.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/player/ITunes.h"
#include "platform/player/mpd/MpdPlayer.h"
#include "tests/platform/player/MpdTestSupport.h"

namespace {

namespace pp = platform::player;
using zorva_test::ChildProcess;
using zorva_test::PumpUntil;
using zorva_test::ScopedEnv;
using zorva_test::TempFolder;
using zorva_test::TestMpd;

// The silences inside a 16-bit PCM WAV file (between its first and last
// sound), in seconds, measured in windows of 10 ms; `betweenTracks` gets
// those where the tone changes, that is where one track gave way to the
// next. A loaded machine may starve the sound server within a track too;
// that is no silence between tracks.
std::vector<double> Silences(const std::string& path, double* heard, std::vector<double>* betweenTracks) {
  *heard = 0;
  betweenTracks->clear();
  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<double> gaps;
  if (bytes.size() < 44) return gaps;
  auto u16 = [&](std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1])
                                                                             << 8);
  };
  auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  unsigned channels = 2, rate = 44100;
  std::size_t at = 12, data = 0;
  while (at + 8 <= bytes.size()) {
    const std::string id(&bytes[at], 4);
    const std::size_t size = u32(at + 4);
    if (id == "fmt ") {
      channels = u16(at + 10);
      rate = u32(at + 12);
    } else if (id == "data") {
      data = at + 8;
      break;
    }
    at += 8 + size;
  }
  if (data == 0 || channels == 0) return gaps;
  const std::size_t window = rate / 100 * channels * 2;
  std::vector<bool> loud;
  std::vector<int> crossings;  // of the first channel: twice the tone's cycles
  for (std::size_t w = data; w + window <= bytes.size(); w += window) {
    double sum = 0;
    int crossed = 0;
    int16_t last = 0;
    for (std::size_t s = w; s < w + window; s += channels * 2) {
      const auto sample = static_cast<int16_t>(u16(s));
      sum += static_cast<double>(sample) * sample;
      if (s > w && (sample < 0) != (last < 0)) ++crossed;
      last = sample;
    }
    loud.push_back(std::sqrt(sum / (window / channels / 2)) > 300);
    crossings.push_back(crossed);
  }
  // The tone, in Hz, of the sound in windows [from, to).
  auto tone = [&](std::size_t from, std::size_t to) {
    int crossed = 0, windows = 0;
    for (std::size_t i = from; i < to; ++i)
      if (loud[i]) {
        crossed += crossings[i];
        ++windows;
      }
    return windows ? crossed * 50.0 / windows : 0.0;
  };
  std::size_t silent = 0;
  bool begun = false;
  for (std::size_t i = 0; i < loud.size(); ++i) {
    if (loud[i]) {
      *heard += 0.01;
      if (begun && silent > 0) {
        gaps.push_back(silent / 100.0);
        const std::size_t start = i - silent;
        const double before = tone(start >= 10 ? start - 10 : 0, start);
        const double after = tone(i, std::min(i + 10, loud.size()));
        if (std::abs(before - after) > 50) betweenTracks->push_back(silent / 100.0);
      }
      begun = true;
      silent = 0;
    } else if (begun) {
      ++silent;
    }
  }
  return gaps;
}

// Hands the next song over at each end of one, as the program's window does
// (PlayFile at the stop event), holding the one after it. `lost` tells a
// player lost on the way.
class HandOver : public pp::IiTunesEvents {
 public:
  HandOver(std::shared_ptr<pp::IiTunes> app, std::vector<std::string> songs)
      : app_(std::move(app)), songs_(std::move(songs)) {}
  void Start() { Play(); }
  HRESULT Invoke(pp::DISPID id, const std::vector<pp::EventArg>&) override {
    if (id == pp::ITEventQuitting) lost = true;
    if (id != pp::ITEventPlayerStop) return S_OK;
    if (ownStops_ > 0) {
      --ownStops_;
      return S_OK;
    }
    if (next_ < songs_.size())
      Play();
    else
      ended = true;
    return S_OK;
  }
  bool ended = false;
  bool lost = false;

 private:
  void Play() {
    pp::ITPlayerState state = pp::ITPlayerStateStopped;
    app_->get_PlayerState(&state);
    if (state == pp::ITPlayerStatePlaying) ++ownStops_;
    const HRESULT played = app_->PlayFile(songs_[next_++]);
    const HRESULT held = app_->QueueNextFile(next_ < songs_.size() ? songs_[next_] : std::string());
    if (played == pp::RPC_E_DISCONNECTED || held == pp::RPC_E_DISCONNECTED) lost = true;
  }
  std::shared_ptr<pp::IiTunes> app_;
  std::vector<std::string> songs_;
  std::size_t next_ = 0;
  int ownStops_ = 0;
};

std::uintmax_t SizeOf(const std::string& path) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

// One run: the songs handed over one at a time, from a new application
// object, recorded from the sink's monitor once the recorder records. False
// when the player was lost on the way: MPD did not answer within the
// layer's bound for a lost player, as a machine under heavy load has made
// it, and such a run tells nothing of what is heard.
bool RecordHandOver(TestMpd& mpd, const std::vector<std::string>& songs, const std::string& recording) {
  std::filesystem::remove(recording);
  ChildProcess parec({"/usr/bin/parec", "-d", "zsink.monitor", "--file-format=wav", recording});
  EXPECT_TRUE(parec.Started());
  // The sink's monitor gives silence while nothing plays: data past the
  // header is a recorder that records.
  EXPECT_TRUE(PumpUntil([&] { return SizeOf(recording) > 44; }));
  // Each step that MPD does not answer in time loses the player.
  std::shared_ptr<pp::IiTunes> app;
  std::shared_ptr<pp::IConnectionPoint> point;
  DWORD cookie = 0;
  if (pp::CoCreateITunesApp(&app) == S_OK)
    pp::QueryInterface<pp::IConnectionPointContainer>(app)->FindConnectionPoint(pp::DIID_IiTunesEvents, &point);
  HandOver handOver(app, songs);
  if (point && point->Advise(&handOver, &cookie) == S_OK) {
    handOver.Start();
    // The songs play in real time; the bound leaves a loaded machine a minute more.
    EXPECT_TRUE(
        PumpUntil([&] { return handOver.ended || handOver.lost; }, std::chrono::seconds(60 + 10 * songs.size())));
    point->Unadvise(cookie);
  } else {
    handOver.lost = true;
  }
  ::kill(parec.Pid(), SIGINT);  // it ends its file and quits
  parec.Wait();
  if (auto c = mpd.Open()) mpd_run_stop(c.get());
  if (handOver.lost) std::printf("the player was lost on the way (MPD did not answer in time): run again\n");
  return handOver.ended && !handOver.lost;
}

TEST(MpdGapTest, TracksHandedOverOneAtATimeFollowEachOtherWithoutSilence) {
  TempFolder runtime;
  ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.File("run"));
  std::filesystem::create_directories(runtime.File("run"));
  std::filesystem::permissions(runtime.File("run"), std::filesystem::perms::owner_all);
  ChildProcess pulse({"/usr/bin/pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                      "--use-pid-file=no", "-L", "module-null-sink sink_name=zsink", "-L",
                      "module-native-protocol-unix"});
  ASSERT_TRUE(pulse.Started());
  const std::string socket = runtime.File("run") + "/pulse/native";
  ASSERT_TRUE(PumpUntil([&] { return std::filesystem::exists(socket); }));

  TestMpd mpd("", "audio_output {\n  type \"pulse\"\n  name \"desktop\"\n  server \"unix:" + socket + "\"\n}\n");
  // Each song outlasts the hand-over: under load MPD with this output has
  // taken seconds to answer the commands of one, and the next song is held
  // only once they are done.
  constexpr int kSeconds = 8;
  std::vector<std::string> songs;
  for (int i = 1; i <= 3; ++i) {
    songs.push_back(mpd.Music() + "/Kiri/s" + std::to_string(i) + ".ogg");
    ASSERT_TRUE(
        zorva_test::MakeSong(songs.back(), "Song " + std::to_string(i), "Kiri", "Ambient", kSeconds, 300 + 100 * i));
  }
  mpd.Start();

  // A run that lost the player is made again: what is measured comes from
  // a whole run.
  constexpr int kRuns = 3;
  const std::string recording = runtime.File("heard.wav");
  bool whole = false;
  for (int run = 0; run < kRuns && !whole && !HasFailure(); ++run) whole = RecordHandOver(mpd, songs, recording);
  ASSERT_TRUE(whole) << "no whole run in " << kRuns;

  double heard = 0;
  std::vector<double> betweenTracks;
  const std::vector<double> gaps = Silences(recording, &heard, &betweenTracks);
  std::printf("heard %.2f s of %d s\n", heard, 3 * kSeconds);
  for (double gap : gaps) std::printf("silence: %.2f s\n", gap);
  for (double gap : betweenTracks) std::printf("silence between tracks: %.2f s\n", gap);
  EXPECT_GT(heard, 3 * kSeconds - 1.5);
  for (double gap : betweenTracks) EXPECT_LT(gap, 0.3);
}

}  // namespace
