// The header page of a Jet file: its format check, its mask, the database password under it, and the
// encoding of the other pages.
#include "qvmigrate/jet_header.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace qvmigrate {

namespace {

constexpr std::size_t kMaskedAt = 0x18;
constexpr unsigned char kKey[] = {0xc7, 0xda, 0x39, 0x6b};

}  // namespace

std::string FormatProblem(const unsigned char *page0, std::size_t size) {
    if (size < 0x98) return "it is too short to be a Jet database";
    const auto magic = [&](const char *text) { return std::memcmp(page0 + 4, text, 16) == 0; };
    if (std::memcmp(page0, "\0\1\0\0", 4) != 0 || !(magic("Standard Jet DB") || magic("Standard ACE DB")))
        return "it is not a Jet database (its first page is not a Jet header)";
    if (page0[0x14] <= 1) return {};
    // A later file with a key in its header is encrypted with a password (Office encryption), which
    // takes that password and a cipher this reader does not have.
    unsigned char header[0x98];
    std::memcpy(header, page0, sizeof header);
    ToggleHeaderMask(header, true);
    return EncodingKey(header) ? "an Access 2007 or later database (.accdb format) encrypted with a password (Office encryption), "
                                 "which this tool cannot read: remove the password in Access first (File, Info, Decrypt Database)"
                               : "an Access 2007 or later database (.accdb format); only Jet 3 and Jet 4 files are read";
}

void Rc4(const unsigned char *key, std::size_t keySize, unsigned char *data, std::size_t size) {
    unsigned char s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
    for (std::size_t i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % keySize]) & 255;
        std::swap(s[i], s[j]);
    }
    for (std::size_t n = 0, i = 0, j = 0; n < size; ++n) {
        i = (i + 1) & 255;
        j = (j + s[i]) & 255;
        std::swap(s[i], s[j]);
        data[n] ^= s[(s[i] + s[j]) & 255];
    }
}

void ToggleHeaderMask(unsigned char *page0, bool jet4) { Rc4(kKey, sizeof kKey, page0 + kMaskedAt, jet4 ? 128 : 126); }

std::uint32_t EncodingKey(const unsigned char *p) {
    const unsigned char *k = p + kEncodingKeyAt;
    return static_cast<std::uint32_t>(k[0] | k[1] << 8 | k[2] << 16) | static_cast<std::uint32_t>(k[3]) << 24;
}

void TogglePageEncoding(unsigned char *page, std::size_t size, std::uint32_t key, std::uint32_t number) {
    const std::uint32_t pageKey = key ^ number;
    const unsigned char bytes[4] = {static_cast<unsigned char>(pageKey), static_cast<unsigned char>(pageKey >> 8),
                                    static_cast<unsigned char>(pageKey >> 16), static_cast<unsigned char>(pageKey >> 24)};
    Rc4(bytes, sizeof bytes, page, size);
}

void PasswordMask(const unsigned char *unmaskedPage0, unsigned char mask[4]) {
    double created = 0;
    std::memcpy(&created, unmaskedPage0 + kCreationDateAt, sizeof created);
    const auto days = static_cast<std::uint32_t>(static_cast<std::int32_t>(created));
    for (int i = 0; i < 4; ++i) mask[i] = static_cast<unsigned char>(days >> (8 * i));
}

std::string PasswordBytes(const unsigned char *page0, bool jet4) {
    unsigned char header[0x98];
    std::memcpy(header, page0, sizeof header);
    ToggleHeaderMask(header, jet4);
    unsigned char mask[4] = {};
    if (jet4) PasswordMask(header, mask);
    const std::size_t length = jet4 ? 40 : 20, unit = jet4 ? 2 : 1;
    std::string out;
    for (std::size_t at = 0; at + unit <= length; at += unit) {
        std::string ch;
        for (std::size_t k = at; k < at + unit; ++k)
            ch += static_cast<char>(header[kPasswordAt + k] ^ mask[k % 4]);
        if (ch.find_first_not_of('\0') == std::string::npos) break;
        out += ch;
    }
    return out;
}

}  // namespace qvmigrate
