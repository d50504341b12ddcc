#pragma once
// The utility's one digest, SHA-256, and the hex digits it is written in: a protected database's
// password (dao/storage_format.h) and the check of each line of an audit batch (text_appender.h).
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Bytes as lowercase hex digits, two a byte.
std::string Hex(std::string_view bytes);

// The SHA-256 of bytes.
std::array<unsigned char, 32> Sha256Bytes(std::string_view bytes);
// ... as 64 lowercase hex digits.
std::string Sha256Hex(std::string_view bytes);

// SHA-256 of bytes given piece by piece (a file as it is read).
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;
    void Update(const void *data, std::size_t size);
    std::string Hex();  // the digest of everything given, as 64 lowercase hex digits; ends the digest

private:
    void *ctx_;
};

}  // namespace platform
