#pragma once
// The number of the platform::Error that `f` raises; 0 when it raises none.
#include <functional>

#include "platform/error.h"

namespace qvtest {

inline int ErrorNumber(const std::function<void()> &f) {
    try {
        f();
    } catch (const platform::Error &e) {
        return e.number;
    }
    return 0;
}

}  // namespace qvtest
