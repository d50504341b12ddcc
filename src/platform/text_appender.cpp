// Log files that every login appends to: SpooledAppender (a batch of lines that reaches the file on
// Commit, all or none, and survives a kill once prepared), and what it shares with PendingLines (the
// batches a kill left, pending_lines.cpp). The pending file's records are described in
// text_appender_private.h.
#include "platform/text_appender.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/digest.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/os_error.h"
#include "platform/safe_file.h"
#include "platform/text_appender_private.h"

namespace platform {

namespace appender_detail {

void Lock(int fd) {
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

std::optional<std::string> FromHex(std::string_view hex) {
    std::string out;
    if (hex.size() % 2) return std::nullopt;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        if (std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16).ptr != hex.data() + i + 2)
            return std::nullopt;
        out += static_cast<char>(value);
    }
    return out;
}

std::string LineDigest(std::string_view line) {
    const auto md = Sha256Bytes(line);
    return Hex(std::string_view(reinterpret_cast<const char *>(md.data()), kTokenDigits / 2));
}

Spool::Spool(int folder, const fs::path &shown) : shown_(shown) {
    fd_.reset(::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd_) return;
    const int err = errno;
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    if (!ec) {
        fd_.reset(::open(temp.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        if (fd_) return;
        // A file system without unnamed files: a name of its own, removed at once.
        std::string name = (temp / "qvutil-lines.XXXXXX").string();
        fd_.reset(::mkostemp(name.data(), O_CLOEXEC));
        if (fd_) {
            ::unlink(name.c_str());
            return;
        }
    }
    RaiseOsError(err, shown_);
}

void Spool::Add(std::string_view line) {
    ++lines;
    buffer_.append(line).append("\r\n");
    if (buffer_.size() >= kBuffer) Flush();
}

void Spool::AddBytes(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= kBuffer) Flush();
}

void Spool::Flush() {
    WriteAll(fd_.get(), buffer_.data(), buffer_.size(), shown_);
    size_ += buffer_.size();
    buffer_.clear();
}

void Record(int pending, std::string_view record, const fs::path &shown, Spool *digests) {
    struct stat st {};
    char last = '\n';
    if (::fstat(pending, &st) != 0) RaiseOsError(errno, shown);
    auto at = static_cast<std::uint64_t>(st.st_size);
    if (at > 0) ReadAt(pending, &last, 1, at - 1, shown);
    const auto put = [&](std::string_view text) {
        WriteAt(pending, text.data(), text.size(), at, shown);
        at += text.size();
    };
    if (last != '\n') put("\n");
    put(record);
    if (digests) {
        digests->Flush();
        std::string part(kBuffer / 2, '\0');
        for (std::uint64_t from = 0, size = digests->Size(); from < size; from += part.size()) {
            part.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kBuffer / 2, size - from)));
            ReadAt(digests->fd(), part.data(), part.size(), from, shown);
            put(Hex(part));
        }
    }
    put("\n");
    Sync(pending, shown);
}

void Finish(int pending, int folder, const std::string &name) {
    if (::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT) return;
    try {
        Record(pending, "done", {});
    } catch (const Error &) {
    }
}

namespace {

// Whether the log ends inside a line (its writer was killed while it appended).
bool EndsInsideALine(int log, std::uint64_t size) {
    if (size == 0) return false;
    char tail[2] = {};
    if (size == 1) return true;
    return ReadFully(log, tail, 2, static_cast<std::int64_t>(size - 2)) == 2 && (tail[0] != '\r' || tail[1] != '\n');
}

}  // namespace

// Unless the pending file says so already, records in it where the batch's bytes from `from` on are
// to begin in the log; then appends them (after a line end when the log ends inside a line).
void AppendBatch(int log, int pending, int folder, const std::string &pendingName, Spool &spool, std::uint64_t from,
                 bool recorded, const fs::path &shown) {
    spool.Flush();
    struct stat st {};
    if (::fstat(log, &st) != 0) RaiseOsError(errno, shown);
    const auto before = static_cast<std::uint64_t>(st.st_size);
    const bool breakLine = !recorded && EndsInsideALine(log, before);
    if (!recorded && pending >= 0)
        Record(pending, "at " + std::to_string(before + (breakLine ? 2 : 0)) + " " + std::to_string(from), shown);
    try {
        if (breakLine) WriteAll(log, "\r\n", 2, shown);
        if (::lseek(spool.fd(), static_cast<off_t>(from), SEEK_SET) < 0) RaiseOsError(errno, shown);
        CopyRange(spool.fd(), log, kToEnd, kAtPosition, shown, shown);
        if (::fdatasync(log) != 0 && errno != EINVAL) RaiseOsError(errno, shown);
    } catch (...) {
        // No line and no part of one stays; the write's own failure is the one reported.
        if (S_ISREG(st.st_mode) && ::ftruncate(log, st.st_size) != 0) {
        }
        throw;
    }
    Finish(pending, folder, pendingName);
}

