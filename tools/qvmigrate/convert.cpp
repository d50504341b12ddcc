#include <chrono>

#include "qvmigrate/jet.h"
#include "qvmigrate/migrate.h"
#include "qvmigrate/place.h"
#include "qvmigrate/storage.h"

namespace qvmigrate {

Converted ConvertJet(const std::filesystem::path &jetFile, const std::filesystem::path &out, const std::string &name,
                     std::ostream &progress) {
    using Clock = std::chrono::steady_clock;
    JetFile jet(jetFile);
    Converted done;
    done.password = !jet.Password().empty();
    for (const auto &t : jet.Tables())
        if (done.password && SameNoCase(t.name, "db_password"))
            throw JetError("it holds a table named db_password, the name this format keeps the password in");
    auto db = StorageFile::CreateForLoad(out);
    std::vector<std::pair<std::string, unsigned long>> counts;
    for (std::size_t i = 0; i < jet.Tables().size(); ++i) {
        const JetTable &t = jet.Tables()[i];
        progress << "qvmigrate: " << name << ": [" << t.name << "] " << t.rows << " rows" << std::endl;
        db->CreateTable(t);
        auto shown = Clock::now();
        const unsigned long n = jet.ReadRows(i, [&](unsigned long row, const Row &cells) {
            db->Insert(cells);
            if (row % 16384 == 0) {
                ThrowIfStopped();
                if (Clock::now() - shown >= std::chrono::seconds(1)) {
                    shown = Clock::now();
                    progress << "qvmigrate: " << name << ": [" << t.name << "] " << row << " of " << t.rows << " rows"
                             << std::endl;
                }
            }
        });
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

}  // namespace qvmigrate
