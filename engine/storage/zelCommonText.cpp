#include "engine/storage/zelCommonText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/os/Os.h"
#include "platform/rtl/Collation.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

// Bytes of the character that starts at s[i]: a byte that begins no valid
// UTF-8 sequence is a character of its own, as the collation reads text.
inline size_t CharLen(std::string_view s, size_t i) {
  return plat::DecodeUtf8At(s, i).Length;
}

// At most 256 characters, cut on a character boundary.
std::string LimitName(std::string name) {
  constexpr size_t kMaxChars = 256;
  size_t i = 0;
  for (size_t chars = 0; i < name.size() && chars < kMaxChars; ++chars) i += CharLen(name, i);
  name.resize(i);
  return name;
}

inline unsigned char FoldAsciiLetter(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

}  // namespace

int32_t DBASCIICompareStrings(const char* S1, const char* S2, int32_t Length1, int32_t Length2,
                              bool CaseInsensitive, bool Partial) {
  const int32_t l1 = std::max(Length1, 0);
  const int32_t l2 = std::max(Length2, 0);
  const int32_t n = std::min(l1, l2);
  const auto* a = reinterpret_cast<const unsigned char*>(S1);
  const auto* b = reinterpret_cast<const unsigned char*>(S2);
  if (CaseInsensitive) {
    for (int32_t i = 0; i < n; ++i) {
      const unsigned char ca = FoldAsciiLetter(a[i]);
      const unsigned char cb = FoldAsciiLetter(b[i]);
      if (ca != cb) return static_cast<int32_t>(ca) - static_cast<int32_t>(cb);
    }
  } else if (n > 0) {
    const int r = std::memcmp(a, b, static_cast<size_t>(n));
    if (r != 0) return r < 0 ? -1 : 1;
  }
  if (Partial) return 0;
  return l1 - l2;
}

namespace {

// The first k characters of a and b, k being the smaller character count:
// what a partial comparison looks at. Cutting by characters keeps a
// multi-byte character whole.
inline void CutToCommonCharCount(std::string_view& a, std::string_view& b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    i += CharLen(a, i);
    j += CharLen(b, j);
  }
  a = a.substr(0, i);
  b = b.substr(0, j);
}

}  // namespace

// The platform collation compares whole strings, so the fixed-size buffers
// and terminators of a C-style comparison are not needed: not Partial, a
// string that is a proper prefix of the other sorts first (as if its
// terminator took part); Partial, both sides are first cut to the same number
// of characters, so a prefix compares equal. Identical bytes are settled
// before the collation is asked.
int32_t DBANSICompareStrings(const char* S1, const char* S2, int32_t Length1, int32_t Length2,
                             bool CaseInsensitive, bool Partial) {
  std::string_view a(S1, static_cast<size_t>(std::max(Length1, 0)));
  std::string_view b(S2, static_cast<size_t>(std::max(Length2, 0)));
  if (Partial) CutToCommonCharCount(a, b);
  int32_t r = 0;
  if (a != b) r = CaseInsensitive ? plat::AnsiCompareText(a, b) : plat::AnsiCompareStr(a, b);
  if (r != 0 || Partial) return r;
  return static_cast<int32_t>(a.size()) - static_cast<int32_t>(b.size());
}

