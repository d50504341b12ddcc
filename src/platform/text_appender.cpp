#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/paths.h"

namespace platform {

struct TextAppender::Impl {
    std::filesystem::path path;
    int fd = -1;
    std::string buffer;

    void Flush() {
        size_t done = 0;
        while (done < buffer.size()) {
            const ssize_t n = ::write(fd, buffer.data() + done, buffer.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                const int err = errno;
                buffer.erase(0, done);
                RaiseOsError(err, path);
            }
            done += static_cast<size_t>(n);
        }
        buffer.clear();
    }
};

TextAppender::TextAppender(std::string_view path) : impl_(new Impl) {
    try {
        impl_->path = MapPath(path);
        impl_->fd = ::open(impl_->path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (impl_->fd < 0) RaiseOsError(errno, impl_->path, 76);
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
    impl_->buffer.append(line);
    impl_->buffer.append("\r\n");
    if (impl_->buffer.size() >= (1u << 16)) impl_->Flush();
}

void TextAppender::Close() {
    if (impl_->fd < 0) return;
    try {
        impl_->Flush();
    } catch (...) {
        ::close(impl_->fd);
        impl_->fd = -1;
        throw;
    }
    const int closed = ::close(impl_->fd);
    impl_->fd = -1;
    if (closed != 0) RaiseOsError(errno, impl_->path);
}

}  // namespace platform
