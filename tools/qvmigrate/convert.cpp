// One Jet file converted into a database file of the storage format, table by table, with progress.
#include <chrono>
#include <sstream>

#include "qvmigrate/jet.h"
#include "qvmigrate/migrate.h"
#include "qvmigrate/place.h"
#include "qvmigrate/storage.h"

namespace qvmigrate {

Converted ConvertJet(const std::filesystem::path &jetFile, int out, const std::filesystem::path &target, const std::string &name,
                     std::ostream &progress) {
    using Clock = std::chrono::steady_clock;
    JetFile jet(jetFile);
    Converted done;
    done.password = !jet.Password().empty();
    for (const auto &t : jet.Tables())
        if (done.password && SameNoCase(t.name, "db_password"))
            throw JetError("it holds a table named db_password, the name this format keeps the password in");
    auto db = StorageFile::CreateForLoad(out, target);
    std::vector<std::pair<std::string, unsigned long>> counts;
    for (std::size_t i = 0; i < jet.Tables().size(); ++i) {
        const JetTable &t = jet.Tables()[i];
        Say(progress, "qvmigrate: " + name + ": [" + t.name + "] " + std::to_string(t.rows) + " rows");
        db->CreateTable(t);
        auto shown = Clock::now();
        JetFile::Rows rows(jet, i);
        for (Row cells; rows.Next(cells);) {
            db->Insert(cells);
            if (rows.Count() % 16384 == 0) {
                ThrowIfStopped();
                if (Clock::now() - shown >= std::chrono::seconds(1)) {
                    shown = Clock::now();
                    Say(progress, "qvmigrate: " + name + ": [" + t.name + "] " + std::to_string(rows.Count()) + " of " +
                                      std::to_string(t.rows) + " rows");
                }
            }
        }
        const unsigned long n = rows.Count();
        if (rows.MinusZeros())
            done.notes.push_back("[" + t.name + "]: " + std::to_string(rows.MinusZeros()) +
                                 " cells of minus zero stored as 0 (SQLite keeps no minus zero)");
        const auto notes = db->CreateIndexes(t);
        done.notes.insert(done.notes.end(), notes.begin(), notes.end());
        done.indexes += t.indexes.size();
        done.rows += n;
        counts.emplace_back(t.name, n);
    }
    done.tables = jet.Tables().size();
    if (done.password) db->SetPassword(jet.Password());
    ThrowIfStopped();
    db->Finish(counts);
    return done;
}

// What a conversion in a child process tells: its counts, then one line a note.
std::string EncodeConverted(const Converted &c) {
    std::string out = std::to_string(c.tables) + " " + std::to_string(c.indexes) + " " + std::to_string(c.rows) + " " +
                      (c.password ? "1" : "0");
    for (const auto &n : c.notes) out += "\n" + n;
    return out;
}

Converted DecodeConverted(const std::string &text) {
    Converted c;
    std::istringstream in(text);
    int password = 0;
    in >> c.tables >> c.indexes >> c.rows >> password;
    c.password = password != 0;
    in.ignore();
    for (std::string line; std::getline(in, line);) c.notes.push_back(line);
    return c;
}

}  // namespace qvmigrate
