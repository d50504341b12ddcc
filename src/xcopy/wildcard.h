#pragma once
// DOS wildcard patterns for file names.
#include <string_view>

namespace xcopy {

// True when `name` matches `pattern`, without regard to letter case. "*" matches any run of
// characters, "?" any one; "*.*" and "*" match every name, with or without a dot, and a pattern
// ending in ".*" also matches the same name without any extension ("readme.*" matches "readme").
bool WildcardMatch(std::string_view pattern, std::string_view name);

bool HasWildcard(std::string_view text);

}  // namespace xcopy
