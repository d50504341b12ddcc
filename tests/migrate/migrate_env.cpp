#include "migrate/migrate_env.h"

#include <cstdlib>

#include "support/e2e.h"

namespace qvtest {

namespace fs = std::filesystem;

fs::path DebianJet() {
    const char *xdg = std::getenv("XDG_CACHE_HOME");
    const char *home = std::getenv("HOME");
    return (xdg && *xdg ? fs::path(xdg) : fs::path(home ? home : "/") / ".cache") / "qvutil/debian-jet";
}

MigrateEnv::MigrateEnv() : source(drives.folder('S')), target(drives.folder('C')), config(drives.root() / "xdg/quorvant/qvutil.conf") {
    const fs::path billing = kJet / "billing";
    const std::vector<std::pair<std::string, std::string>> files = {{"global.mdb", "QVNWin32"},
                                                                    {"BILLING.mdb", "QVData"},
                                                                    {"BILLING1.mdb", "QVData/backup"},
                                                                    {"tempdataDTC.mdb", "users/public/qv32tempdata"}};
    fs::create_directories(source / "QVNWin32/AUDIT");
    for (const auto &[name, folder] : files) {
        fs::create_directories(source / folder);
        fs::copy_file(billing / name, source / folder / name);
        copies.emplace_back(source / folder / name, target / folder / name);
    }
}

void MigrateEnv::AddCopy(const fs::path &jet) {
    const fs::path to = source / "QVData/backup" / jet.filename();
    fs::copy_file(jet, to, fs::copy_options::overwrite_existing);
    copies.emplace_back(to, target / "QVData/backup" / jet.filename());
}

QvRun MigrateEnv::Run(std::vector<std::string> args) const {
    args.insert(args.end(), {"--config", config.string(), source.string(), target.string()});
    Program p(fs::path(QV_BIN_DIR) / "qvmigrate", args, {});
    QvRun r;
    r.status = p.wait(120000).value_or(-1);
    r.out = p.output();
    r.err = p.errorOutput();
    return r;
}

}  // namespace qvtest
