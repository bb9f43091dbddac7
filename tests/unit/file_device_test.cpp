// The file device of this system: dropping the cached pages of a file really leaves none of
// them in the kernel's page cache, and what was written is on the device afterwards.
#include "platform/file_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "support/files.h"
#include "support/temp_dir.h"

namespace fw {
namespace {

using test::Bytes;

// How many of the file's pages the kernel holds in its cache.
std::size_t ResidentPages(const std::string& path, std::size_t bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0);
  void* map = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  EXPECT_NE(map, MAP_FAILED);
  const std::size_t pageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident((bytes + pageSize - 1) / pageSize);
  EXPECT_EQ(::mincore(map, bytes, resident.data()), 0);
  ::munmap(map, bytes);
  std::size_t count = 0;
  for (const unsigned char r : resident)
    count += r & 1u;
  return count;
}

TEST(FileDevice, DropCachedPagesLeavesNoPageOfTheFileInTheCache) {
  test::TempDir dir{"file-device"};
  const std::string path = dir.File("data.rgd");
  const std::size_t bytes = 64 * 4096;
  test::WriteBytes(path, Bytes(bytes, 0xAB));
  auto device = platform::OpenForUpdate(path);
  device->WriteAt(4096, Bytes(4096, 0xCD));  // a dirty page: it cannot be dropped unwritten
  Bytes all(bytes);
  ASSERT_EQ(device->ReadAt(0, all), bytes);
  if (ResidentPages(path, bytes) == 0)
    GTEST_SKIP() << "this file system keeps no pages in the page cache";

  device->DropCachedPages();
  EXPECT_EQ(ResidentPages(path, bytes), 0u);
  Bytes back(4096);
  ASSERT_EQ(device->ReadAt(4096, back), 4096u);
  EXPECT_EQ(back, Bytes(4096, 0xCD));

  auto reader = platform::OpenForRead(path);  // a reader without the lock may drop them too
  ASSERT_EQ(reader->ReadAt(0, all), bytes);
  reader->DropCachedPages();
  EXPECT_EQ(ResidentPages(path, bytes), 0u);
}

}  // namespace
}  // namespace fw
