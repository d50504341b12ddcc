// The state start-up leaves for the tools, read from the settings database; statements run on the data
// database, and the literals they are written with.
#include "startup/shared.h"

#include <filesystem>
#include <system_error>
#include <string_view>

#include "platform/ascii.h"
#include "platform/diagnostics.h"
#include "platform/dao/dbfile.h"
#include "platform/error.h"
#include "platform/filelock.h"
#include "platform/files.h"
#include "platform/safe_file.h"
#include "platform/paths.h"

namespace startup {

SharedState &Shared() {
    static SharedState state;
    return state;
}

void ReadSettings() {
    using namespace platform::dao;
    auto &st = Shared();
    const std::string app = platform::AppPath();
    platform::LogDetail("program folder: " + app);
    st.db = DBEngine().OpenDatabase(platform::JoinedPath(app, "global.mdb"), true, true, kGlobalConnect);
    st.rs = st.db.OpenRecordset("current", dbOpenSnapshot);
    if (st.rs.RecordCount() > 0) {
        st.DataFolder = platform::TrimBlanks(st.rs.Fields("databasepath").Value().ToText());
        st.DataFileName = platform::TrimBlanks(st.rs.Fields("DatabaseFileName").Value().ToText());
        st.DataFilePath = platform::JoinedPath(st.DataFolder, st.DataFileName);  // one backslash where the folder ends in one
    }
    st.rs.Close();
    st.db.Close();
    st.rs = {};
    st.db = {};
}

void ExecuteSql(const std::string &sql) {
    auto &db = Shared().db;
    if (!db) return;  // no database: an engine failure like any other, dropped
    try {
        db.Execute(sql);
    } catch (const platform::Error &) {
        // Dropped by design: callers rely on statements that may fail (DROP TABLE of an absent table).
    }
}

void RemoveKilledRestoreLeftovers(const std::string &dataFilePath) {
    const auto file = platform::MapPath(dataFilePath);
    platform::dao::RemoveRestoreLeftovers(file, SafetyCopyPrefix(file.stem().string()));
    // The .ldb that the check of a chosen copy takes: beside the safety copies in the data folder, or
    // in the auto-copy folder.
    const std::string folder = dataFilePath.substr(0, dataFilePath.find_last_of('\\') + 1);
    for (const std::string &copies : {folder, platform::JoinedPath(folder, "backup")})
        platform::RemoveUnheldLockFiles(platform::MapPath(copies), ".ldb");
}

void RemoveKilledWindowLock(const std::string &dataFilePath) {
    if (dataFilePath.empty()) return;
    try {
        const auto lock = platform::MapPath(ReadDateLockOf(dataFilePath));
        std::error_code ec;
        if (std::filesystem::symlink_status(lock, ec).type() != std::filesystem::file_type::regular)
            return;  // nothing to remove (none is made), or another login's link (never followed)
        platform::FileLock::TryTake(lock);    // taken and let go at once: its last holder removes it
    } catch (const platform::Error &) {
    }
}

std::string LoginMayNotChangeNote(const platform::Error &e) {
    return e.number == 70 && !e.refusedLink
               ? "This login may not change that database or create files in its folder. "
               : "";
}

std::string CannotChangeReason(const platform::Error &e, const std::string &database, const std::string &also) {
    if (e.number == 70 && !e.refusedLink) {
        const std::size_t slash = database.find_last_of('\\');
        const std::string folder = slash == std::string::npos ? "." : database.substr(0, slash == 2 ? 3 : slash);
        if (const std::string group = platform::GroupThisLoginIsNotIn(folder); !group.empty()) {
            const std::string login = platform::UserName();
            return "The login " + login + " is not in the group " + group + ", which owns the folder of the database " +
                   database + ": only the logins of that group may change it. The administrator adds this login to "
                   "the group (sudo usermod -aG " + group + " " + login + "); it counts from its next log-in.\n\n";
        }
    }
    // The open stopped at a lock file the engine keeps beside the database: the note tells what matters.
    const bool lockFile = e.number == 70 && (e.file.extension() == ".ldb" || e.file.extension() == ".frd");
    const std::string lock = lockFile ? platform::ShownPath(e.file) : std::string();
    return platform::WithFullStop(platform::Message(e, {database, also, lock})) + "\n\n" + LoginMayNotChangeNote(e);
}

std::string TextOf(const platform::dao::Variant &value) { return value.IsNull() ? std::string() : value.ToText(); }

std::string SqlQuote(const std::string &value) {
    std::string out;
    out.reserve(value.size() + 2);
    for (char c : value) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

std::string SqlLiteral(const platform::dao::Variant &value) {
    using Kind = platform::dao::Variant::Kind;
    switch (value.kind()) {
    case Kind::Null: return "Null";
    case Kind::Long:
    case Kind::Double: return value.ToText();
    default: return "'" + SqlQuote(value.ToText()) + "'";
    }
}

bool IsBackupDataFolderName(const std::string &name) {
    for (const char *copy : {"QVNWin32", "QVWin32"}) {
        const std::string data = BackupDataFolder(copy);
        if (name == data) return true;
        const std::string replaced = ReplacedFolder(data, "");
        // "YYYY-MM-DD HH.MM.SS": digits where the pattern has them
        static constexpr std::string_view kStamp = "0000-00-00 00.00.00";
        if (name.size() != replaced.size() + kStamp.size() || !name.starts_with(replaced)) continue;
        bool stamped = true;
        for (std::size_t i = 0; i < kStamp.size(); ++i) {
            const char c = name[replaced.size() + i];
            stamped = stamped && (kStamp[i] == '0' ? c >= '0' && c <= '9' : c == kStamp[i]);
        }
        if (stamped) return true;
    }
    return false;
}

}  // namespace startup
