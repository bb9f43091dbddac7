// Positioned, checked access to one open file: what the card data file code reads and writes
// through. Implementations live in linux/ and windows/; failures are std::system_error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <system_error>

namespace fw::platform {

// The code of an open refused because the path names something other than a regular file (a
// folder, a FIFO, a device): reading a FIFO waits for a writer forever, and a device such as
// /dev/zero never ends.
std::error_code NotRegularFileError();

class FileDevice {
 public:
  virtual ~FileDevice() = default;

  // Reads up to buffer.size() bytes at offset; returns how many were read. Fewer bytes than
  // asked (also 0) means the end of the file was reached, which is not an error.
  virtual std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) = 0;

  // Writes every byte of data at offset, or throws.
  virtual void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;

  // The current length of the file in bytes.
  virtual std::uint64_t Size() = 0;

  // Makes everything written so far durable on the device.
  virtual void Sync() = 0;

  // Makes the reads that follow come from the medium, not from the system's cache of the file:
  // flushes what was written, then drops the file's cached pages (Linux: fdatasync, then
  // posix_fadvise DONTNEED) or switches the reads to an unbuffered handle (Windows:
  // FlushFileBuffers, then FILE_FLAG_NO_BUFFERING reads). Call it again after further writes.
  // A device with no cache of its own (a test fake) only syncs.
  virtual void DropCachedPages() { Sync(); }

  // ---- Write-back of long sequential writes ----
  // So that what a long write reports as done has reached the device, and the page cache never
  // holds more than a bounded amount of it. Neither call makes the file's metadata durable: a
  // Sync() still ends the writing.

  // Asks the system to start writing the range out to the device, without waiting. A hint: it
  // may do nothing (the default).
  virtual void StartWriteBack(std::uint64_t /*offset*/, std::uint64_t /*length*/) {}

  // Returns once the data of the range written so far has reached the device (it may wait for
  // more than the range). The default makes the whole file durable.
  virtual void WaitWriteBack(std::uint64_t /*offset*/, std::uint64_t /*length*/) { Sync(); }
};

// OpenForUpdate and OpenForRead open regular files only (NotRegularFileError otherwise), and never
// wait on a FIFO.
//
// Opens an existing file for reading and writing and holds a cross-process writer lock on it for
// the life of the object: a second OpenForUpdate or CreateNew of the same file, from this or any
// other process, fails while the first is open. Readers without the lock still read.
std::unique_ptr<FileDevice> OpenForUpdate(std::string_view utf8Path);

// Opens an existing file for reading only, without any lock.
std::unique_ptr<FileDevice> OpenForRead(std::string_view utf8Path);

// Creates the file (an existing one is emptied) for reading and writing, with the writer lock.
// A file held by another writer is left untouched and the call fails.
std::unique_ptr<FileDevice> CreateNew(std::string_view utf8Path);

// Deletes the file.
void RemoveFile(std::string_view utf8Path);

// Throws std::system_error (the system's reason) unless this process may create files in the
// folder now: it exists, may be written by this user and is on a writable file system. Leaves
// nothing behind.
void CheckFolderWritable(std::string_view utf8Folder);

}  // namespace fw::platform
