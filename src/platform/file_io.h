#pragma once
// Moving bytes between files and memory on descriptors: whole reads and writes, copies, syncs, reads
// through a mapping and writes past the page cache. The one place of the platform that does it;
// opening, creating and naming files is safe_file.h's.
//
// Each call moves every byte it is asked for, going on after signals and short transfers, or fails.
// Two forms:
// - errno form (ReadFully, WriteFully, CopyBytes, SyncFolder): the errno value of a failure, for
//   callers that tell failures in words of their own (AtomicFile, the copier's files);
// - raising form (ReadAt, WriteAt, WriteAll, CopyRange, Sync, Mapping, DirectWriter):
//   a failure is raised as the tools' error of its errno for the kind of file (os_error.h), naming
//   the file and what was being done: "Disk full: 'C:\QVData\x.mdb' (write: No space left on device)".
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "platform/os_error.h"

namespace platform {

inline constexpr std::int64_t kAtPosition = -1;     // an offset: the file's own position, moved on
inline constexpr std::uint64_t kToEnd = UINT64_MAX;  // a size: up to where the source ends

// ---- errno form ----

// Reads up to `size` bytes at `offset`, fewer only where the file ends: the count, or -1 with errno set.
ssize_t ReadFully(int fd, void *data, std::size_t size, std::int64_t offset = kAtPosition);

// Writes every byte at `offset`: 0, or the errno value of the failure (ENOSPC for a write that the
// file system took nothing of).
int WriteFully(int fd, const void *data, std::size_t size, std::int64_t offset = kAtPosition);

// Copies `size` bytes of `from` (kToEnd: up to its end) to `to`, at `offset` in both files or from
// each file's position on: in the kernel where the two files allow it, else through a buffer.
struct CopyResult {
    std::uint64_t copied = 0;
    int err = 0;           // 0: none
    bool reading = false;  // the failure was reading `from` (else writing `to`)
};
CopyResult CopyBytes(int from, int to, std::uint64_t size = kToEnd, std::int64_t offset = kAtPosition);

// Syncs the folder open as `dirfd` (O_PATH will do), so that names made or removed in it last. 0 or
// the errno value; a file system that cannot sync folders is no failure.
int SyncFolder(int dirfd);

// ---- raising form ----

// A file that ends before `size` bytes fails with EIO (another program cut it short).
void ReadAt(int fd, void *data, std::size_t size, std::uint64_t offset, const std::filesystem::path &file,
            OsContext context = OsContext::File);
void WriteAt(int fd, const void *data, std::size_t size, std::uint64_t offset, const std::filesystem::path &file,
             OsContext context = OsContext::File);
// At the file's position (the end, for a file open with O_APPEND).
void WriteAll(int fd, const void *data, std::size_t size, const std::filesystem::path &file,
              OsContext context = OsContext::File);
// CopyBytes; a source that ends before `size` bytes fails with EIO.
void CopyRange(int from, int to, std::uint64_t size, std::int64_t offset, const std::filesystem::path &source,
               const std::filesystem::path &target, OsContext context = OsContext::File);
// fdatasync: the data and the size.
void Sync(int fd, const std::filesystem::path &file, OsContext context = OsContext::File);
// Starts writing `size` bytes at `offset` out to the disk without waiting for them, so that the Sync
// that follows waits for less; a hint that never fails (the Sync tells).
void StartWriteOut(int fd, std::uint64_t offset, std::uint64_t size);

// A read-only mapping of the first `size` bytes of a file, read from start to end; raises when the
// file is shorter. Reads through it cost no copy and, as Done lets go of what was read, push no other
// file's pages out of the cache. A read past the end of a file that another program cut short
// meanwhile raises SIGBUS: callers read mappings of such files under a watch that catches it
// (dbfile_cut.cpp).
class Mapping {
public:
    Mapping(int fd, std::uint64_t size, const std::filesystem::path &file, OsContext context = OsContext::File);
    ~Mapping();
    Mapping(const Mapping &) = delete;
    Mapping &operator=(const Mapping &) = delete;
    const unsigned char *data() const { return data_; }
    // What lies before `offset` will not be read again: let go of it (the file's pages stay cached).
    void Done(std::uint64_t offset);

private:
    unsigned char *data_ = nullptr;
    std::uint64_t size_ = 0, done_ = 0;
};

// Writes a new file from its start, past the page cache where the file system allows it (O_DIRECT):
// for a large file that is written once and seldom read, whose pages would only push others out of
// the cache. On the machines measured (bench/README.md) this writes a gigabyte in about half the
// time that buffered writes and a sync take. What does not fill a whole block at the end is written
// through the cache.
class DirectWriter {
public:
    DirectWriter(int fd, const std::filesystem::path &file, OsContext context = OsContext::File);
    ~DirectWriter();
    DirectWriter(const DirectWriter &) = delete;
    DirectWriter &operator=(const DirectWriter &) = delete;
    // Room for `size` more bytes (at most kChunk) after what was written so far, to be filled now.
    unsigned char *Room(std::size_t size);
    void Append(const void *data, std::size_t size);
    // Writes what is left; the file takes ordinary writes afterwards.
    void Finish();

    static constexpr std::size_t kChunk = 4 << 20;

private:
    void WriteOut(std::size_t bytes);
    void Buffered();
    int fd_;
    std::filesystem::path file_;
    OsContext context_;
    bool direct_ = false;
    unsigned char *buffer_;
    std::size_t used_ = 0;
    std::uint64_t offset_ = 0;
};

}  // namespace platform