namespace {

// Wide field data is UTF-16LE read bytewise: the bytes need not be aligned.
inline char16_t WideUnit(const char* s, size_t i) {
  const auto* p = reinterpret_cast<const unsigned char*>(s) + 2 * i;
  return static_cast<char16_t>(p[0] | (p[1] << 8));
}
inline bool IsHighSurrogate(uint32_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
inline bool IsLowSurrogate(uint32_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

inline size_t WideCharLen(const char* s, size_t i, size_t n) {
  return IsHighSurrogate(WideUnit(s, i)) && i + 1 < n && IsLowSurrogate(WideUnit(s, i + 1)) ? 2 : 1;
}

// The UTF-8 form of n UTF-16LE units, in a stack buffer when it fits so the
// usual short key costs no allocation. An unpaired surrogate becomes U+FFFD,
// as in the platform's own conversion.
class WideAsUtf8 {
 public:
  WideAsUtf8(const char* s, size_t n) {
    char* out = Local_;
    if (3 * n > sizeof Local_) {
      Heap_.resize(3 * n);
      out = Heap_.data();
    }
    size_t k = 0;
    for (size_t i = 0; i < n;) {
      uint32_t cp = WideUnit(s, i);
      if (WideCharLen(s, i, n) == 2) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (WideUnit(s, i + 1) - 0xDC00u);
        i += 2;
      } else {
        if (IsHighSurrogate(cp) || IsLowSurrogate(cp)) cp = 0xFFFD;
        ++i;
      }
      k += plat::EncodeUtf8(cp, out + k);
    }
    Text_ = std::string_view(out, k);
  }
  WideAsUtf8(const WideAsUtf8&) = delete;
  WideAsUtf8& operator=(const WideAsUtf8&) = delete;

  std::string_view Text() const { return Text_; }

 private:
  char Local_[768];
  std::string Heap_;
  std::string_view Text_;
};

}  // namespace

int32_t DBCompareWideStrings(const char* S1, const char* S2, int32_t Length1, int32_t Length2,
                             bool CaseInsensitive, bool Partial) {
  size_t n1 = static_cast<size_t>(std::max(Length1, 0)) / 2;
  size_t n2 = static_cast<size_t>(std::max(Length2, 0)) / 2;
  if (Partial) {
    // The same number of characters from each side; a surrogate pair is one.
    size_t i = 0;
    size_t j = 0;
    while (i < n1 && j < n2) {
      i += WideCharLen(S1, i, n1);
      j += WideCharLen(S2, j, n2);
    }
    n1 = i;
    n2 = j;
  }
  if (n1 == n2 && (n1 == 0 || std::memcmp(S1, S2, 2 * n1) == 0)) return 0;
  const WideAsUtf8 a(S1, n1);
  const WideAsUtf8 b(S2, n2);
  return CaseInsensitive ? plat::AnsiCompareText(a.Text(), b.Text())
                         : plat::AnsiCompareStr(a.Text(), b.Text());
}

int32_t CompareReals(double A, double B) {
  if (A < B) return -1;
  if (A > B) return 1;
  return 0;
}

// Greedy matching with one backtrack point: on a mismatch, the last "%" seen
// takes one more character and matching resumes after it. Earlier "%"s never
// need to be revisited, because the last one can absorb anything they could,
// so the work is bounded by len(Value) * len(Pattern).
bool MatchPatternedStrings(std::string_view Value, std::string_view Pattern) {
  const size_t vn = Value.size();
  const size_t pn = Pattern.size();
  size_t v = 0;
  size_t p = 0;
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t resumeP = kNone;  // pattern position just after the last "%" run
  size_t resumeV = 0;      // value position that run has reached
  while (v < vn) {
    if (p < pn && Pattern[p] == '%') {
      while (p < pn && Pattern[p] == '%') ++p;
      if (p == pn) return true;
      resumeP = p;
      resumeV = v;
      continue;
    }
    if (p < pn) {
      const size_t vl = CharLen(Value, v);
      if (Pattern[p] == '_') {
        v += vl;
        ++p;
        continue;
      }
      const size_t pl = CharLen(Pattern, p);
      if (pl == vl && Value.compare(v, vl, Pattern, p, pl) == 0) {
        v += vl;
        p += pl;
        continue;
      }
    }
    if (resumeP == kNone) return false;
    resumeV += CharLen(Value, resumeV);
    v = resumeV;
    p = resumeP;
  }
  while (p < pn && Pattern[p] == '%') ++p;
  return p == pn;
}

int32_t CalculateCoreDataSize(plat::TFieldType FieldType) {
  switch (FieldType) {
    case plat::ftString:
    case plat::ftSmallint:
    case plat::ftWord:
    case plat::ftWideString:
      return 2;
    case plat::ftInteger:
    case plat::ftAutoInc:
      return 4;
    case plat::ftBoolean:
      return 1;
    case plat::ftFloat:
    case plat::ftCurrency:
    case plat::ftBCD:
    case plat::ftDate:
    case plat::ftTime:
    case plat::ftDateTime:
      return 8;
    default:
      break;
  }
  const size_t i = static_cast<size_t>(FieldType);
  const std::string_view name = i < plat::FieldTypeNames.size() ? plat::FieldTypeNames[i] : "";
  throw plat::Exception("Error in setting CoreDataSize - field type not found: " +
                        std::string(name));
}

int32_t CalcTableHeaderSize(int32_t IndexCount) {
  // 48 bytes of table data and 6 per index must fit the one 256-byte block.
  if (IndexCount < 0 || IndexCount > (256 - 48) / 6)
    throw plat::Exception("Debug check -  header size <> 256");
  return 256;
}

int32_t GetDataVersionFromFullVersion(const std::string& Version) {
  const size_t from = Version.size() < 2 ? 0 : Version.size() - 2;
  return plat::StrToIntDef(std::string_view(Version).substr(from), 0);
}

void ConvertFieldNamesToList(const std::string& Names, plat::TStrings& List) {
  List.Clear();
  size_t start = 0;
  while (start < Names.size()) {
    size_t end = Names.find(';', start);
    if (end == std::string::npos) end = Names.size();
    List.Add(Names.substr(start, end - start));
    start = end + 1;
  }
}

std::string ZelIncludeTrailingBackslash(const std::string& Path) {
  if (Path.empty() || Path.back() == '/') return Path;
  return Path + '/';
}

char16_t* StringLToWideChar(const std::string& S, char16_t* Buffer, int32_t Size) {
  if (Size < 1) return Buffer;
  const std::u16string wide = plat::Utf8ToWide(S);
  size_t n = std::min(wide.size(), static_cast<size_t>(Size) - 1);
  // Leave out a high surrogate whose partner does not fit.
  if (n > 0 && n < wide.size() && wide[n - 1] >= 0xD800 && wide[n - 1] <= 0xDBFF) --n;
  std::copy_n(wide.data(), n, Buffer);
  Buffer[n] = 0;
  return Buffer;
}

std::string GetCurrentUser() {
  return LimitName(plat::GetUserName());
}

std::string GetCurrentComputer() {
  return LimitName(plat::GetComputerName());
}

uint32_t GetCurrentThreadIdVal() {
  return plat::GetCurrentThreadId();
}

uint32_t GetMSTimeMarker() {
  return plat::GetTickCount();
}

std::string GetOSErrorMsg() {
  std::string text = plat::SysErrorMessage(plat::GetLastOSError());
  if (text.empty()) return "The error type could not be determined";
  return text;
}

std::string GetOSDetails() {
  plat::TOSVersionInfo info;
  if (!plat::GetVersionEx(info)) return "unknown";
  std::string result;
  switch (info.dwPlatformId) {
    case 2:
      result = "NT: ";
      break;
    case 1:
      result = "Win: ";
      break;
    default:
      result = "XX: ";
      break;
  }
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, " %d.%d.%d.%d ", static_cast<int>(info.dwPlatformId),
                static_cast<int>(info.dwMajorVersion), static_cast<int>(info.dwMinorVersion),
                static_cast<int>(info.dwBuildNumber));
  result += numbers;
  result += ' ';
  result += info.szCSDVersion;
  return result;
}

}  // namespace zel
