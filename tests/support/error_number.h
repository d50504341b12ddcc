#pragma once
// The platform::Error that `f` raises, as its number and description or its number alone (0 for none).
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/error.h"
#include "platform/paths.h"

namespace qvtest {

// "<number> <description>"; empty when `f` raises none.
inline std::string ErrorText(const std::function<void()> &f) {
    try {
        f();
    } catch (const platform::Error &e) {
        return std::to_string(e.number) + " " + platform::Message(e);
    }
    return {};
}
inline int ErrorNumber(const std::function<void()> &f) { return std::atoi(ErrorText(f).c_str()); }

}  // namespace qvtest
