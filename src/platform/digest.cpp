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

std::string Sha256Hex(std::string_view bytes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_sha256(), nullptr);
    return Hex(std::string_view(reinterpret_cast<const char *>(md), len));
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