Fd OpenLog(int folder, const std::string &name, const fs::path &shown) {
    Opened log = OpenFileAt(folder, name, O_RDWR | O_APPEND | O_CREAT, 0666, Access::LikeFolder);
    if (!log) RaiseOsError(errno, shown, OsContext::Folder, {}, log.refusedLink);
    return log;
}

std::string LogOf(std::string_view name) {
    const std::size_t tail = 1 + kTokenDigits + kSuffix.size();
    if (name.size() <= 1 + tail || name.front() != '.' || !name.ends_with(kSuffix) ||
        name[name.size() - tail] != '.' ||
        name.substr(name.size() - tail + 1, kTokenDigits).find_first_not_of("0123456789abcdef") != std::string::npos)
        return {};
    const std::string log(name.substr(1, name.size() - 1 - tail));
    return log == "." || log == ".." ? std::string() : log;
}

namespace {

// The spool of a batch's lines and that of their digests, written by a thread of their own: the run
// that adds the lines goes on while the 64 KB of lines before are digested and written. A batch that
// never fills 64 KB is written by its caller's thread when drained.
class SpoolWriter {
public:
    SpoolWriter(int folder, const fs::path &shown) : spool(folder, shown), digests(folder, shown) {}
    ~SpoolWriter() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        work_.notify_one();
        if (thread_.joinable()) thread_.join();
    }
    SpoolWriter(const SpoolWriter &) = delete;
    SpoolWriter &operator=(const SpoolWriter &) = delete;

    void Add(std::string_view line) {
        filling_.text.append(line);
        filling_.ends.push_back(filling_.text.size());
        if (filling_.text.size() >= kBuffer) HandOn();
    }
    // Every line added is in the spools when this returns; what writing them raised is raised here
    // (or by the Add after it).
    void Drain() {
        if (!thread_.joinable()) return WriteHere();
        HandOn();
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [&] { return !busy_; });
        if (failure_) std::rethrow_exception(failure_);
    }

    // Read and written by the caller only when drained.
    Spool spool;
    Spool digests;  // of the lines written, 8 bytes each (16 hex digits in the pending file)

private:
    struct Lines {
        std::string text;               // the lines one after the other
        std::vector<std::size_t> ends;  // where each ends in it
    };
    void Write(const Lines &lines) {
        std::size_t from = 0;
        for (const std::size_t end : lines.ends) {
            const std::string_view line(lines.text.data() + from, end - from);
            spool.Add(line);
            const auto md = digester_.Of(line);
            digests.AddBytes(std::string_view(reinterpret_cast<const char *>(md.data()), kTokenDigits / 2));
            from = end;
        }
    }
    // The lines filled so far written on the caller's thread.
    void WriteHere() {
        Write(filling_);
        filling_.text.clear();
        filling_.ends.clear();
    }
    // Gives the lines filled so far to the thread, once it has written those before.
    void HandOn() {
        if (filling_.ends.empty()) return;
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [&] { return !busy_; });
        if (failure_) std::rethrow_exception(failure_);
        if (!thread_.joinable() && !alone_) {
            try {
                thread_ = std::thread([this] { Run(); });
            } catch (const std::system_error &) {
                alone_ = true;  // no thread to be had (a limit of processes): the caller writes its lines
            }
        }
        if (alone_) {
            lock.unlock();
            return WriteHere();
        }
        std::swap(waiting_, filling_);
        filling_.text.clear();  // the thread's lines before, written
        filling_.ends.clear();
        busy_ = true;
        lock.unlock();
        work_.notify_one();
    }
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            work_.wait(lock, [&] { return busy_ || stop_; });
            if (!busy_) return;
            lock.unlock();
            std::exception_ptr failed;
            try {
                Write(waiting_);
            } catch (...) {
                failed = std::current_exception();
            }
            lock.lock();
            if (failed) failure_ = failed;
            busy_ = false;
            idle_.notify_all();
        }
    }

    LineDigests digester_;  // the thread's, or the caller's before the thread is started
    Lines filling_;         // the caller's
    Lines waiting_;         // the thread's while busy_
    std::mutex mutex_;
    std::condition_variable work_, idle_;
    bool busy_ = false, stop_ = false, alone_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};

}  // namespace

}  // namespace appender_detail

