#pragma once
// The utility's one digest, SHA-256, and the hex digits it is written in: a protected database's
// password (dao/storage_format.h) and the check of each line of an audit batch (text_appender.h).
#include <array>
#include <string>
#include <string_view>

namespace platform {

// Bytes as lowercase hex digits, two a byte.
std::string Hex(std::string_view bytes);

// The SHA-256 of bytes.
std::array<unsigned char, 32> Sha256(std::string_view bytes);
// ... as 64 lowercase hex digits.
std::string Sha256Hex(std::string_view bytes);

}  // namespace platform
