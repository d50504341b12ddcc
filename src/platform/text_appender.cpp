// Text files written line by line: TextAppender (written as it goes) and SpooledAppender (written
// at once on Commit).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/error.h"
#include "platform/fd_io.h"
#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/paths.h"

namespace platform {

namespace {

constexpr std::size_t kBuffer = 1 << 16;

// Opens a text file for appending, creating a missing one (its folder must exist: 76).
int OpenForAppending(const std::filesystem::path &path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) RaiseOsError(errno, path, 76);
    return fd;
}

void Append(std::string &buffer, std::string_view line) {
    buffer.append(line);
    buffer.append("\r\n");
}

// Writes the buffered text and empties the buffer, also when the write fails.
void Drain(int fd, std::string &buffer, const std::filesystem::path &path) {
    struct Emptied {
        std::string &text;
        ~Emptied() { text.clear(); }
    } emptied{buffer};
    WriteAll(fd, buffer.data(), buffer.size(), path);
}

// Closes a descriptor; raises when the close reports a failed write.
void CloseChecked(int fd, const std::filesystem::path &path) {
    if (::close(fd) != 0) RaiseOsError(errno, path);
}

}  // namespace

struct TextAppender::Impl {
    std::filesystem::path path;
    int fd = -1;
    std::string buffer;

    void Flush() { Drain(fd, buffer, path); }
};

TextAppender::TextAppender(std::string_view path) : impl_(new Impl) {
    try {
        impl_->path = MapPath(path);
        impl_->fd = OpenForAppending(impl_->path);
    } catch (...) {
        delete impl_;
        throw;
    }
}

TextAppender::~TextAppender() {
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; callers that care call Close() themselves.
    }
    delete impl_;
}

void TextAppender::WriteLine(std::string_view line) {
    if (impl_->fd < 0) Raise(75);
    Append(impl_->buffer, line);
    if (impl_->buffer.size() >= kBuffer) impl_->Flush();
}

void TextAppender::Close() {
    if (impl_->fd < 0) return;
    const int fd = impl_->fd;
    impl_->fd = -1;
    try {
        Drain(fd, impl_->buffer, impl_->path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    CloseChecked(fd, impl_->path);
}

struct SpooledAppender::Impl {
    std::filesystem::path path;
    int fd = -1;     // the file
    int spool = -1;  // the lines so far, in an unnamed file of the same folder
    std::string buffer;

    // An unnamed temporary file in the folder of `path` (else in the temporary folder, for a folder
    // that takes no new files): nothing is left of it whatever happens to the process.
    void OpenSpool() {
        std::error_code ec;
        const std::filesystem::path folders[] = {path.parent_path().empty() ? "." : path.parent_path(),
                                                 std::filesystem::temp_directory_path(ec)};
        int err = 0;
        for (const auto &folder : folders) {
            if (folder.empty()) continue;
            spool = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
            if (spool >= 0) return;
            // A file system without unnamed files: a hidden name, removed at once.
            std::string name = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
            spool = ::mkostemp(name.data(), O_CLOEXEC);
            if (spool >= 0) {
                ::unlink(name.c_str());
                return;
            }
            if (!err) err = errno;
        }
        RaiseOsError(err, path);
    }
    void Spool() { Drain(spool, buffer, path); }
    ~Impl() {
        if (fd >= 0) ::close(fd);
        if (spool >= 0) ::close(spool);
    }
};

SpooledAppender::SpooledAppender(std::string_view path) : impl_(std::make_unique<Impl>()) {
    impl_->path = MapPath(path);
    impl_->fd = OpenForAppending(impl_->path);
    impl_->OpenSpool();
}

SpooledAppender::~SpooledAppender() = default;

void SpooledAppender::WriteLine(std::string_view line) {
    if (impl_->fd < 0) Raise(75);
    Append(impl_->buffer, line);
    if (impl_->buffer.size() >= kBuffer) impl_->Spool();
}

void SpooledAppender::Commit() {
    Impl &f = *impl_;
    if (f.fd < 0) Raise(75);
    f.Spool();
    // Other writers of the same file wait, so their lines never come between ours.
    while (::flock(f.fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    struct stat before {};
    const bool known = ::fstat(f.fd, &before) == 0 && S_ISREG(before.st_mode);
    const int fd = f.fd;
    f.fd = -1;
    try {
        if (::lseek(f.spool, 0, SEEK_SET) != 0) RaiseOsError(errno, f.path);
        CopyData(f.spool, fd, f.path, f.path);
    } catch (...) {
        // No line, and no part of one, stays; the write's own failure is the one reported.
        if (known && ::ftruncate(fd, before.st_size) != 0) {
        }
        ::close(fd);
        throw;
    }
    CloseChecked(fd, f.path);
}

}  // namespace platform
