// Whole reads, writes and copies on descriptors, syncs, mappings and writes past the page cache.
#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBuffer = 1 << 20;  // a copy through memory, a step at a time
constexpr std::size_t kBlock = 4096;      // the alignment that writes past the page cache need

ssize_t ReadOnce(int fd, void *data, std::size_t size, std::int64_t offset) {
    return offset == kAtPosition ? ::read(fd, data, size) : ::pread(fd, data, size, static_cast<off_t>(offset));
}

ssize_t WriteOnce(int fd, const void *data, std::size_t size, std::int64_t offset) {
    return offset == kAtPosition ? ::write(fd, data, size) : ::pwrite(fd, data, size, static_cast<off_t>(offset));
}

std::int64_t Advanced(std::int64_t offset, std::uint64_t by) {
    return offset == kAtPosition ? offset : offset + static_cast<std::int64_t>(by);
}

// Through memory, for files the kernel cannot copy between.
CopyResult CopyThroughMemory(int from, int to, std::uint64_t size, std::int64_t offset, CopyResult done) {
    const std::unique_ptr<char[]> buffer(new char[kBuffer]);
    while (done.copied < size) {
        const auto step = static_cast<std::size_t>(std::min<std::uint64_t>(kBuffer, size - done.copied));
        const ssize_t n = ReadFully(from, buffer.get(), step, Advanced(offset, done.copied));
        if (n < 0) return {done.copied, errno, true};
        if (n == 0) break;
        if (const int err = WriteFully(to, buffer.get(), static_cast<std::size_t>(n), Advanced(offset, done.copied)))
            return {done.copied, err, false};
        done.copied += static_cast<std::uint64_t>(n);
        if (static_cast<std::size_t>(n) < step) break;
    }
    return done;
}

}  // namespace

ssize_t ReadFully(int fd, void *data, std::size_t size, std::int64_t offset) {
    auto *p = static_cast<char *>(data);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ReadOnce(fd, p + got, size - got, Advanced(offset, got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

int WriteFully(int fd, const void *data, std::size_t size, std::int64_t offset) {
    const auto *p = static_cast<const char *>(data);
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = WriteOnce(fd, p + done, size - done, Advanced(offset, done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

CopyResult CopyBytes(int from, int to, std::uint64_t size, std::int64_t offset) {
    CopyResult done;
    off_t in = static_cast<off_t>(offset), out = in;
    while (done.copied < size) {
        const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(size - done.copied, 1ULL << 30));
        const ssize_t n = offset == kAtPosition ? ::copy_file_range(from, nullptr, to, nullptr, step, 0)
                                                : ::copy_file_range(from, &in, to, &out, step, 0);
        if (n > 0) {
            done.copied += static_cast<std::uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) return {done.copied, errno, false};
        // Not between these files (another file system, a file open for appending, a special file that
        // reads as empty to the kernel's copy), another failure, or the end: through memory, which
        // also tells a failed read from a failed write.
        break;
    }
    return done.copied < size ? CopyThroughMemory(from, to, size, offset, done) : done;
}

int SyncFolder(int dirfd) {
    const int folder = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return errno;
    const int err = ::fsync(folder) == 0 || errno == EINVAL ? 0 : errno;
    ::close(folder);
    return err;
}

void ReadAt(int fd, void *data, std::size_t size, std::uint64_t offset, const fs::path &file, OsContext context) {
    const ssize_t n = ReadFully(fd, data, size, static_cast<std::int64_t>(offset));
    if (n < 0) RaiseOsError(errno, file, context, "read");
    if (static_cast<std::size_t>(n) < size) RaiseOsError(EIO, file, context, "read");  // shorter than it was
}

void WriteAt(int fd, const void *data, std::size_t size, std::uint64_t offset, const fs::path &file,
             OsContext context) {
    if (const int err = WriteFully(fd, data, size, static_cast<std::int64_t>(offset)))
        RaiseOsError(err, file, context, "write");
}

void WriteAll(int fd, const void *data, std::size_t size, const fs::path &file, OsContext context) {
    if (const int err = WriteFully(fd, data, size)) RaiseOsError(err, file, context, "write");
}

void CopyRange(int from, int to, std::uint64_t size, std::int64_t offset, const fs::path &source,
               const fs::path &target, OsContext context) {
    const CopyResult r = CopyBytes(from, to, size, offset);
    if (r.err) RaiseOsError(r.err, r.reading ? source : target, context, r.reading ? "read" : "write");
    if (size != kToEnd && r.copied < size) RaiseOsError(EIO, source, context, "read");  // shorter than it was
}

void Sync(int fd, const fs::path &file, OsContext context) {
    if (::fdatasync(fd) != 0) RaiseOsError(errno, file, context, "sync");
}

void StartWriteOut(int fd, std::uint64_t offset, std::uint64_t size) {
    (void)::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE);
}

Mapping::Mapping(int fd, std::uint64_t size, const fs::path &file, OsContext context) : size_(size) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) RaiseOsError(errno, file, context, "read");
    if (static_cast<std::uint64_t>(st.st_size) < size) RaiseOsError(EIO, file, context, "read");  // shorter than it was
    if (size == 0) return;
    void *p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) RaiseOsError(errno, file, context, "read");
    data_ = static_cast<unsigned char *>(p);
    ::madvise(p, size, MADV_SEQUENTIAL);
}

Mapping::~Mapping() {
    if (data_) ::munmap(data_, size_);
}

void Mapping::Done(std::uint64_t offset) {
    constexpr std::uint64_t kRelease = 16 << 20;  // let go in steps of this size, not a call per page
    offset = std::min(offset, size_) / kBlock * kBlock;
    if (offset < done_ + kRelease) return;
    ::madvise(data_ + done_, offset - done_, MADV_DONTNEED);
    done_ = offset;
}

DirectWriter::DirectWriter(int fd, const fs::path &file, OsContext context)
    : fd_(fd), file_(file), context_(context),
      buffer_(static_cast<unsigned char *>(std::aligned_alloc(kBlock, 2 * kChunk))) {
    if (!buffer_) throw std::bad_alloc();
    const int flags = ::fcntl(fd_, F_GETFL);
    direct_ = flags >= 0 && ::fcntl(fd_, F_SETFL, flags | O_DIRECT) == 0;
}

DirectWriter::~DirectWriter() {
    Buffered();
    std::free(buffer_);
}

void DirectWriter::Buffered() {
    if (!direct_) return;
    direct_ = false;
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_DIRECT);
}

