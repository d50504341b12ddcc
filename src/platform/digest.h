#pragma once
// The utility's one digest, SHA-256, and the hex digits it is written in: a protected database's
// password (dao/storage_format.h) and the check of each line of an audit batch (text_appender.h).
#include <array>
#include <cstddef>
#include <memory>
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

// The SHA-256 of each of many lines that mostly begin alike (an audit batch's lines share their time
// stamp, login and words up to the account): the state after the leading 64-byte blocks that a line
// shares with the line before is taken over, not computed again. The digests are those of Sha256Bytes.
class LineDigests {
public:
    LineDigests();
    ~LineDigests();
    LineDigests(const LineDigests &) = delete;
    LineDigests &operator=(const LineDigests &) = delete;
    std::array<unsigned char, 32> Of(std::string_view line);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
