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

}  // namespace platform
