#include "platform/rtl/Strings.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "platform/rtl/Collation.h"
#include "platform/rtl/Exceptions.h"

namespace plat {

// --- 1-based positions -------------------------------------------------------

std::string Copy(std::string_view s, int64_t index, int64_t count) {
  const int64_t len = static_cast<int64_t>(s.size());
  const int64_t start = index < 1 ? 0 : index - 1;
  if (start >= len || count < 1) return {};
  const int64_t n = std::min(count, len - start);
  return std::string(s.substr(static_cast<size_t>(start), static_cast<size_t>(n)));
}

int32_t Pos(std::string_view sub, std::string_view s) {
  return PosEx(sub, s, 1);
}

int32_t PosEx(std::string_view sub, std::string_view s, int64_t offset) {
  if (sub.empty() || offset < 1 || offset > static_cast<int64_t>(s.size())) return 0;
  const size_t at = s.find(sub, static_cast<size_t>(offset - 1));
  return at == std::string_view::npos ? 0 : static_cast<int32_t>(at + 1);
}

void Delete(std::string& s, int64_t index, int64_t count) {
  const int64_t len = static_cast<int64_t>(s.size());
  if (index < 1 || index > len || count < 1) return;
  const int64_t n = std::min(count, len - index + 1);
  s.erase(static_cast<size_t>(index - 1), static_cast<size_t>(n));
}

void Insert(std::string_view sub, std::string& s, int64_t index) {
  const int64_t len = static_cast<int64_t>(s.size());
  const int64_t at = index < 1 ? 0 : std::min(index - 1, len);
  s.insert(static_cast<size_t>(at), sub);
}

namespace {

bool IsBlank(char c) {
  return static_cast<uint8_t>(c) <= ' ';
}

}  // namespace

std::string Trim(std::string_view s) {
  return TrimLeft(TrimRight(s));
}

std::string TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && IsBlank(s[n - 1])) --n;
  return std::string(s.substr(0, n));
}

std::string StringOfChar(char ch, int64_t count) {
  return count < 1 ? std::string() : std::string(static_cast<size_t>(count), ch);
}

// --- Case and comparison -----------------------------------------------------

namespace {

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}
char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

template <typename Fold>
int32_t CompareBytes(std::string_view a, std::string_view b, Fold fold) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int32_t ca = static_cast<uint8_t>(fold(a[i]));
    const int32_t cb = static_cast<uint8_t>(fold(b[i]));
    if (ca != cb) return ca - cb;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace

std::string UpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::string LowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

int32_t CompareStr(std::string_view a, std::string_view b) {
  return CompareBytes(a, b, [](char c) { return c; });
}

int32_t CompareText(std::string_view a, std::string_view b) {
  return CompareBytes(a, b, AsciiUpper);
}

bool SameText(std::string_view a, std::string_view b) {
  return CompareText(a, b) == 0;
}

// --- Replacing and quoting ---------------------------------------------------

std::string StringReplace(std::string_view s, std::string_view oldPattern,
                          std::string_view newPattern, TReplaceFlags flags) {
  if (oldPattern.empty()) return std::string(s);
  const bool ignoreCase = flags.Contains(rfIgnoreCase);
  std::string upperText;
  std::string upperPattern;
  std::string_view text = s;
  std::string_view pattern = oldPattern;
  if (ignoreCase) {
    upperText = AnsiUpperCase(s);
    upperPattern = AnsiUpperCase(oldPattern);
    text = upperText;
    pattern = upperPattern;
  }
  std::string out;
  size_t from = 0;
  for (;;) {
    const size_t at = text.find(pattern, from);
    if (at == std::string_view::npos) break;
    out.append(s.substr(from, at - from));
    out.append(newPattern);
    from = at + pattern.size();
    if (!flags.Contains(rfReplaceAll)) break;
  }
  out.append(s.substr(from));
  return out;
}

std::string QuotedStr(std::string_view s) {
  return AnsiQuotedStr(s, '\'');
}

