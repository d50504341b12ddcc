#pragma once
// The number of the platform::Error that `f` raises; 0 when it raises none.
#include <functional>
#include <string>

#include "platform/error.h"
#include "platform/paths.h"

namespace qvtest {

inline int ErrorNumber(const std::function<void()> &f) {
    try {
        f();
    } catch (const platform::Error &e) {
        return e.number;
    }
    return 0;
}

// "<number> <description>" of the platform::Error that `f` raises; empty when it raises none.
inline std::string ErrorText(const std::function<void()> &f) {
    try {
        f();
    } catch (const platform::Error &e) {
        return std::to_string(e.number) + " " + platform::Message(e);
    }
    return {};
}

}  // namespace qvtest
