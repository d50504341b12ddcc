// Log files that every login appends to: SpooledAppender (a batch of lines that reaches the file on
// Commit, all or none, and survives a kill once prepared) and PendingLines (the batches a kill left).
//
// A batch's pending file, ".<log name>.<16 hex digits>.pending" beside the log, is locked (flock) by
// its writer for as long as it lives and holds lines of text:
//   qvutil pending lines 1 <nanoseconds since the epoch when it was made>
//   note <the caller's note, hex>
//   mark <the caller's mark, hex> <number of lines> <digest of the lines>   (Prepare)
//   at <offset> <from>   (before each append: the log holds the batch's bytes from `from` on at `offset`)
//   done                 (when the file could not be removed after all)
// The lines themselves wait in an unnamed file, so a kill leaves nothing of them but what the caller
// can find again through its mark.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <vector>

#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/paths.h"
#include "platform/safe_file.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBuffer = 1 << 16;
constexpr std::string_view kHeader = "qvutil pending lines 1";
constexpr std::string_view kSuffix = ".pending";
constexpr std::size_t kTokenDigits = 16;

void Lock(int fd) {
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// A digest of lines that does not depend on how they were buffered. Not a cryptographic one: it tells
// a batch's own lines from the lines of others.
struct Digest {
    std::uint64_t value = 0x6a09e667f3bcc908ULL;
    std::uint64_t lines = 0;

    static std::uint64_t Mix(std::uint64_t x) {
        x ^= x >> 32;
        x *= 0xd6e8feb86659fd93ULL;
        return x ^ (x >> 29);
    }
    void Add(std::string_view line) {
        std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ line.size();
        std::size_t i = 0;
        for (std::uint64_t word; i + 8 <= line.size(); i += 8) {
            std::memcpy(&word, line.data() + i, 8);
            h = Mix(h ^ word);
        }
        std::uint64_t tail = 0;
        std::memcpy(&tail, line.data() + i, line.size() - i);
        value = Mix(value ^ Mix(h ^ tail));
        ++lines;
    }
};

std::string Hex(std::string_view text) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : text) out += {digits[c >> 4], digits[c & 15]};
    return out;
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

template <class T>
bool Number(std::string_view text, T &out, int base = 10) {
    return !text.empty() && std::from_chars(text.data(), text.data() + text.size(), out, base).ptr == text.data() + text.size();
}

// Lines waiting in an unnamed file of the log's folder (else of the temporary folder), CR LF after
// each, with their digest.
class Spool {
public:
    Spool(int folder, const fs::path &shown) : shown_(shown) {
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
    void Add(std::string_view line) {
        digest.Add(line);
        buffer_.append(line).append("\r\n");
        if (buffer_.size() >= kBuffer) Flush();
    }
    void Flush() {
        WriteAll(fd_.get(), buffer_.data(), buffer_.size(), shown_);
        size_ += buffer_.size();
        buffer_.clear();
    }
    int fd() const { return fd_.get(); }
    std::uint64_t Size() const { return size_ + buffer_.size(); }

    Digest digest;

private:
    fs::path shown_;
    Fd fd_;
    std::string buffer_;
    std::uint64_t size_ = 0;
};

// Appends one record to a pending file and syncs it; a record that a kill cut short is ended first.
void Record(int pending, const std::string &record, const fs::path &shown) {
    struct stat st {};
    char last = '\n';
    if (::fstat(pending, &st) != 0) RaiseOsError(errno, shown);
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > 0) ReadAt(pending, &last, 1, size - 1, shown);
    const std::string text = (last == '\n' ? "" : "\n") + record + "\n";
    WriteAt(pending, text.data(), text.size(), size, shown);
    Sync(pending, shown);
}

// Removes a pending file whose batch is done with; one that may not be removed (another login's in a
// sticky folder) is marked done.
void Finish(int pending, int folder, const std::string &name) {
    if (::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT) return;
    try {
        Record(pending, "done", {});
    } catch (const Error &) {
    }
}

// Whether the log ends inside a line (its writer was killed while it appended).
bool EndsInsideALine(int log, std::uint64_t size) {
    if (size == 0) return false;
    char tail[2] = {};
    if (size == 1) return true;
    return ReadFully(log, tail, 2, static_cast<std::int64_t>(size - 2)) == 2 && (tail[0] != '\r' || tail[1] != '\n');
}

