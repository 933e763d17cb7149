#pragma once
// String order, the LIKE matcher and the small helpers of the common unit:
// field and header sizes, the data version, field-name lists, paths, wide
// strings, and descriptions of the user, the machine and OS errors.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/storage/zelApi.h"
#include "platform/db/DB.h"

namespace plat {
class TStrings;
}

namespace zel {

// The string order of a table's keys; the ordinal is stored in database
// files, so the order of the values is fixed.
enum TSortOrder : uint8_t { soANSI, soASCII };

inline constexpr std::array<const char*, 2> SortOrderDisplayNames = {"ANSI sort order",
                                                                     "ASCII sort order"};

// The shape shared by the string comparisons behind the sort orders. Lengths
// are in bytes; the result is negative, 0 or positive.
//  - Not Partial: the whole strings are compared; a string that is a prefix of
//    the other sorts first.
//  - Partial: only as many characters as the shorter string holds are
//    compared, so a prefix compares equal to any longer string it starts.
using TDBStringCompare = int32_t (*)(const char* S1, const char* S2, int32_t Length1,
                                     int32_t Length2, bool CaseInsensitive, bool Partial);

// soANSI: the platform's pinned locale-aware collation (base letters, then
// accents, then case; case ignored when CaseInsensitive).
ZEL_API int32_t DBANSICompareStrings(const char* S1, const char* S2, int32_t Length1,
                                     int32_t Length2, bool CaseInsensitive, bool Partial);
// soASCII: byte order, the 26 ASCII letters folded when CaseInsensitive.
int32_t DBASCIICompareStrings(const char* S1, const char* S2, int32_t Length1, int32_t Length2,
                              bool CaseInsensitive, bool Partial);
// UTF-16LE field data (lengths in bytes, odd trailing bytes ignored), compared
// by the same collation as soANSI. Partial cuts both to the shorter length.
int32_t DBCompareWideStrings(const char* S1, const char* S2, int32_t Length1, int32_t Length2,
                             bool CaseInsensitive, bool Partial);

// -1 when A < B, 1 when A > B, else 0.
int32_t CompareReals(double A, double B);

// SQL LIKE: "%" matches any run of characters, "_" exactly one UTF-8
// character (a byte that starts no valid sequence counts as one character);
// other characters match themselves, case-sensitive. There is no escape
// character. Runs in O(len(Value) * len(Pattern)) at worst.
ZEL_API bool MatchPatternedStrings(std::string_view Value, std::string_view Pattern);

// Bytes of a field's fixed part in a record; raises plat::Exception for a type
// that has none.
int32_t CalculateCoreDataSize(plat::TFieldType FieldType);
// The table header is one 256-byte block: 48 bytes plus 6 per index, so at
// most 34 indexes; more raises plat::Exception.
int32_t CalcTableHeaderSize(int32_t IndexCount);
// The data version is the last two characters of a version text ("1.50.03"
// gives 3); 0 when they are not a number.
int32_t GetDataVersionFromFullVersion(const std::string& Version);
// Clears List and adds each ";"-separated name of Names (names may hold blanks
// and commas); a trailing ";" adds no empty name.
void ConvertFieldNamesToList(const std::string& Names, plat::TStrings& List);
// Appends the native separator "/" to a non-empty path that lacks it.
std::string ZelIncludeTrailingBackslash(const std::string& Path);
// Writes S as a zero-terminated UTF-16 string of at most Size - 1 code units
// into Buffer (a surrogate pair is never split); returns Buffer. Nothing is
// written when Size < 1.
char16_t* StringLToWideChar(const std::string& S, char16_t* Buffer, int32_t Size);

// The user and computer names (at most 256 characters; empty on failure).
std::string GetCurrentUser();
std::string GetCurrentComputer();
uint32_t GetCurrentThreadIdVal();
// A 32-bit millisecond tick count; compare markers by unsigned difference.
uint32_t GetMSTimeMarker();
// The platform's text for its last error code.
std::string GetOSErrorMsg();
// "XX:  <platform>.<major>.<minor>.<build>  <service pack>", or "unknown".
std::string GetOSDetails();

}  // namespace zel
