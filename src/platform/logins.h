#pragma once
// The names of logins, from the system's user database: low enough for the lock files to name the
// login holding one.
#include <string>

namespace platform {

// The login name of the user `uid`; empty when the system knows none.
std::string LoginName(unsigned uid);
// LoginName, or "uid <uid>" when the system knows none.
std::string LoginOrNumber(unsigned uid);

}  // namespace platform
