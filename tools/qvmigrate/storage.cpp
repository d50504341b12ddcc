// Database files of the storage format: created and loaded in bulk, or read back for the check.
#include "qvmigrate/storage.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/dao/storage_format.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "qvmigrate/errors.h"
#include "qvmigrate/place.h"

namespace qvmigrate {

namespace fs = std::filesystem;

namespace {

// What ends the index of a Jet table's primary key.
constexpr const char *kPrimaryKeyMark = " /* primary key */";

// The VFS of files on a descriptor: the main database is "fd:<n>"; SQLite's unnamed temporaries go to
// the default VFS; any other named file (a journal, a WAL) is refused, so nothing is made beside it.
constexpr const char *kVfsName = "qvmigrate-fd";
using platform::dao::kSqlitePendingByte, platform::dao::kSqliteSharedFirst, platform::dao::kSqliteSharedSize;

struct FdFile {
    sqlite3_file base;
    int fd;
    bool readOnly;
};

int writeErrno = 0;  // why the last write of a file on a descriptor failed

int FdOf(sqlite3_file *f) { return reinterpret_cast<FdFile *>(f)->fd; }

int FdClose(sqlite3_file *) { return SQLITE_OK; }

int FdRead(sqlite3_file *f, void *buf, int amount, sqlite3_int64 offset) {
    const ssize_t got = platform::ReadFully(FdOf(f), buf, static_cast<std::size_t>(amount), offset);
    if (got < 0) return SQLITE_IOERR_READ;
    if (got == amount) return SQLITE_OK;
    std::memset(static_cast<char *>(buf) + got, 0, static_cast<std::size_t>(amount - got));
    return SQLITE_IOERR_SHORT_READ;
}

int FdWrite(sqlite3_file *f, const void *buf, int amount, sqlite3_int64 offset) {
    if (const int err = platform::WriteFully(FdOf(f), buf, static_cast<std::size_t>(amount), offset)) {
        writeErrno = err;
        return err == ENOSPC || err == EDQUOT ? SQLITE_FULL : SQLITE_IOERR_WRITE;
    }
    return SQLITE_OK;
}

int FdTruncate(sqlite3_file *f, sqlite3_int64 size) { return ::ftruncate(FdOf(f), size) == 0 ? SQLITE_OK : SQLITE_IOERR_TRUNCATE; }
int FdSync(sqlite3_file *, int) { return SQLITE_OK; }  // the writer syncs the whole file before it names it

int FdFileSize(sqlite3_file *f, sqlite3_int64 *size) {
    struct stat st {};
    if (::fstat(FdOf(f), &st) != 0) return SQLITE_IOERR_FSTAT;
    *size = st.st_size;
    return SQLITE_OK;
}

// A read lock on `length` bytes from `start`, or their release, as SQLite's own locks take them.
bool RangeLock(int fd, short type, sqlite3_int64 start, sqlite3_int64 length) {
    struct flock lk {};
    lk.l_type = type;
    lk.l_whence = SEEK_SET;
    lk.l_start = start;
    lk.l_len = length;
    return ::fcntl(fd, F_SETLK, &lk) == 0;
}

// A file being loaded is this process's alone; a converted file that is read takes SQLite's SHARED
// lock, so that a tool does not commit while it is read.
int FdLock(sqlite3_file *f, int level) {
    const auto *file = reinterpret_cast<FdFile *>(f);
    if (!file->readOnly || level != SQLITE_LOCK_SHARED) return SQLITE_OK;
    if (!RangeLock(file->fd, F_RDLCK, kSqlitePendingByte, 1)) return SQLITE_BUSY;
    const bool shared = RangeLock(file->fd, F_RDLCK, kSqliteSharedFirst, kSqliteSharedSize);
    RangeLock(file->fd, F_UNLCK, kSqlitePendingByte, 1);
    return shared ? SQLITE_OK : SQLITE_BUSY;
}

int FdUnlock(sqlite3_file *f, int level) {
    const auto *file = reinterpret_cast<FdFile *>(f);
    if (file->readOnly && level == SQLITE_LOCK_NONE) RangeLock(file->fd, F_UNLCK, kSqliteSharedFirst, kSqliteSharedSize);
    return SQLITE_OK;
}

int FdCheckReserved(sqlite3_file *, int *reserved) {
    *reserved = 0;
    return SQLITE_OK;
}

int FdFileControl(sqlite3_file *, int, void *) { return SQLITE_NOTFOUND; }
int FdSectorSize(sqlite3_file *) { return 4096; }
int FdDeviceCharacteristics(sqlite3_file *) { return 0; }

const sqlite3_io_methods kFdMethods = {1,      FdClose,         FdRead,        FdWrite,      FdTruncate,
                                       FdSync, FdFileSize,      FdLock,        FdUnlock,     FdCheckReserved,
                                       FdFileControl, FdSectorSize, FdDeviceCharacteristics,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

int FdOpen(sqlite3_vfs *vfs, sqlite3_filename name, sqlite3_file *file, int flags, int *outFlags) {
    auto *base = static_cast<sqlite3_vfs *>(vfs->pAppData);
    if (!name) return base->xOpen(base, name, file, flags, outFlags);
    file->pMethods = nullptr;
    if (!(flags & SQLITE_OPEN_MAIN_DB) || std::strncmp(name, "fd:", 3) != 0) return SQLITE_CANTOPEN;
    auto *f = reinterpret_cast<FdFile *>(file);
    f->fd = std::atoi(name + 3);
    f->readOnly = (flags & SQLITE_OPEN_READONLY) != 0;
    f->base.pMethods = &kFdMethods;
    if (outFlags) *outFlags = flags;
    return SQLITE_OK;
}

int FdAccess(sqlite3_vfs *, const char *, int, int *result) {
    *result = 0;  // no journal or WAL is ever beside these files
    return SQLITE_OK;
}

int FdFullPathname(sqlite3_vfs *, const char *name, int size, char *out) {
    sqlite3_snprintf(size, out, "%s", name);
    return SQLITE_OK;
}

void RegisterFdVfs() {
    static const bool registered = [] {
        sqlite3_vfs *base = sqlite3_vfs_find(nullptr);
        static sqlite3_vfs vfs = *base;
        vfs.zName = kVfsName;
        vfs.pAppData = base;
        vfs.pNext = nullptr;
        vfs.szOsFile = std::max(base->szOsFile, static_cast<int>(sizeof(FdFile)));
        vfs.xOpen = FdOpen;
        vfs.xAccess = FdAccess;
        vfs.xFullPathname = FdFullPathname;
        return sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
    }();
    if (!registered) throw Failure(Failure::Storage, "SQLite refused the file system of descriptors");
}

// SQLite's folder for its temporaries, as it picks one.
std::string TemporaryFolder() {
    for (const char *v : {"SQLITE_TMPDIR", "TMPDIR"})
        if (const char *dir = std::getenv(v); dir && *dir) return dir;
    return "/var/tmp";
}

// The WHERE clause of a partial index's CREATE INDEX text: what follows its list of key columns
// (passing over quoted names, which may hold brackets).
std::string WhereClause(const std::string &sql) {
    int depth = 0;
    char quote = 0;
    for (std::size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'' || c == '`') {
            quote = c;
        } else if (c == '[') {
            quote = ']';
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && --depth == 0) {
            const std::size_t from = sql.find_first_not_of(" \t\n", i + 1);
            return from == std::string::npos ? "WHERE ?" : sql.substr(from, sql.find_last_not_of(" \t\n") + 1 - from);
        }
    }
    return "WHERE ?";
}

}  // namespace

std::string QuoteName(const std::string &name) {
    std::string out = "\"";
    for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::unique_ptr<StorageFile> StorageFile::Open(int fd, const fs::path &where, bool readOnly) {
    RegisterFdVfs();
    std::unique_ptr<StorageFile> f(new StorageFile());
    f->where_ = where;
    const std::string name = "fd:" + std::to_string(fd);
    const int rc = sqlite3_open_v2(name.c_str(), &f->db_, readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE, kVfsName);
    if (rc != SQLITE_OK) f->Fail("cannot open " + where.string());
    return f;
}

std::unique_ptr<StorageFile> StorageFile::CreateForLoad(int fd, const fs::path &target) {
    writeErrno = 0;
    auto f = Open(fd, target, false);
    f->Exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA locking_mode = EXCLUSIVE; "
            "PRAGMA cache_size = -65536; BEGIN");
    return f;
}

std::unique_ptr<StorageFile> StorageFile::OpenReadOnly(const fs::path &file) {
    platform::Opened fd = platform::OpenFile(file, O_RDONLY | O_NONBLOCK);
    if (!fd && errno == ENOENT) return nullptr;
    if (!fd.refusedLink.empty()) throw Failure(Failure::Storage, platform::LinkOfAnotherUser(fd.refusedLink.string(), "read"));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) throw Failure(Failure::Storage, "cannot open " + file.string() + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw Failure(Failure::Storage, file.string() + " is not a file");
    auto f = Open(fd.get(), file, true);
    f->owned_ = std::move(fd);
    sqlite3_busy_timeout(f->db_, 5000);
    f->Exec("SELECT count(*) FROM sqlite_master");  // proves it is a database SQLite can read
    return f;
}

StorageFile::~StorageFile() {
    sqlite3_finalize(insert_);
    sqlite3_close_v2(db_);
}

void StorageFile::Fail(const std::string &what) const {
    // A write that failed: of the file itself (its errno kept), else of SQLite's own temporaries.
    if (writeErrno) throw Failure(Failure::Storage, "cannot write " + where_.string() + ": " + WriteFailure(writeErrno, where_.parent_path()));
    if (db_ && sqlite3_errcode(db_) == SQLITE_FULL)
        throw Failure(Failure::Storage, "cannot write " + where_.string() + ": the disk that holds SQLite's temporary folder " + TemporaryFolder() +
                           " (TMPDIR) is full");
    throw Failure(Failure::Storage, what + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory"));
}

void StorageFile::Exec(const std::string &sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
}

sqlite3_stmt *StorageFile::Prepare(const std::string &sql) {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) Fail(sql);
    return st;
}

void StorageFile::CreateTable(const JetTable &t) {
    std::string sql = "CREATE TABLE " + QuoteName(t.name) + " (", values;
    for (std::size_t c = 0; c < t.columns.size(); ++c) {
        sql += (c ? ", " : "") + QuoteName(t.columns[c].name) + " " + t.columns[c].storageType;
        values += c ? ",?" : "?";
    }
    Exec(sql + ")");
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    insert_ = Prepare("INSERT INTO " + QuoteName(t.name) + " VALUES (" + values + ")");
}

void StorageFile::Insert(const Row &row) {
    for (std::size_t c = 0; c < row.size(); ++c) {
        const Value &v = row[c];
        const int at = static_cast<int>(c + 1);
        switch (v.kind) {
        case Value::Kind::Null: sqlite3_bind_null(insert_, at); break;
        case Value::Kind::Integer: sqlite3_bind_int64(insert_, at, v.i); break;
        case Value::Kind::Real: sqlite3_bind_double(insert_, at, v.d); break;
        case Value::Kind::Text: sqlite3_bind_text(insert_, at, v.s.data(), static_cast<int>(v.s.size()), SQLITE_STATIC); break;
        case Value::Kind::Blob: sqlite3_bind_blob(insert_, at, v.s.data(), static_cast<int>(v.s.size()), SQLITE_STATIC); break;
        }
    }
    const int rc = sqlite3_step(insert_);
    sqlite3_reset(insert_);
    if (rc != SQLITE_DONE) Fail("insert");
}

std::vector<std::string> StorageFile::CreateIndexes(const JetTable &t) {
    std::vector<std::string> notes;
    for (const auto &idx : t.indexes) {
        std::string keys;
        for (std::size_t k = 0; k < idx.columns.size(); ++k)
            keys += (k ? ", " : "") + QuoteName(t.columns[idx.columns[k]].name) + (idx.descending[k] ? " DESC" : "");
        // SQLite cannot give a table a primary key after the fact (and an INTEGER one would take the
        // rowid, the row's number): the key's index says what it was.
        const std::string rest = "INDEX " + QuoteName(t.name + "_" + idx.name) + " ON " + QuoteName(t.name) + " (" + keys + ")" +
                                 (idx.primary ? kPrimaryKeyMark : "");
        if (idx.unique && sqlite3_exec(db_, ("CREATE UNIQUE " + rest).c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) continue;
        if (idx.unique) notes.push_back("index " + idx.name + " of [" + t.name + "] is not unique over the rows: made without UNIQUE");
        Exec("CREATE " + rest);
    }
    return notes;
}

void StorageFile::SetPassword(const std::string &password) {
    Exec("CREATE TABLE db_password (sha256 TEXT)");
    Exec("INSERT INTO db_password (sha256) VALUES ('" + platform::dao::Sha256Hex(password) + "')");
}

void StorageFile::Finish(const std::vector<std::pair<std::string, unsigned long>> &tables) {
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    Exec("COMMIT");
    for (const auto &[name, rows] : tables) {
        sqlite3_stmt *st = Prepare("SELECT count(*) FROM " + QuoteName(name));
        const long long n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
        sqlite3_finalize(st);
        if (n != static_cast<long long>(rows))
            throw Failure(Failure::Storage, "[" + name + "] holds " + std::to_string(n) + " rows after the copy instead of " + std::to_string(rows));
    }
    sqlite3_stmt *st = Prepare("PRAGMA quick_check");
    const std::string check = sqlite3_step(st) == SQLITE_ROW ? reinterpret_cast<const char *>(sqlite3_column_text(st, 0)) : "";
    sqlite3_finalize(st);
    if (check != "ok") throw Failure(Failure::Storage, "the written database fails its check: " + check);
    if (sqlite3_close(db_) != SQLITE_OK) Fail("close");
    db_ = nullptr;
}

std::vector<std::string> StorageFile::TableNames() {
    std::vector<std::string> out;
    sqlite3_stmt *st = Prepare("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid");
    while (sqlite3_step(st) == SQLITE_ROW) out.emplace_back(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    return out;
}

std::vector<StorageColumn> StorageFile::Columns(const std::string &table) {
    std::vector<StorageColumn> out;
    sqlite3_stmt *st = Prepare("SELECT name, type FROM pragma_table_info(?)");
    sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW)
        out.push_back({reinterpret_cast<const char *>(sqlite3_column_text(st, 0)), reinterpret_cast<const char *>(sqlite3_column_text(st, 1))});
    sqlite3_finalize(st);
    return out;
}

std::vector<std::string> StorageFile::PasswordHashes() {
    std::vector<std::string> out;
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT sha256 FROM db_password", -1, &st, nullptr) != SQLITE_OK) return out;
    while (sqlite3_step(st) == SQLITE_ROW) {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
        out.emplace_back(text ? text : "");
    }
    sqlite3_finalize(st);
    return out;
}

std::vector<StorageIndex> StorageFile::Indexes(const std::string &table) {
    std::vector<StorageIndex> out;
    sqlite3_stmt *st = Prepare("SELECT l.name, l.\"unique\", coalesce(m.sql, ''), l.partial FROM pragma_index_list(?) l "
                               "LEFT JOIN sqlite_master m ON m.name = l.name ORDER BY l.name");
    sqlite3_stmt *keys = Prepare("SELECT name, \"desc\", coll FROM pragma_index_xinfo(?) WHERE key ORDER BY seqno");
    sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW) {
        StorageIndex idx;
        idx.name = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
        idx.unique = sqlite3_column_int(st, 1) != 0;
        std::string sql = reinterpret_cast<const char *>(sqlite3_column_text(st, 2));
        idx.primary = sql.ends_with(kPrimaryKeyMark);
        if (idx.primary) sql.resize(sql.size() - std::strlen(kPrimaryKeyMark));
        if (sqlite3_column_int(st, 3)) idx.where = WhereClause(sql);
        sqlite3_reset(keys);
        sqlite3_bind_text(keys, 1, idx.name.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(keys) == SQLITE_ROW) {
            const auto *column = reinterpret_cast<const char *>(sqlite3_column_text(keys, 0));
            const auto *coll = reinterpret_cast<const char *>(sqlite3_column_text(keys, 2));
            idx.keys += (idx.keys.empty() ? "" : ", ") + std::string(column ? column : "?") +
                        (coll && !SameNoCase(coll, "BINARY") ? std::string(" COLLATE ") + coll : "") +
                        (sqlite3_column_int(keys, 1) ? " DESC" : "");
        }
        out.push_back(std::move(idx));
    }
    sqlite3_finalize(keys);
    sqlite3_finalize(st);
    return out;
}

StorageFile::Scan::Scan(StorageFile &file, const std::string &table, const std::vector<std::string> &columns)
    : file_(file) {
    std::string sql = "SELECT rowid";
    for (const auto &c : columns) sql += ", " + QuoteName(c);
    st_ = file.Prepare(sql + " FROM " + QuoteName(table) + " ORDER BY rowid");
}

StorageFile::Scan::~Scan() { sqlite3_finalize(st_); }

bool StorageFile::Scan::Next(long long &rowid, Row &row) {
    const int rc = sqlite3_step(st_);
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) file_.Fail("read");
    rowid = sqlite3_column_int64(st_, 0);
    row.resize(static_cast<std::size_t>(sqlite3_column_count(st_) - 1));
    for (std::size_t c = 0; c < row.size(); ++c) {
        const int at = static_cast<int>(c + 1);
        Value &v = row[c];
        switch (sqlite3_column_type(st_, at)) {
        case SQLITE_NULL: v.SetNull(); break;
        case SQLITE_INTEGER: v.SetInteger(sqlite3_column_int64(st_, at)); break;
        case SQLITE_FLOAT: v.SetReal(sqlite3_column_double(st_, at)); break;
        default: {
            v.kind = sqlite3_column_type(st_, at) == SQLITE_BLOB ? Value::Kind::Blob : Value::Kind::Text;
            const auto *p = static_cast<const char *>(sqlite3_column_blob(st_, at));
            v.s.assign(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st_, at)));
        }
        }
    }
    return true;
}

}  // namespace qvmigrate
