// SHA-256 through OpenSSL, and hex digits.
#include "platform/digest.h"

#include <openssl/evp.h>

namespace platform {

std::string Hex(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * bytes.size());
    for (const unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
    return out;
}

namespace {

// A context set up once and copied for each digest: an audit batch digests each of its lines, and
// EVP_Digest would look the digest up and make and set up a context for every one.
struct Sha256Context {
    EVP_MD *md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    EVP_MD_CTX *start = EVP_MD_CTX_new();
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    bool ready = md && start && ctx && EVP_DigestInit_ex2(start, md, nullptr) == 1;
    Sha256Context() = default;
    Sha256Context(const Sha256Context &) = delete;
    Sha256Context &operator=(const Sha256Context &) = delete;
    ~Sha256Context() {
        EVP_MD_CTX_free(ctx);
        EVP_MD_CTX_free(start);
        EVP_MD_free(md);
    }
};

}  // namespace

std::array<unsigned char, 32> Sha256Bytes(std::string_view bytes) {
    thread_local Sha256Context sha;
    std::array<unsigned char, 32> md{};
    unsigned int len = 0;
    if (!sha.ready || EVP_MD_CTX_copy_ex(sha.ctx, sha.start) != 1 ||
        EVP_DigestUpdate(sha.ctx, bytes.data(), bytes.size()) != 1 || EVP_DigestFinal_ex(sha.ctx, md.data(), &len) != 1)
        EVP_Digest(bytes.data(), bytes.size(), md.data(), &len, EVP_sha256(), nullptr);
    return md;
}

std::string Sha256Hex(std::string_view bytes) {
    const auto md = Sha256Bytes(bytes);
    return Hex(std::string_view(reinterpret_cast<const char *>(md.data()), md.size()));
}

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(static_cast<EVP_MD_CTX *>(ctx_), EVP_sha256(), nullptr); }

Sha256::~Sha256() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX *>(ctx_)); }

void Sha256::Update(const void *data, std::size_t size) {
    EVP_DigestUpdate(static_cast<EVP_MD_CTX *>(ctx_), data, size);
}

std::string Sha256::Hex() {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(static_cast<EVP_MD_CTX *>(ctx_), md, &len);
    return platform::Hex(std::string_view(reinterpret_cast<const char *>(md), len));
}

}  // namespace platform