using namespace appender_detail;

struct SpooledAppender::Impl {
    fs::path path;  // the log
    Fd folder;
    std::string name;  // of the log in its folder
    Fd log;
    std::string pendingName;
    Fd pending;
    std::optional<SpoolWriter> lines;
    bool prepared = false;
    bool committing = false;  // from here on the caller's changes have committed
    bool committed = false;

    ~Impl() {
        if (pending && !committing) (void)::unlinkat(folder.get(), pendingName.c_str(), 0);
    }
};

SpooledAppender::SpooledAppender(const fs::path &path, std::string_view note) : impl_(std::make_unique<Impl>()) {
    Impl &f = *impl_;
    f.path = path;
    Opened parent = OpenParent(f.path, f.name);
    if (!parent)  // the folder is what failed
        RaiseOsError(errno, f.path.parent_path(), OsContext::Folder, {}, parent.refusedLink);
    f.folder = std::move(parent);
    f.log = OpenLog(f.folder.get(), f.name, f.path);
    thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; !f.pending; ++attempt) {
        char token[kTokenDigits + 1];
        std::snprintf(token, sizeof token, "%016llx", static_cast<unsigned long long>(random()));
        f.pendingName = "." + f.name + "." + token + std::string(kSuffix);
        // Its writer's alone to write: what another login could change is never trusted to say what to
        // write where.
        f.pending = OpenFileAt(f.folder.get(), f.pendingName, O_RDWR | O_CREAT | O_EXCL, 0600, Access::Private);
        if (!f.pending && (errno != EEXIST || attempt == 8)) RaiseOsError(errno, f.path.parent_path(), OsContext::Folder);
    }
    Lock(f.pending.get());
    // Written by its maker alone, whatever the umask; read by the folder's group, whose windows complete
    // a batch that a kill left (pending_lines.cpp).
    struct stat folder {};
    if (::fstat(f.folder.get(), &folder) == 0) (void)!::fchown(f.pending.get(), static_cast<uid_t>(-1), folder.st_gid);
    (void)::fchmod(f.pending.get(), 0640);
    const auto made = std::chrono::system_clock::now().time_since_epoch();
    const std::string header = std::string(kHeader) + " " +
                               std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(made).count()) +
                               "\nnote " + Hex(note) + "\nlog " + Hex(f.name) + "\n";
    WriteAll(f.pending.get(), header.data(), header.size(), f.path.parent_path());
    f.lines.emplace(f.folder.get(), f.path);
}

SpooledAppender::~SpooledAppender() = default;

void SpooledAppender::WriteLine(std::string_view line) {
    if (impl_->committed) Raise(75);
    impl_->lines->Add(line);
}

void SpooledAppender::Prepare(std::string_view mark) {
    Impl &f = *impl_;
    const fs::path shown = f.path.parent_path();
    f.lines->Drain();
    Spool &spool = f.lines->spool;
    spool.Flush();
    Record(f.pending.get(), "mark " + Hex(mark) + " " + std::to_string(spool.lines) + " ", shown, &f.lines->digests);
    // The pending file's name must last too; one that another program removed keeps nothing.
    if (const int err = SyncFolder(f.folder.get())) RaiseOsError(err, shown);
    struct stat st {};
    if (::fstat(f.pending.get(), &st) != 0) RaiseOsError(errno, shown);
    if (st.st_nlink == 0) RaiseOsError(ENOENT, shown);
    f.prepared = true;
}

void SpooledAppender::Commit() {
    Impl &f = *impl_;
    if (f.committed) Raise(75);
    if (!f.prepared) Prepare({});
    f.committing = true;
    f.lines->Drain();
    if (f.lines->spool.Size() == 0) {
        Finish(f.pending.get(), f.folder.get(), f.pendingName);
        f.committed = true;
        return;
    }
    Lock(f.log.get());  // other writers wait, so their lines never come between ours
    AppendBatch(f.log.get(), f.pending.get(), f.folder.get(), f.pendingName, f.lines->spool, 0, false, f.path);
    f.committed = true;
    f.log.reset();
    f.pending.reset();
}

}  // namespace platform
