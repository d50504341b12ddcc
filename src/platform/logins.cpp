// The names of logins.
#include "platform/logins.h"

#include <pwd.h>

namespace platform {

std::string LoginName(unsigned uid) {
    struct passwd pw {};
    struct passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_name) return found->pw_name;
    return {};
}

std::string LoginOrNumber(unsigned uid) {
    std::string name = LoginName(uid);
    return name.empty() ? "uid " + std::to_string(uid) : name;
}

}  // namespace platform