std::string AnsiQuotedStr(std::string_view s, char quote) {
  std::string out;
  out.reserve(s.size() + 2);
  out.push_back(quote);
  for (char c : s) {
    out.push_back(c);
    if (c == quote) out.push_back(quote);
  }
  out.push_back(quote);
  return out;
}

std::string AnsiDequotedStr(std::string_view s, char quote) {
  if (s.empty() || s[0] != quote) return std::string(s);
  std::string out;
  size_t i = 1;
  while (i < s.size()) {
    if (s[i] == quote) {
      if (i + 1 < s.size() && s[i + 1] == quote) {
        out.push_back(quote);
        i += 2;
        continue;
      }
      break;  // the closing quote; anything after it is dropped
    }
    out.push_back(s[i++]);
  }
  return out;
}

// --- Integers ----------------------------------------------------------------

std::string IntToStr(int32_t value) {
  return std::to_string(value);
}
std::string IntToStr(int64_t value) {
  return std::to_string(value);
}
std::string IntToStr(uint64_t value) {
  return std::to_string(value);
}

namespace {

std::string Hex(uint64_t value, int32_t digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char buf[16];
  int n = 0;
  do {
    buf[n++] = kDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  std::string out;
  if (digits > n) out.assign(static_cast<size_t>(std::min(digits, 64) - n), '0');
  while (n > 0) out.push_back(buf[--n]);
  return out;
}

bool IsIntBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Parses integer text into a magnitude and sign. `maxHex` is the largest
// hexadecimal magnitude (the unsigned width), `maxPositive` the largest
// decimal magnitude of a positive value (a negative one may be one more).
bool ParseInteger(std::string_view s, uint64_t maxHex, uint64_t maxPositive, uint64_t& bits,
                  bool& negative, bool& hex) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && IsIntBlank(s[b])) ++b;
  while (e > b && IsIntBlank(s[e - 1])) --e;
  negative = false;
  if (b < e && (s[b] == '+' || s[b] == '-')) negative = s[b++] == '-';
  hex = false;
  if (b < e && s[b] == '$') {
    hex = true;
    ++b;
  } else if (e - b >= 2 && s[b] == '0' && (s[b + 1] == 'x' || s[b + 1] == 'X')) {
    hex = true;
    b += 2;
  }
  if (b == e) return false;
  uint64_t v = 0;
  const auto [end, ec] = std::from_chars(s.data() + b, s.data() + e, v, hex ? 16 : 10);
  if (ec != std::errc() || end != s.data() + e) return false;
  if (hex) {
    if (v > maxHex) return false;
  } else if (v > maxPositive + (negative ? 1 : 0)) {
    return false;
  }
  bits = v;
  return true;
}

[[noreturn]] void RaiseInvalidInteger(std::string_view s) {
  throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
}

}  // namespace

std::string IntToHex(int32_t value, int32_t digits) {
  return Hex(static_cast<uint32_t>(value), digits);
}

std::string IntToHex(int64_t value, int32_t digits) {
  return Hex(static_cast<uint64_t>(value), digits);
}

bool TryStrToInt(std::string_view s, int32_t& value) {
  uint64_t bits = 0;
  bool negative = false;
  bool hex = false;
  if (!ParseInteger(s, std::numeric_limits<uint32_t>::max(),
                    static_cast<uint64_t>(std::numeric_limits<int32_t>::max()), bits, negative,
                    hex)) {
    return false;
  }
  // Two's complement arithmetic in the type's own width.
  uint32_t u = static_cast<uint32_t>(bits);
  if (negative) u = 0u - u;
  value = static_cast<int32_t>(u);
  return true;
}

bool TryStrToInt64(std::string_view s, int64_t& value) {
  uint64_t bits = 0;
  bool negative = false;
  bool hex = false;
  if (!ParseInteger(s, std::numeric_limits<uint64_t>::max(),
                    static_cast<uint64_t>(std::numeric_limits<int64_t>::max()), bits, negative,
                    hex)) {
    return false;
  }
  if (negative) bits = 0u - bits;
  value = static_cast<int64_t>(bits);
  return true;
}

