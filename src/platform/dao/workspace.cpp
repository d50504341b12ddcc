// The engine, its workspace, the Databases collection and transactions. During a transaction every
// OpenDatabase of the same file shares one connection and the transaction (the audit rows of a run
// commit or roll back with its changes); Transaction ends it on every path out of a scope.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "platform/dao/impl.h"
#include "platform/error.h"
#include "platform/paths.h"

namespace platform::dao {
namespace {

constexpr int kMaxTransactionLevels = 5;

// The password of a connect string such as ";pwd=secret" (the key in any case).
std::optional<std::string> ConnectPassword(std::string_view connect) {
    size_t start = 0;
    while (start <= connect.size()) {
        size_t end = connect.find(';', start);
        if (end == std::string_view::npos) end = connect.size();
        std::string_view part = connect.substr(start, end - start);
        size_t eq = part.find('=');
        if (eq != std::string_view::npos) {
            std::string key;
            for (char c : part.substr(0, eq))
                if (c != ' ') key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (key == "pwd") return std::string(part.substr(eq + 1));
        }
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::shared_ptr<DatabaseImpl>> WorkspaceImpl::Open() {
    std::vector<std::shared_ptr<DatabaseImpl>> out;
    std::erase_if(databases, [&](const std::weak_ptr<DatabaseImpl> &w) {
        auto db = w.lock();
        if (!db || !db->conn) return true;
        out.push_back(std::move(db));
        return false;
    });
    return out;
}

Database Workspace::OpenDatabase(std::string_view name, bool exclusive, bool readOnly, std::string_view connect) {
    if (!impl_) impl_ = std::make_shared<WorkspaceImpl>();
    WorkspaceImpl &ws = *impl_;
    const std::string windowsName(name);
    const std::filesystem::path file = MapPath(windowsName);
    const auto password = ConnectPassword(connect);

    std::shared_ptr<Connection> conn;
    if (ws.level > 0) {
        // Inside a transaction the file's connection is shared, so the open costs no new open or lock.
        struct stat sb {};
        if (::stat(file.c_str(), &sb) == 0) {
            const FileId id{sb.st_dev, sb.st_ino};
            for (auto &c : ws.inTransaction)
                if (c->Id() == id && (readOnly || !c->ReadOnly())) conn = c;
        }
    }
    if (!conn) {
        conn = Connection::Open(file, exclusive, readOnly);
        if (ws.level > 0) {
            conn->SetWantedLevel(ws.level);
            ws.inTransaction.push_back(conn);
        }
    }
    conn->CheckPassword(password);

    auto impl = std::make_shared<DatabaseImpl>();
    impl->conn = std::move(conn);
    impl->readOnly = readOnly;
    ws.databases.push_back(impl);
    Database db;
    db.impl_ = std::move(impl);
    return db;
}

int Workspace::DatabasesCount() const { return impl_ ? static_cast<int>(impl_->Open().size()) : 0; }

Database Workspace::Databases(int index) const {
    auto open = impl_ ? impl_->Open() : std::vector<std::shared_ptr<DatabaseImpl>>{};
    if (index < 0 || index >= static_cast<int>(open.size())) Raise(3265);
    Database db;
    db.impl_ = open[static_cast<size_t>(index)];
    return db;
}

void Workspace::BeginTrans() {
    if (!impl_) impl_ = std::make_shared<WorkspaceImpl>();
    WorkspaceImpl &ws = *impl_;
    if (ws.level >= kMaxTransactionLevels) Raise(3003, "Could not start transaction; too many transactions already nested.");
    ++ws.level;
    if (ws.level == 1) {
        for (auto &db : ws.Open())
            if (std::find(ws.inTransaction.begin(), ws.inTransaction.end(), db->conn) == ws.inTransaction.end())
                ws.inTransaction.push_back(db->conn);
    }
    for (auto &c : ws.inTransaction) c->SetWantedLevel(ws.level);
}

namespace {
void EndTransaction(WorkspaceImpl *ws, bool commit) {
    if (!ws || ws->level == 0)
        Raise(3034, "You tried to commit or rollback a transaction without first beginning a transaction.");
    std::optional<Error> failure;
    for (auto &c : ws->inTransaction) {
        try {
            c->EndLevel(ws->level, commit);
        } catch (const Error &e) {
            if (!failure) failure = e;
        }
    }
    if (failure && commit) throw *failure;  // the caller may still roll back
    --ws->level;
    if (ws->level == 0) ws->inTransaction.clear();
    if (failure) throw *failure;
}
}  // namespace

void Workspace::CommitTrans() { EndTransaction(impl_.get(), true); }
void Workspace::Rollback() { EndTransaction(impl_.get(), false); }
bool Workspace::InTransaction() const { return impl_ && impl_->level > 0; }

Transaction::Transaction(Workspace &ws) : ws_(ws) { ws_.BeginTrans(); }

Transaction::~Transaction() {
    if (!open_) return;
    try {
        ws_.Rollback();
    } catch (...) {  // the error that unwinds the scope is the one to report
    }
}

void Transaction::Commit() {
    ws_.CommitTrans();
    open_ = false;
}

void Transaction::Rollback() {
    open_ = false;
    ws_.Rollback();
}

DBEngineObject::DBEngineObject() { ws0_.impl_ = std::make_shared<WorkspaceImpl>(); }

Workspace &DBEngineObject::Workspaces(int index) {
    if (index != 0) Raise(3265);
    return ws0_;
}

DBEngineObject &DBEngine() {
    static DBEngineObject engine;
    return engine;
}

}  // namespace platform::dao
