// The sample music that Zorva's own MPD plays for a user without music:
// every song sounds for its whole length.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TempFolder.h"

namespace {

constexpr int kRate = 8000;

// The RMS of each whole second of one channel of `file`, decoded by sox.
std::vector<double> RmsPerSecond(const std::string& file) {
  const std::string command = "sox '" + file + "' -t raw -e signed -b 16 -c 1 -r " + std::to_string(kRate) + " -";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  std::vector<double> seconds;
  if (!pipe) return seconds;
  std::vector<short> samples(kRate);
  while (std::fread(samples.data(), sizeof(short), samples.size(), pipe.get()) == samples.size()) {
    double sum = 0;
    for (short s : samples) sum += (s / 32768.0) * (s / 32768.0);
    seconds.push_back(std::sqrt(sum / kRate));
  }
  return seconds;
}

TEST(SampleMusic, EverySongSoundsForItsWholeLength) {
  zorva_test::TempFolder folder;
  ASSERT_EQ(std::system(("'" ZORVA_SAMPLE_SCRIPT "' '" + folder.File("music") + "'").c_str()), 0);
  int songs = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.File("music"))) {
    if (entry.path().extension() != ".ogg") continue;
    ++songs;
    const std::vector<double> rms = RmsPerSecond(entry.path());
    EXPECT_GE(rms.size(), 15u) << entry.path();
    for (std::size_t second = 0; second < rms.size(); ++second)
      EXPECT_GT(rms[second], 0.02) << entry.path() << " second " << second;
  }
  EXPECT_EQ(songs, 8);
}

}  // namespace