void DirectWriter::WriteOut(std::size_t bytes) {
    int err = WriteFully(fd_, buffer_, bytes, static_cast<std::int64_t>(offset_));
    if (err == EINVAL && direct_) {
        Buffered();  // this file system takes no such writes after all
        err = WriteFully(fd_, buffer_, bytes, static_cast<std::int64_t>(offset_));
    }
    if (err) RaiseOsError(err, file_, context_, "write");
    offset_ += bytes;
    used_ -= bytes;
    std::memmove(buffer_, buffer_ + bytes, used_);
}

unsigned char *DirectWriter::Room(std::size_t size) {
    if (used_ + size > 2 * kChunk) WriteOut(used_ / kBlock * kBlock);
    unsigned char *room = buffer_ + used_;
    used_ += size;
    return room;
}

void DirectWriter::Append(const void *data, std::size_t size) {
    const auto *from = static_cast<const unsigned char *>(data);
    // Whole blocks from page-aligned memory (a mapping) go to the file without a copy of our own.
    if (direct_ && used_ == 0 && reinterpret_cast<std::uintptr_t>(from) % kBlock == 0 && size >= kBlock) {
        const std::size_t whole = size / kBlock * kBlock;
        const int err = WriteFully(fd_, from, whole, static_cast<std::int64_t>(offset_));
        if (err == 0) {
            offset_ += whole;
            from += whole;
            size -= whole;
        } else if (err != EINVAL && err != EFAULT) {
            RaiseOsError(err, file_, context_, "write");
        }  // else through the buffer
    }
    for (std::size_t step; size > 0; from += step, size -= step) {
        step = std::min(size, kChunk);
        std::memcpy(Room(step), from, step);
    }
}

void DirectWriter::Finish() {
    WriteOut(used_ / kBlock * kBlock);
    Buffered();
    WriteOut(used_);
}

}  // namespace platform
