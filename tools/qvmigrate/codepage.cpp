// Each byte of a single-byte code page is decoded by iconv; the bytes that the code page defines no
// character for are decoded as Windows does (MultiByteToWideChar): the Windows ANSI code pages map
// 0x80-0x9F to the C1 controls of the same value and a few others to characters of their own.
#include "qvmigrate/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "qvmigrate/errors.h"

namespace qvmigrate {

namespace {

struct WindowsOwn {
    int codePage;
    unsigned char first, last;
    char32_t character;  // of `first`; the following bytes take the following characters
};
constexpr WindowsOwn kWindowsOwn[] = {
    {874, 0xdb, 0xde, 0xf8c1},  {874, 0xfc, 0xff, 0xf8c5},  {1253, 0xaa, 0xaa, 0xf8f9}, {1253, 0xd2, 0xd2, 0xf8fa},
    {1253, 0xff, 0xff, 0xf8fb}, {1255, 0xca, 0xca, 0x05ba}, {1255, 0xd9, 0xdf, 0xf88d}, {1255, 0xfb, 0xfc, 0xf894},
    {1255, 0xff, 0xff, 0xf896}, {1257, 0xa1, 0xa1, 0xf8fc}, {1257, 0xa5, 0xa5, 0xf8fd},
};

bool WindowsAnsi(int codePage) { return codePage == 874 || (codePage >= 1250 && codePage <= 1258); }
bool DoubleByte(int codePage) { return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950; }

constexpr std::string_view kUnknown = "\xef\xbf\xbd";  // U+FFFD

void AppendUtf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += {static_cast<char>(0xc0 | c >> 6), static_cast<char>(0x80 | (c & 0x3f))};
    } else if (c < 0x10000) {
        out += {static_cast<char>(0xe0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3f)), static_cast<char>(0x80 | (c & 0x3f))};
    } else {
        out += {static_cast<char>(0xf0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3f)),
                static_cast<char>(0x80 | (c >> 6 & 0x3f)), static_cast<char>(0x80 | (c & 0x3f))};
    }
}

std::string Utf8(char32_t c) {
    std::string out;
    AppendUtf8(out, c);
    return out;
}

iconv_t OpenCodePage(int codePage) { return ::iconv_open("UTF-8", ("CP" + std::to_string(codePage)).c_str()); }
const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

// iconv of `in` to UTF-8; false when it holds a sequence without a character.
bool Convert(iconv_t cd, const char *in, std::size_t size, std::string &out) {
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    out.assign(size * 4 + 4, '\0');
    char *src = const_cast<char *>(in), *dst = out.data();
    std::size_t left = size, room = out.size();
    const bool ok = ::iconv(cd, &src, &left, &dst, &room) != static_cast<std::size_t>(-1) &&
                    ::iconv(cd, nullptr, nullptr, &dst, &room) != static_cast<std::size_t>(-1);
    out.resize(out.size() - room);
    return ok && left == 0;
}

}  // namespace

CodePageText::CodePageText(int codePage) : codePage_(codePage), doubleByte_(DoubleByte(codePage)) {
    iconv_t cd = OpenCodePage(codePage);
    if (cd == kNoIconv)
        throw Failure(Failure::Jet, "its texts are in code page " + std::to_string(codePage) + ", which this system cannot decode");
    if (doubleByte_) {
        iconv_ = cd;
        return;
    }
    for (unsigned b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        if (Convert(cd, &byte, 1, bytes_[b])) continue;
        bytes_[b].clear();
        if (!WindowsAnsi(codePage)) continue;
        if (b >= 0x80 && b <= 0x9f) bytes_[b] = Utf8(b);
        for (const auto &own : kWindowsOwn)
            if (own.codePage == codePage && b >= own.first && b <= own.last) bytes_[b] = Utf8(own.character + (b - own.first));
    }
    ::iconv_close(cd);
}

CodePageText::~CodePageText() {
    if (iconv_) ::iconv_close(static_cast<iconv_t>(iconv_));
}

bool CodePageText::Decode(const unsigned char *p, std::size_t n, std::string &out) const {
    if (doubleByte_) return Convert(static_cast<iconv_t>(iconv_), reinterpret_cast<const char *>(p), n, out);
    out.clear();
    for (std::size_t i = 0; i < n; ++i) {
        const std::string &c = bytes_[p[i]];
        if (c.empty()) return false;
        out += c;
    }
    return true;
}

std::string PlainCodePageText(std::string_view bytes, int codePage) {
    iconv_t cd = OpenCodePage(codePage);
    std::string out;
    if (cd == kNoIconv) {
        for (std::size_t i = 0; i < bytes.size(); ++i) out += kUnknown;
        return out;
    }
    out.assign(bytes.size() * 4 + 4, '\0');
    char *src = const_cast<char *>(bytes.data()), *dst = out.data();
    std::size_t left = bytes.size(), room = out.size();
    while (left > 0 && ::iconv(cd, &src, &left, &dst, &room) == static_cast<std::size_t>(-1)) {
        // A byte without a character stands for U+FFFD (in the ANSI code pages 0x80-0x9F for the C1
        // control of that value, as every decoder of them has it), and decoding goes on after it.
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const auto b = static_cast<unsigned char>(*src++);
        --left;
        const std::string c = WindowsAnsi(codePage) && b >= 0x80 && b <= 0x9f ? Utf8(b) : std::string(kUnknown);
        std::memcpy(dst, c.data(), c.size());
        dst += c.size();
        room -= c.size();
    }
    ::iconv_close(cd);
    out.resize(out.size() - room);
    return out;
}

std::string Utf8FromUtf16(std::u16string_view units) {
    std::string out;
    out.reserve(units.size() * 3);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char32_t u = units[i];
        if (u < 0xd800 || u > 0xdfff) {
            AppendUtf8(out, u);
        } else if (u < 0xdc00 && i + 1 < units.size() && units[i + 1] >= 0xdc00 && units[i + 1] <= 0xdfff) {
            AppendUtf8(out, 0x10000 + ((u - 0xd800) << 10) + (units[i + 1] - 0xdc00));
            ++i;
        } else {
            out += kUnknown;
        }
    }
    return out;
}

std::u32string Utf32FromUtf8(std::string_view text) {
    std::u32string out;
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    for (std::size_t i = 0, n = text.size(); i < n;) {
        const unsigned char b = p[i];
        const int more = b < 0x80 ? 0 : b >= 0xc2 && b < 0xe0 ? 1 : b >= 0xe0 && b < 0xf0 ? 2 : b >= 0xf0 && b < 0xf5 ? 3 : -1;
        char32_t c = more == 0 ? b : more == 1 ? b & 0x1f : more == 2 ? b & 0x0f : b & 0x07;
        int k = 1;
        for (; more > 0 && k <= more && i + k < n && (p[i + k] & 0xc0) == 0x80; ++k) c = c << 6 | (p[i + k] & 0x3f);
        const bool valid = more >= 0 && k == more + 1 && !(more == 2 && (c < 0x800 || (c >= 0xd800 && c <= 0xdfff))) &&
                           !(more == 3 && (c < 0x10000 || c > 0x10ffff));
        out += valid ? c : U'\ufffd';
        i += valid ? k : 1;
    }
    return out;
}

}  // namespace qvmigrate
