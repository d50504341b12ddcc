#pragma once
// The child runner: every Jet file is read in a child process, as libmdb may crash on a damaged one and
// that must end only the work on that file, and the trial opening runs in one as the office's logins.
// A child hands its parent one Record: its outcome, then what its work made or the failure's text.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "qvmigrate/errors.h"

namespace qvmigrate {

// What a child process hands its parent: numbers and texts, each text after its length, read back in
// the order they were put. A record read past its end raises Failure (Run).
class Record {
public:
    void Put(std::uint64_t number);
    void Put(std::string_view text);
    std::uint64_t Number();
    std::string Text();
    std::string bytes;

private:
    std::size_t read_ = 0;
};

// Runs `work` in a child process and returns the record it made. `work` writes to the stream it is
// given, which goes to this process's standard error (`toOutput`: standard output); whatever else the
// child prints (libmdb's own lines) is kept apart and summed up in one line, put in `said` (empty when nothing was printed) and added to the message of a failure. A failure in the
// child is raised here as the Failure it was (Run for any other exception); a crash as Failure (Run)
// naming the signal. A stop asked of this process is passed on to the child.
Record Isolated(const std::function<Record(std::ostream &progress)> &work, std::string *said = nullptr, bool toOutput = false);

// A login that the tools' trial opening runs as: a login as it logs in (its own groups and HOME), or
// a member of the office's group made up for the trial when the group has none yet.
struct Login {
    bool switchTo = false;  // false: this process's own user
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    std::string name;  // as the lines name it: "clerk" or "uid 65533"
    std::string home;  // empty: none
};
// This process's own login; the login `uid` as it logs in; a member of `gid` who is not `notUid` (a
// login of the group, else one made up).
Login OwnLogin();
Login LoginOf(uid_t uid, gid_t gidWithoutLogin);
Login GroupMember(gid_t gid, uid_t notUid);

// Runs `work` in a child process as `login`, with no configuration variable of this process; as
// Isolated otherwise.
Record IsolatedAs(const Login &login, const std::function<Record()> &work);

}  // namespace qvmigrate
