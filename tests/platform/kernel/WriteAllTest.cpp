#include "platform/kernel/WriteAll.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "platform/kernel/UniqueFd.h"

namespace {

// More than a pipe holds at once, so the writes come back partial.
TEST(WriteAllTest, WritesAllOfABufferLargerThanAPipeHolds) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  platform::UniqueFd reader(ends[0]);
  platform::UniqueFd writer(ends[1]);
  std::string data(1 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  std::string got;
  std::thread reading([&] {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(reader.Get(), buffer, sizeof buffer)) > 0) got.append(buffer, static_cast<std::size_t>(n));
  });
  const bool written = platform::WriteAll(writer.Get(), data);
  writer.Reset();
  reading.join();
  EXPECT_TRUE(written);
  EXPECT_EQ(got, data);
}

TEST(WriteAllTest, AFailedWriteIsReported) {
  platform::UniqueFd readOnly(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(readOnly.IsDefined());
  errno = 0;
  EXPECT_FALSE(platform::WriteAll(readOnly.Get(), "text"));
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(platform::WriteAll(-1, "text"));
  // Nothing to write is done at once.
  EXPECT_TRUE(platform::WriteAll(-1, ""));
}

}  // namespace