// Under the log's lock: unless the pending file says so already, records in it where the batch's bytes
// from `from` on are to begin in the log; then appends them (after a line end when the log ends inside
// a line), syncs the log and removes the pending file. A failure cuts the log back to what it held and
// keeps the pending file.
void AppendBatch(int log, int pending, int folder, const std::string &pendingName, Spool &spool, std::uint64_t from,
                 bool recorded, const fs::path &shown) {
    spool.Flush();
    struct stat st {};
    if (::fstat(log, &st) != 0) RaiseOsError(errno, shown);
    const auto before = static_cast<std::uint64_t>(st.st_size);
    const bool breakLine = !recorded && EndsInsideALine(log, before);
    if (!recorded)
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

// The log for appending, created for every login as its folder allows.
Fd OpenLog(int folder, const std::string &name, const fs::path &shown) {
    Fd log = OpenFileAt(folder, name, O_RDWR | O_APPEND | O_CREAT, 0666, Access::LikeFolder);
    if (!log) RaiseOsError(errno, shown, OsContext::Folder);
    return log;
}

// The name of the log whose pending file is `name`; empty when `name` is none.
std::string LogOf(std::string_view name) {
    const std::size_t tail = 1 + kTokenDigits + kSuffix.size();
    if (name.size() <= 1 + tail || name.front() != '.' || !name.ends_with(kSuffix) ||
        name[name.size() - tail] != '.' ||
        name.substr(name.size() - tail + 1, kTokenDigits).find_first_not_of("0123456789abcdef") != std::string::npos)
        return {};
    const std::string log(name.substr(1, name.size() - 1 - tail));
    return log == "." || log == ".." ? std::string() : log;
}

}  // namespace

struct SpooledAppender::Impl {
    fs::path path;  // the log
    Fd folder;
    std::string name;  // of the log in its folder
    Fd log;
    std::string pendingName;
    Fd pending;
    std::optional<Spool> spool;
    bool prepared = false;
    bool committing = false;  // from here on the caller's changes have committed
    bool committed = false;

    ~Impl() {
        if (pending && !committing) (void)::unlinkat(folder.get(), pendingName.c_str(), 0);
    }
};

SpooledAppender::SpooledAppender(std::string_view path, std::string_view note) : impl_(std::make_unique<Impl>()) {
    Impl &f = *impl_;
    f.path = MapPath(path);
    f.folder = OpenParent(f.path, f.name);
    if (!f.folder) RaiseOsError(errno, f.path, OsContext::Folder);
    f.log = OpenLog(f.folder.get(), f.name, f.path);
    thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; !f.pending; ++attempt) {
        char token[kTokenDigits + 1];
        std::snprintf(token, sizeof token, "%016llx", static_cast<unsigned long long>(random()));
        f.pendingName = "." + f.name + "." + token + std::string(kSuffix);
        f.pending = OpenFileAt(f.folder.get(), f.pendingName, O_RDWR | O_CREAT | O_EXCL, 0666, Access::LikeFolder);
        if (!f.pending && (errno != EEXIST || attempt == 8)) RaiseOsError(errno, f.path.parent_path(), OsContext::Folder);
    }
    Lock(f.pending.get());
    const auto made = std::chrono::system_clock::now().time_since_epoch();
    const std::string header = std::string(kHeader) + " " +
                               std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(made).count()) +
                               "\nnote " + Hex(note) + "\n";
    WriteAll(f.pending.get(), header.data(), header.size(), f.path.parent_path());
    f.spool.emplace(f.folder.get(), f.path);
}

SpooledAppender::~SpooledAppender() = default;

void SpooledAppender::WriteLine(std::string_view line) {
    if (impl_->committed) Raise(75);
    impl_->spool->Add(line);
}

void SpooledAppender::Prepare(std::string_view mark) {
    Impl &f = *impl_;
    const fs::path shown = f.path.parent_path();
    f.spool->Flush();
    char digest[17];
    std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(f.spool->digest.value));
    Record(f.pending.get(), "mark " + Hex(mark) + " " + std::to_string(f.spool->digest.lines) + " " + digest, shown);
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
    if (f.spool->Size() == 0) {
        Finish(f.pending.get(), f.folder.get(), f.pendingName);
        f.committed = true;
        return;
    }
    Lock(f.log.get());  // other writers wait, so their lines never come between ours
    AppendBatch(f.log.get(), f.pending.get(), f.folder.get(), f.pendingName, *f.spool, 0, false, f.path);
    f.committed = true;
    f.log.reset();
    f.pending.reset();
}

struct PendingLines::Impl {
    fs::path folderPath;
    Fd folder;
    std::string name;  // of the pending file
    Fd pending;
    std::string log, note, mark;
    bool prepared = false;
    std::uint64_t lines = 0, digest = 0;
    std::int64_t made = 0;
    bool recorded = false;  // an "at" record was found
    std::uint64_t at = 0, from = 0;

    // Reads the records; false when the file is none of ours.
    bool Parse(std::string_view text) {
        bool header = false;
        for (std::size_t end; (end = text.find('\n')) != std::string_view::npos; text.remove_prefix(end + 1)) {
            std::vector<std::string_view> w;
            for (std::string_view line = text.substr(0, end);;) {
                const std::size_t blank = line.find(' ');
                w.push_back(line.substr(0, blank));
                if (blank == std::string_view::npos) break;
                line.remove_prefix(blank + 1);
            }
            if (w.size() == 5 && text.starts_with(kHeader)) {
                header = Number(w[4], made);
            } else if (w.size() == 2 && w[0] == "note") {
                if (auto n = FromHex(w[1])) note = *n;
            } else if (w.size() == 4 && w[0] == "mark") {
                const auto m = FromHex(w[1]);
                prepared = m && Number(w[2], lines) && Number(w[3], digest, 16);
                if (m) mark = *m;
            } else if (w.size() == 3 && w[0] == "at" && Number(w[1], at) && Number(w[2], from)) {
                recorded = true;
            } else if (w.size() == 1 && w[0] == "done") {
                prepared = false;
                break;
            }
        }
        return header;
    }
};

