#pragma once
// Byte-string helpers of the runtime. Strings are byte strings holding UTF-8
// (the system's "ANSI" code page). Positions are 1-based and clamp as the
// library's do, so code written against the library keeps its meaning.
//
// Case mapping and the "ANSI" comparison are our own and pinned: index order
// is stored in database files, so nothing here looks at the C library's
// locale. Changing a case pair or a collation weight changes the order of
// stored indexes.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace plat {

// --- 1-based positions -------------------------------------------------------

// Up to `count` bytes from 1-based `index`. An index below 1 starts at the
// first byte (the count is kept); an index past the end or a count below 1
// gives an empty string.
std::string Copy(std::string_view s, int64_t index, int64_t count);
// 1-based position of the first `sub` in `s`, 0 when absent or `sub` is empty.
int32_t Pos(std::string_view sub, std::string_view s);
// As Pos, searching from 1-based `offset`; 0 when offset is outside 1..Length.
int32_t PosEx(std::string_view sub, std::string_view s, int64_t offset = 1);
// Removes up to `count` bytes from 1-based `index`; nothing when the index is
// outside the string or the count is below 1.
void Delete(std::string& s, int64_t index, int64_t count);
// Inserts `sub` before 1-based `index`; an index below 1 inserts at the front,
// one past the end or more appends.
void Insert(std::string_view sub, std::string& s, int64_t index);

// Removes leading and/or trailing bytes up to and including the blank (all
// control characters and the space).
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

std::string StringOfChar(char ch, int64_t count);

// --- Case and comparison -----------------------------------------------------

// The 26 ASCII letters only; every other byte stays.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);

// Byte order: negative, 0 or positive. CompareText folds the 26 ASCII letters
// to upper case before comparing.
int32_t CompareStr(std::string_view a, std::string_view b);
int32_t CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);

// The pinned case mapping: ASCII, Latin-1 Supplement, Latin Extended-A, Greek
// and Cyrillic letters by their simple one-to-one mapping. A character whose
// other case has a different UTF-8 length, and every byte that is not valid
// UTF-8, stays as it is; so the result always has the input's length.
std::string AnsiUpperCase(std::string_view s);
std::string AnsiLowerCase(std::string_view s);

// The pinned collation (see Collation.h): a multi-level comparison by
// characters, base letters first, then accents, then case (lower before
// upper). AnsiCompareStr breaks a remaining tie by byte order, so it returns 0
// only for identical strings; AnsiCompareText stops after the accent level.
// Results are negative, 0 or positive (-1, 0, 1).
int32_t AnsiCompareStr(std::string_view a, std::string_view b);
int32_t AnsiCompareText(std::string_view a, std::string_view b);
bool AnsiSameStr(std::string_view a, std::string_view b);
bool AnsiSameText(std::string_view a, std::string_view b);

// --- Replacing and quoting ---------------------------------------------------

enum TReplaceFlag : uint8_t { rfReplaceAll, rfIgnoreCase };

// A set of TReplaceFlag, written as {rfReplaceAll, rfIgnoreCase}.
class TReplaceFlags {
 public:
  constexpr TReplaceFlags() = default;
  constexpr TReplaceFlags(TReplaceFlag flag) : bits_(Bit(flag)) {}
  constexpr TReplaceFlags(std::initializer_list<TReplaceFlag> flags) {
    for (TReplaceFlag f : flags) bits_ |= Bit(f);
  }
  constexpr bool Contains(TReplaceFlag flag) const { return (bits_ & Bit(flag)) != 0; }

 private:
  static constexpr uint8_t Bit(TReplaceFlag f) { return static_cast<uint8_t>(1u << f); }
  uint8_t bits_ = 0;
};

// Replaces the first (or, with rfReplaceAll, every) occurrence of `oldPattern`.
// With rfIgnoreCase occurrences are found ignoring case by AnsiUpperCase, which
// keeps byte lengths, so positions in the upper-cased text are positions in s.
// An empty pattern replaces nothing.
std::string StringReplace(std::string_view s, std::string_view oldPattern,
                          std::string_view newPattern, TReplaceFlags flags);

