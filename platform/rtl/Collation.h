#pragma once
// The pinned case mapping and collation behind AnsiUpperCase, AnsiLowerCase,
// AnsiCompareStr and AnsiCompareText (declared in Strings.h), and the strict
// UTF-8 decoder they share with the other text helpers.
//
// Rules the collation keeps (indexes stored in files depend on them):
//  1. Text is read as UTF-8 characters; a byte that does not begin a valid
//     sequence (overlong, surrogate, above U+10FFFF, truncated) is one
//     "invalid" character of its own and the next character starts at the
//     following byte. Case mapping only ever replaces a valid character by a
//     valid character of the same length, so a string and its upper-cased
//     form split into the same characters.
//  2. Each character gives one or two collation elements (ligatures such as
//     "ae" and the sharp s give two). An element has a primary weight (base
//     letter; 0 for combining marks, which are skipped at that level), a
//     secondary weight (accent) and a tertiary weight (0 lower or uncased,
//     1 upper).
//  3. Primary groups in order: control characters, blanks, punctuation and
//     symbols, digits, Latin letters, Greek letters, Cyrillic letters, every
//     other character by code point, invalid bytes.
//  4. Strings compare by their primary sequences, then their secondary
//     sequences, then their tertiary sequences; AnsiCompareStr breaks a
//     remaining tie by bytes, AnsiCompareText stops after the secondary level.
//  5. A character and its AnsiUpperCase form have equal primary and secondary
//     weights, so strings with equal upper-cased forms compare equal ignoring
//     case; and two single characters compare equal ignoring case only when
//     their upper-cased forms are equal.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace plat {

// One character of a byte string: a code point of `Length` bytes, or, when
// not `Valid`, the single byte `Code` that does not begin valid UTF-8.
struct TUtf8Char {
  uint32_t Code;
  uint8_t Length;
  bool Valid;
};

// Decodes the character that starts at s[pos]; pos must be below s.size().
inline TUtf8Char DecodeUtf8At(std::string_view s, size_t pos) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  const uint8_t b0 = byte(pos);
  const TUtf8Char invalid{b0, 1, false};
  if (b0 < 0x80) return {b0, 1, true};
  size_t len;
  uint32_t cp;
  uint32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, cp = b0 & 0x1Fu, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, cp = b0 & 0x0Fu, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, cp = b0 & 0x07u, min = 0x10000;
  } else {
    return invalid;
  }
  if (s.size() - pos < len) return invalid;
  for (size_t i = 1; i < len; ++i) {
    const uint8_t b = byte(pos + i);
    if ((b & 0xC0) != 0x80) return invalid;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return invalid;
  return {cp, static_cast<uint8_t>(len), true};
}

// Writes the UTF-8 form of a valid code point to `out` (room for 4 bytes) and
// returns its length.
inline size_t EncodeUtf8(uint32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

// The pinned simple case mapping of one code point; unmapped code points map
// to themselves.
uint32_t AnsiUpperChar(uint32_t cp);
uint32_t AnsiLowerChar(uint32_t cp);

}  // namespace plat