PendingLines::PendingLines() : impl_(std::make_unique<Impl>()) {}
PendingLines::PendingLines(PendingLines &&) noexcept = default;
PendingLines &PendingLines::operator=(PendingLines &&) noexcept = default;
PendingLines::~PendingLines() = default;

const std::string &PendingLines::Note() const { return impl_->note; }
const std::string &PendingLines::Mark() const { return impl_->mark; }

std::vector<PendingLines> PendingLines::In(std::string_view folder) {
    std::vector<PendingLines> found;
    const fs::path path = MapPath(folder);
    const Fd at = OpenFolder(path);
    if (!at) return found;
    const auto now = std::chrono::system_clock::now();
    for (const std::string &name : FolderNames(at.get())) {
        PendingLines p;
        Impl &b = *p.impl_;
        b.log = LogOf(name);
        if (b.log.empty()) continue;
        b.name = name;
        b.pending.reset(::openat(at.get(), name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (!b.pending || ::fstat(b.pending.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            ::flock(b.pending.get(), LOCK_EX | LOCK_NB) != 0)
            continue;  // not ours to read, or its writer is alive
        std::string text(static_cast<std::size_t>(std::min<off_t>(st.st_size, 1 << 16)), '\0');
        const ssize_t n = ReadFully(b.pending.get(), text.data(), text.size(), 0);
        text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        const bool ours = b.Parse(text);
        if (!b.prepared) {
            // Its writer ended before its changes could commit; one only seconds old may be between
            // being made and being locked.
            if (now - std::chrono::system_clock::from_time_t(st.st_mtime) > std::chrono::seconds(10) || ours)
                (void)::unlinkat(at.get(), name.c_str(), 0);
            continue;
        }
        b.folderPath = path;
        b.folder.reset(::fcntl(at.get(), F_DUPFD_CLOEXEC, 0));
        found.push_back(std::move(p));
    }
    std::sort(found.begin(), found.end(),
              [](const PendingLines &a, const PendingLines &b) { return a.impl_->made < b.impl_->made; });
    return found;
}

bool PendingLines::Complete(const std::function<bool(std::string &line)> &next) {
    Impl &b = *impl_;
    const fs::path shown = b.folderPath / b.log;
    Spool spool(b.folder.get(), shown);
    for (std::string line; next(line);) spool.Add(line);
    spool.Flush();
    if (spool.digest.lines != b.lines || spool.digest.value != b.digest) {
        // Not the batch's lines: its changes never committed.
        Finish(b.pending.get(), b.folder.get(), b.name);
        return false;
    }
    const Fd log = OpenLog(b.folder.get(), b.log, shown);
    Lock(log.get());
    std::uint64_t from = 0;
    bool recorded = false;
    if (b.recorded) {
        // The log may hold the start of the batch's bytes from `from` on at `at`: how much of them?
        struct stat st {};
        if (::fstat(log.get(), &st) != 0) RaiseOsError(errno, shown);
        const auto size = static_cast<std::uint64_t>(st.st_size);
        std::uint64_t same = 0, lineStart = b.from;
        std::string mine(kBuffer, '\0'), theirs(kBuffer, '\0');
        while (b.at <= size && b.from + same < spool.Size() && b.at + same < size) {
            const std::size_t want = static_cast<std::size_t>(
                std::min<std::uint64_t>({kBuffer, spool.Size() - b.from - same, size - b.at - same}));
            const ssize_t n1 = ReadFully(spool.fd(), mine.data(), want, static_cast<std::int64_t>(b.from + same));
            const ssize_t n2 = ReadFully(log.get(), theirs.data(), want, static_cast<std::int64_t>(b.at + same));
            if (n1 <= 0 || n2 <= 0) RaiseOsError(n1 < 0 || n2 < 0 ? errno : EIO, shown);
            const std::size_t n = static_cast<std::size_t>(std::min(n1, n2));
            std::size_t k = 0;
            while (k < n && mine[k] == theirs[k]) {
                if (mine[k] == '\n') lineStart = b.from + same + k + 1;
                ++k;
            }
            same += k;
            if (k < n) break;
        }
        if (b.at <= size && b.at + same == size) {
            from = b.from + same;  // what the log holds is the start of them: the rest follows
            recorded = true;
        } else {
            from = lineStart;  // something else came after them: the cut line is written again whole
        }
    }
    AppendBatch(log.get(), b.pending.get(), b.folder.get(), b.name, spool, from, recorded, shown);
    return true;
}

}  // namespace platform
