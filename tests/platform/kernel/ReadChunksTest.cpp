#include "platform/kernel/ReadChunks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "platform/kernel/UniqueFd.h"
#include "platform/kernel/WriteAll.h"

namespace {

// More than one chunk, through a pipe that hands it over in parts.
TEST(ReadChunksTest, ReadsEveryChunkToTheEnd) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  platform::UniqueFd reader(ends[0]);
  platform::UniqueFd writer(ends[1]);
  std::string data(300000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13 + i / 241);
  std::thread writing([&] {
    platform::WriteAll(writer.Get(), data);
    writer.Reset();
  });
  std::string got;
  int chunks = 0;
  const bool read = platform::ReadChunks(reader.Get(), [&](std::string_view chunk) {
    got.append(chunk);
    ++chunks;
    return true;
  });
  writing.join();
  EXPECT_TRUE(read);
  EXPECT_EQ(got, data);
  EXPECT_GT(chunks, 1);
}

TEST(ReadChunksTest, AFailedReadOrARefusedChunkIsReported) {
  errno = 0;
  EXPECT_FALSE(platform::ReadChunks(-1, [](std::string_view) { return true; }));
  EXPECT_EQ(errno, EBADF);
  platform::UniqueFd zero(::open("/dev/zero", O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(zero.IsDefined());
  int chunks = 0;
  EXPECT_FALSE(platform::ReadChunks(zero.Get(), [&](std::string_view) { return ++chunks < 3; }));
  EXPECT_EQ(chunks, 3);
  // An empty file is read at once, with no chunk.
  platform::UniqueFd empty(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  chunks = 0;
  EXPECT_TRUE(platform::ReadChunks(empty.Get(), [&](std::string_view) { return ++chunks > 0; }));
  EXPECT_EQ(chunks, 0);
}

}  // namespace