int32_t StrToInt(std::string_view s) {
  int32_t v = 0;
  if (!TryStrToInt(s, v)) RaiseInvalidInteger(s);
  return v;
}

int32_t StrToIntDef(std::string_view s, int32_t defaultValue) {
  int32_t v = 0;
  return TryStrToInt(s, v) ? v : defaultValue;
}

int64_t StrToInt64(std::string_view s) {
  int64_t v = 0;
  if (!TryStrToInt64(s, v)) RaiseInvalidInteger(s);
  return v;
}

int64_t StrToInt64Def(std::string_view s, int64_t defaultValue) {
  int64_t v = 0;
  return TryStrToInt64(s, v) ? v : defaultValue;
}

// --- UTF-8 and UTF-16 --------------------------------------------------------

std::u16string Utf8ToWide(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const TUtf8Char c = DecodeUtf8At(s, i);
    i += c.Length;
    if (!c.Valid) {
      out.push_back(u'\uFFFD');
    } else if (c.Code < 0x10000) {
      out.push_back(static_cast<char16_t>(c.Code));
    } else {
      const uint32_t v = c.Code - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    }
  }
  return out;
}

std::string WideToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  char buf[4];
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    out.append(buf, EncodeUtf8(cp, buf));
  }
  return out;
}

std::string CutToCharBoundary(std::string_view s, size_t maxBytes) {
  if (s.size() <= maxBytes) return std::string(s);
  // Look back at most three bytes for the start of a valid character that
  // would reach past the cut.
  size_t cut = maxBytes;
  for (size_t back = 1; back <= 3 && back <= maxBytes; ++back) {
    const size_t at = maxBytes - back;
    const uint8_t b = static_cast<uint8_t>(s[at]);
    if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const TUtf8Char c = DecodeUtf8At(s, at);
    if (c.Valid && at + c.Length > maxBytes) cut = at;
    break;
  }
  return std::string(s.substr(0, cut));
}

// --- File names --------------------------------------------------------------

namespace {

// Index just after the last "/", 0 when there is none.
size_t NameStart(std::string_view fileName) {
  const size_t slash = fileName.rfind(PathDelim);
  return slash == std::string_view::npos ? 0 : slash + 1;
}

// Index of the extension's "." within the name part, npos when none.
size_t ExtStart(std::string_view fileName) {
  const size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot < NameStart(fileName)) return std::string_view::npos;
  return dot;
}

}  // namespace

std::string ExtractFileName(std::string_view fileName) {
  return std::string(fileName.substr(NameStart(fileName)));
}

std::string ExtractFilePath(std::string_view fileName) {
  return std::string(fileName.substr(0, NameStart(fileName)));
}

std::string ExtractFileDir(std::string_view fileName) {
  const size_t start = NameStart(fileName);
  if (start > 1) return std::string(fileName.substr(0, start - 1));
  return std::string(fileName.substr(0, start));  // "" or the root "/"
}

std::string ExtractFileExt(std::string_view fileName) {
  const size_t dot = ExtStart(fileName);
  return dot == std::string_view::npos ? std::string() : std::string(fileName.substr(dot));
}

std::string ChangeFileExt(std::string_view fileName, std::string_view extension) {
  const size_t dot = ExtStart(fileName);
  std::string out(fileName.substr(0, dot == std::string_view::npos ? fileName.size() : dot));
  out.append(extension);
  return out;
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string out(path);
  if (!out.empty() && out.back() != PathDelim) out.push_back(PathDelim);
  return out;
}

std::string ExcludeTrailingPathDelimiter(std::string_view path) {
  std::string out(path);
  if (!out.empty() && out.back() == PathDelim) out.pop_back();
  return out;
}

}  // namespace plat
