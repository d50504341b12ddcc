#pragma once
// Jet text to UTF-8: Jet 3 bytes of the database's code page, decoded as Windows decodes them, and
// the Unicode forms of Jet 4.
#include <array>
#include <string>
#include <string_view>

namespace qvmigrate {

class CodePageText {
public:
    // Raises Failure (Jet) for a code page that this system cannot decode.
    explicit CodePageText(int codePage);
    ~CodePageText();
    CodePageText(const CodePageText &) = delete;
    CodePageText &operator=(const CodePageText &) = delete;

    int CodePage() const { return codePage_; }
    // UTF-8 of `bytes`; false when a byte (or, in the double-byte code pages, a sequence) stands for
    // no character of the code page.
    bool Decode(const unsigned char *bytes, std::size_t size, std::string &out) const;

private:
    int codePage_;
    bool doubleByte_ = false;
    void *iconv_ = nullptr;               // double-byte code pages: the whole text through iconv
    std::array<std::string, 256> bytes_;  // single-byte code pages: each byte's UTF-8; empty: none
};

// Bytes of a code page decoded by iconv, without the characters that Windows adds beyond the C1
// controls: U+FFFD for a byte (or sequence) without a character, every byte so when this system
// cannot decode the code page.
std::string PlainCodePageText(std::string_view bytes, int codePage);

// UTF-8 of UTF-16 code units: surrogate pairs joined, a lone surrogate (which UTF-8 cannot hold) U+FFFD.
std::string Utf8FromUtf16(std::u16string_view units);
// The characters of UTF-8 text; a byte that starts no valid sequence stands for U+FFFD.
std::u32string Utf32FromUtf8(std::string_view text);

}  // namespace qvmigrate
