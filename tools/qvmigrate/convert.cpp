// One Jet file converted into a database file of the storage format, table by table, with progress.
#include <chrono>
#include <sstream>

#include "qvmigrate/errors.h"
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
            throw Failure(Failure::Jet, "it holds a table named db_password, the name this format keeps the password in");
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
Record EncodeConverted(const Converted &c) {
    Record out;
    for (const std::uint64_t n : {std::uint64_t{c.tables}, std::uint64_t{c.indexes}, std::uint64_t{c.rows}, std::uint64_t{c.password},
                                  std::uint64_t{c.notes.size()}})
        out.Put(n);
    for (const auto &note : c.notes) out.Put(note);
    return out;
}

Converted DecodeConverted(Record record) {
    Converted c;
    c.tables = record.Number();
    c.indexes = record.Number();
    c.rows = record.Number();
    c.password = record.Number() != 0;
    for (auto notes = record.Number(); notes > 0; --notes) c.notes.push_back(record.Text());
    return c;
}

}  // namespace qvmigrate
