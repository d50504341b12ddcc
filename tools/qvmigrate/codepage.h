#pragma once
// Jet 3 text: bytes of the database's code page, decoded as Windows decodes them.
#include <array>
#include <string>

namespace qvmigrate {

class CodePageText {
public:
    // Raises JetError for a code page that this system cannot decode.
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

}  // namespace qvmigrate
