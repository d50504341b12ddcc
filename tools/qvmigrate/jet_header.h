#pragma once
// The header page of a Jet file: a fixed area is masked with an RC4 keystream, not encrypted. Inside
// it lie the database password, in Jet 4 the creation date whose bytes mask the password again, and
// the key of an encoded file, whose every other page is scrambled with an RC4 keystream of that key
// and the page's number (no password needed).
#include <cstddef>
#include <cstdint>
#include <string>

namespace qvmigrate {

inline constexpr std::size_t kPasswordAt = 0x42;
inline constexpr std::size_t kCreationDateAt = 0x72;
inline constexpr std::size_t kEncodingKeyAt = 0x3e;

// Why a file whose first `size` bytes (at least 0x98 of them) are `page0` is no Jet 3 or Jet 4 file:
// "it is not a Jet database", or that it is a later Access file; empty for a Jet file. A missing byte
// is "too short".
std::string FormatProblem(const unsigned char *page0, std::size_t size);

// XORs `size` bytes at `data` with the RC4 keystream of `key`.
void Rc4(const unsigned char *key, std::size_t keySize, unsigned char *data, std::size_t size);

// Masks or unmasks (the same operation) the header area of page 0 in place. `page0` holds at least
// 0x98 bytes.
void ToggleHeaderMask(unsigned char *page0, bool jet4);

// The key of an encoded file from its unmasked header; 0 when the file is not encoded.
std::uint32_t EncodingKey(const unsigned char *unmaskedPage0);

// Encodes or decodes (the same operation) page `number` (not 0) of a file encoded with `key`, in place.
void TogglePageEncoding(unsigned char *page, std::size_t size, std::uint32_t key, std::uint32_t number);

// Jet 4: the four bytes that mask the password bytes, from the unmasked header's creation date.
void PasswordMask(const unsigned char *unmaskedPage0, unsigned char mask[4]);

// The raw password bytes of a header page as stored: 40 bytes of UTF-16LE (Jet 4) or 20 bytes of
// the code page (Jet 3), unmasked, cut at the first NUL character.
std::string PasswordBytes(const unsigned char *page0, bool jet4);

}  // namespace qvmigrate