// 'text' with every ' doubled.
std::string QuotedStr(std::string_view s);
// `quote` + text with every `quote` doubled + `quote`.
std::string AnsiQuotedStr(std::string_view s, char quote);
// The inverse of AnsiQuotedStr. A text that does not begin with `quote` is
// returned unchanged; a missing closing quote takes the rest of the text.
std::string AnsiDequotedStr(std::string_view s, char quote);

// --- Integers ----------------------------------------------------------------

std::string IntToStr(int32_t value);
std::string IntToStr(int64_t value);
// Any other integer type goes to the 64-bit form (unsigned values above the
// int64 range are written as unsigned).
std::string IntToStr(uint64_t value);
inline std::string IntToStr(uint32_t value) {
  return IntToStr(static_cast<int64_t>(value));
}
inline std::string IntToStr(long long value) {
  return IntToStr(static_cast<int64_t>(value));
}
inline std::string IntToStr(unsigned long long value) {
  return IntToStr(static_cast<uint64_t>(value));
}
inline std::string IntToStr(int16_t value) {
  return IntToStr(static_cast<int32_t>(value));
}
inline std::string IntToStr(uint16_t value) {
  return IntToStr(static_cast<int32_t>(value));
}

// Upper-case hexadecimal with at least `digits` digits. A negative value is
// written in two's complement of its own width (8 or 16 digits).
std::string IntToHex(int32_t value, int32_t digits);
std::string IntToHex(int64_t value, int32_t digits);
inline std::string IntToHex(uint32_t value, int32_t digits) {
  return IntToHex(static_cast<int64_t>(value), digits);
}
inline std::string IntToHex(uint64_t value, int32_t digits) {
  return IntToHex(static_cast<int64_t>(value), digits);
}
inline std::string IntToHex(long long value, int32_t digits) {
  return IntToHex(static_cast<int64_t>(value), digits);
}
inline std::string IntToHex(unsigned long long value, int32_t digits) {
  return IntToHex(static_cast<int64_t>(value), digits);
}

// Integer text: optional blanks, an optional sign, then decimal digits or
// hexadecimal digits after "$" or "0x", then optional blanks. Hexadecimal
// text may use the whole unsigned width (so "$FFFFFFFF" is -1); decimal text
// must lie in range. Bad text raises EConvertError
// "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view s);
int32_t StrToIntDef(std::string_view s, int32_t defaultValue);
bool TryStrToInt(std::string_view s, int32_t& value);
int64_t StrToInt64(std::string_view s);
int64_t StrToInt64Def(std::string_view s, int64_t defaultValue);
bool TryStrToInt64(std::string_view s, int64_t& value);

// --- UTF-8 and UTF-16 --------------------------------------------------------

// Each byte that does not begin a valid UTF-8 sequence (overlong forms,
// surrogates and values above U+10FFFF included) becomes U+FFFD.
std::u16string Utf8ToWide(std::string_view s);
// An unpaired surrogate becomes U+FFFD.
std::string WideToUtf8(std::u16string_view s);
// The longest prefix of at most `maxBytes` bytes that does not end inside a
// valid multi-byte character. Invalid bytes count as characters of one byte.
std::string CutToCharBoundary(std::string_view s, size_t maxBytes);

// --- File names ("/" separates) ----------------------------------------------

inline constexpr char PathDelim = '/';

// The part after the last "/".
std::string ExtractFileName(std::string_view fileName);
// The part up to and including the last "/".
std::string ExtractFilePath(std::string_view fileName);
// As ExtractFilePath without the trailing "/", except for the root "/".
std::string ExtractFileDir(std::string_view fileName);
// From the last "." of the name part on, including the "."; empty when none.
std::string ExtractFileExt(std::string_view fileName);
// Replaces (or adds) the extension of the name part; `extension` includes ".".
std::string ChangeFileExt(std::string_view fileName, std::string_view extension);
// An empty path stays empty: it names the current directory, and a "/" would
// turn a relative file name into one at the root.
std::string IncludeTrailingPathDelimiter(std::string_view path);
std::string ExcludeTrailingPathDelimiter(std::string_view path);

}  // namespace plat
