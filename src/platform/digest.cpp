// SHA-256 through OpenSSL, and hex digits.
#include "platform/digest.h"

#include <algorithm>
#include <cstring>
#include <vector>

// The SHA256_* routines rather than EVP's: their context is a plain structure, copied for nothing, and
// a digest of a hundred bytes made through EVP spends as much on the context as on the hashing.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

namespace platform {

std::string Hex(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * bytes.size());
    for (const unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
    return out;
}

std::array<unsigned char, 32> Sha256Bytes(std::string_view bytes) {
    std::array<unsigned char, 32> md{};
    ::SHA256(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), md.data());
    return md;
}

std::string Sha256Hex(std::string_view bytes) {
    const auto md = Sha256Bytes(bytes);
    return Hex(std::string_view(reinterpret_cast<const char *>(md.data()), md.size()));
}

Sha256::Sha256() : ctx_(new SHA256_CTX) { SHA256_Init(static_cast<SHA256_CTX *>(ctx_)); }

Sha256::~Sha256() { delete static_cast<SHA256_CTX *>(ctx_); }

void Sha256::Update(const void *data, std::size_t size) { SHA256_Update(static_cast<SHA256_CTX *>(ctx_), data, size); }

std::string Sha256::Hex() {
    unsigned char md[SHA256_DIGEST_LENGTH];
    SHA256_Final(md, static_cast<SHA256_CTX *>(ctx_));
    return platform::Hex(std::string_view(reinterpret_cast<const char *>(md), sizeof md));
}

struct LineDigests::Impl {
    std::string blocks;             // the leading whole blocks of the line before, four at most
    std::vector<SHA256_CTX> after;  // the state after each of them
};

LineDigests::LineDigests() : impl_(std::make_unique<Impl>()) {}

LineDigests::~LineDigests() = default;

std::array<unsigned char, 32> LineDigests::Of(std::string_view line) {
    constexpr std::size_t kBlock = SHA256_CBLOCK, kKept = 4;
    Impl &f = *impl_;
    const std::size_t whole = std::min(line.size() / kBlock, kKept);
    std::size_t same = 0;
    while (same < whole && same < f.after.size() &&
           std::memcmp(line.data() + same * kBlock, f.blocks.data() + same * kBlock, kBlock) == 0)
        ++same;
    SHA256_CTX ctx;
    if (same) ctx = f.after[same - 1];
    else SHA256_Init(&ctx);
    f.after.resize(whole);
    f.blocks.resize(whole * kBlock);
    for (std::size_t b = same; b < whole; ++b) {
        SHA256_Update(&ctx, line.data() + b * kBlock, kBlock);
        f.after[b] = ctx;
        std::memcpy(f.blocks.data() + b * kBlock, line.data() + b * kBlock, kBlock);
    }
    SHA256_Update(&ctx, line.data() + whole * kBlock, line.size() - whole * kBlock);
    std::array<unsigned char, 32> md{};
    SHA256_Final(md.data(), &ctx);
    return md;
}

}  // namespace platform
