#include "platform/kernel/ReadChunks.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/kernel/UniqueFd.h"
#include "platform/kernel/WriteAll.h"

namespace {

// More than one chunk's worth, from a file in memory.
TEST(ReadChunksTest, ReadsEveryChunkToTheEnd) {
  platform::UniqueFd file(::memfd_create("read-chunks", MFD_CLOEXEC));
  ASSERT_TRUE(file.IsDefined());
  std::string data(300000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13 + i / 241);
  ASSERT_TRUE(platform::WriteAll(file.Get(), data));
  ASSERT_EQ(::lseek(file.Get(), 0, SEEK_SET), 0);
  std::string got;
  int chunks = 0;
  EXPECT_TRUE(platform::ReadChunks(file.Get(), [&](std::string_view chunk) {
    got.append(chunk);
    ++chunks;
    return true;
  }));
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
