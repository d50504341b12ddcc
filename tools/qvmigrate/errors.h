#pragma once
// What stops a piece of qvmigrate's work: one exception, whose text is the output line's reason and
// whose kind tells how the run goes on (a file failed and the rest goes on; nothing done; stopped).
#include <exception>
#include <stdexcept>
#include <string>

namespace qvmigrate {

struct Failure : std::runtime_error {
    enum Kind {
        Usage,    // a mistake in what was asked (options, SOURCE, TARGET, the program folder): nothing is done
        Stopped,  // SIGINT, SIGTERM or SIGHUP asked the run to stop (ThrowIfStopped)
        Jet,      // a Jet file that libmdb or the page reader cannot read, or a damaged one
        Value,    // a cell the storage format cannot hold: the table, row, column and value named
        Storage,  // the converted file cannot be written, or fails its check
        Run,      // the run's own work: a target file or folder, a lock, the configuration file, a child process
    };
    Kind kind;
    Failure(Kind k, const std::string &what) : std::runtime_error(what), kind(k) {}
};

// True when `e` is a Failure of that kind.
inline bool Is(const std::exception &e, Failure::Kind kind) {
    const auto *failure = dynamic_cast<const Failure *>(&e);
    return failure && failure->kind == kind;
}

}  // namespace qvmigrate
