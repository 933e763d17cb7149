#include "engine/storage/zelCommonText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/Os.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Strings.h"
#include "support/CpuTime.h"

namespace zel {
namespace {

int Sign(int32_t v) {
  return (v > 0) - (v < 0);
}

// ---------------------------------------------------------------- LIKE

TEST(MatchPatternedStrings, Cases) {
  struct Case {
    std::string value, pattern;
    bool match;
  };
  const std::vector<Case> cases = {
      {"abc", "a%", true},
      {"abc", "_b_", true},
      {"abc", "%c", true},
      {"abc", "A%", false},  // case-sensitive
      {"", "%", true},
      {"", "", true},
      {"", "_", false},
      {"abc", "", false},
      {"abc", "abc", true},
      {"abc", "ab", false},
      {"ab", "abc", false},
      {"abc", "a_c", true},
      {"abc", "a__c", false},
      {"abc", "%b%", true},
      {"abc", "%d%", false},
      {"abc", "%%", true},
      {"ab", "ab%%", true},  // a run of "%" matches the empty rest too
      {"", "%%%", true},
      {"abc", "a%%c", true},
      {"abc", "%_%_%_%", true},
      {"ab", "%_%_%_%", false},
      {"aXbXc", "a%b%c", true},
      {"abcabd", "%ab_", true},
      {"abcab", "%ab_", false},
      {"100%", "100%", true},  // no escape: "%" stays a wildcard
      {"a%b", "a_b", true},
      // Characters, not bytes.
      {"h\xC3\xA9llo", "h_llo", true},
      {"h\xC3\xA9llo", "h__llo", false},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "___", true},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "__", false},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "\xE6\x97\xA5%", true},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "%\xE8\xAA\x9E", true},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "%\xE6\x9C\xAC%", true},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "_\xE6\x9C\xAC_", true},
      {"a\xF0\x9F\x98\x80"
       "b",
       "a_b", true},                         // 4-byte character
      {"\xC3\x84pfel", "\xC3\xA4%", false},  // case-sensitive beyond ASCII
      {"\xC3\xA9", "\xC3\xA8", false},
      // "_" never takes half a character; a literal never matches half of one.
      {"\xC3\xA9", "\xC3_", false},
      {"\xC3\xA9", "\xC3%", false},
      {"\xC3\xA9x", "%\xA9x", false},
      // Bytes that start no valid sequence are one character each.
      {"\xC3", "_", true},
      {"\xC3x", "__", true},
      {"\xC3x", "_", false},
      {"\xFF\xFE", "__", true},
      {"\xC0\x80", "_", false},  // overlong form: two characters
      {"\xC0\x80", "__", true},
      {"\xED\xA0\x80", "___", true},  // encoded surrogate: three characters
      {"\xE6\x97", "__", true},       // cut-short sequence
      {"\xC3\xA9\xA9", "__", true},   // stray continuation byte
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchPatternedStrings(c.value, c.pattern), c.match)
        << "value '" << c.value << "' pattern '" << c.pattern << "'";
  }
}

// The LIKE rules written out recursively over characters: slow, obviously
// right, and used to check the matcher on random short inputs.
bool ModelLike(const std::vector<std::string>& v, size_t i, const std::vector<std::string>& p,
               size_t j) {
  if (j == p.size()) return i == v.size();
  if (p[j] == "%") return ModelLike(v, i, p, j + 1) || (i < v.size() && ModelLike(v, i + 1, p, j));
  if (i == v.size()) return false;
  if (p[j] == "_" || p[j] == v[i]) return ModelLike(v, i + 1, p, j + 1);
  return false;
}

TEST(MatchPatternedStrings, AgreesWithRecursiveModel) {
  const std::vector<std::string> valueAlphabet = {"a", "b", "\xC3\xA9", "\xE2\x82\xAC", "%", "_"};
  const std::vector<std::string> patternAlphabet = {"a", "b", "\xC3\xA9", "\xE2\x82\xAC",
                                                    "%", "_", "%",        "_"};
  const uint32_t seed = 20240611;
  std::mt19937 rng(seed);
  for (int round = 0; round < 8000; ++round) {
    std::vector<std::string> v, p;
    std::string value, pattern;
    const int vn = static_cast<int>(rng() % 8);
    const int pn = static_cast<int>(rng() % 7);
    for (int k = 0; k < vn; ++k) {
      v.push_back(valueAlphabet[rng() % valueAlphabet.size()]);
      value += v.back();
    }
    for (int k = 0; k < pn; ++k) {
      p.push_back(patternAlphabet[rng() % patternAlphabet.size()]);
      pattern += p.back();
    }
    // A "%" or "_" in the value is an ordinary character there.
    ASSERT_EQ(MatchPatternedStrings(value, pattern), ModelLike(v, 0, p, 0))
        << "seed " << seed << " round " << round << " value '" << value << "' pattern '" << pattern
        << "'";
  }
}

TEST(MatchPatternedStrings, PathologicalPatternsStayFast) {
  struct Case {
    std::string value, pattern;
    bool match;
  };
  std::string manyWild;
  for (int i = 0; i < 200; ++i) manyWild += "%a";
  std::string manyUnderscores;
  for (int i = 0; i < 100; ++i) manyUnderscores += "%_";
  const std::string as(20000, 'a');
  const std::string euros = [] {
    std::string s;
    for (int i = 0; i < 5000; ++i) s += "\xE2\x82\xAC";
    return s;
  }();
  const std::vector<Case> cases = {
      {as, "%a%a%a%a%a%a%a%a%a%a%a%a%b", false},
      {as + "b", "%a%a%a%a%a%a%a%a%a%a%a%a%b", true},
      {as, manyWild + "%b", false},
      {as, manyWild + "%", true},
      {as, manyUnderscores + "b", false},
      {euros, "%\xE2\x82\xAC%\xE2\x82\xAC%\xE2\x82\xAC%\xE2\x82\xAC%x", false},
      {euros, "%\xE2\x82\xAC%_%\xE2\x82\xAC%_", true},
  };
  const int64_t start = testsupport::ThreadCpuMilliseconds();
  for (const auto& c : cases) {
    EXPECT_EQ(MatchPatternedStrings(c.value, c.pattern), c.match) << c.pattern;
  }
  EXPECT_LT(testsupport::ThreadCpuMilliseconds() - start, 2000);
}

// ---------------------------------------------------------------- ASCII order

struct CompareCase {
  std::string s1, s2;
  bool caseInsensitive, partial;
  int sign;
};

void CheckCompare(TDBStringCompare compare, const std::vector<CompareCase>& cases) {
  for (const auto& c : cases) {
    const int32_t r = compare(c.s1.data(), c.s2.data(), static_cast<int32_t>(c.s1.size()),
                              static_cast<int32_t>(c.s2.size()), c.caseInsensitive, c.partial);
    EXPECT_EQ(Sign(r), c.sign) << "'" << c.s1 << "' vs '" << c.s2 << "' ci=" << c.caseInsensitive
                               << " partial=" << c.partial << " gave " << r;
  }
}

TEST(DBASCIICompareStrings, Cases) {
  const std::string longA = std::string(300, 'x') + "a";
  const std::string longB = std::string(300, 'x') + "b";
  CheckCompare(DBASCIICompareStrings,
               {
                   {"abc", "abcd", false, false, -1},
                   {"abc", "abcd", false, true, 0},
                   {"abcd", "abc", false, false, 1},
                   {"abcd", "abc", false, true, 0},
                   {"abc", "abc", false, false, 0},
                   {"", "", false, false, 0},
                   {"", "a", false, false, -1},
                   {"", "a", false, true, 0},
                   {"abd", "abc", false, true, 1},
                   {"abc", "ABC", false, false, 1},
                   {"abc", "ABC", true, false, 0},
                   {"abC", "ABCD", true, false, -1},
                   {"abC", "ABCD", true, true, 0},
                   // Letters fold to upper case, so "_" sorts after every letter.
                   {"_", "a", false, false, -1},
                   {"_", "a", true, false, 1},
                   // Bytes are unsigned; only the 26 ASCII letters fold.
                   {"\xC3\xA9", "z", false, false, 1},
                   {"\xC3\x84", "\xC3\xA4", true, false, -1},
                   // Whole strings, whatever their length or content.
                   {longA, longB, false, false, -1},
                   {longB, longA, true, false, 1},
                   {longA, longA + "x", false, false, -1},
                   {longA, longA + "x", false, true, 0},
                   {std::string("a\0b", 3), std::string("a\0c", 3), false, false, -1},
               });
}

// ---------------------------------------------------------------- ANSI order

TEST(DBANSICompareStrings, Cases) {
  const std::string e_acute = "\xC3\xA9";
  const std::string E_acute = "\xC3\x89";
  const std::string a_uml = "\xC3\xA4";
  const std::string A_uml = "\xC3\x84";
  const std::string nihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";
  const std::string nihon = "\xE6\x97\xA5\xE6\x9C\xAC";
  // Equal for their first 255 bytes and longer than the old fixed buffers.
  const std::string longA = std::string(300, 'x') + "a";
  const std::string longB = std::string(300, 'x') + "b";
  CheckCompare(DBANSICompareStrings,
               {
                   {"abc", "abd", false, false, -1},
                   {"abc", "abc", false, false, 0},
                   {"", "", false, false, 0},
                   {"", "a", false, false, -1},
                   {"", "a", false, true, 0},
                   // A prefix sorts first, or compares equal when partial.
                   {"abc", "abcd", false, false, -1},
                   {"abc", "abcd", false, true, 0},
                   {"abcd", "abc", false, false, 1},
                   {"abcd", "abc", false, true, 0},
                   {"abd", "abcd", false, true, 1},
                   // Base letters decide before case: not byte order.
                   {"a", "B", false, false, -1},
                   {"B", "a", false, false, 1},
                   {"abc", "ABC", false, false, -1},  // lower before upper
                   {"abc", "ABC", true, false, 0},
                   {"ABC", "abcdef", true, true, 0},
                   {"ABC", "abcdef", true, false, -1},
                   {"-", "1", false, false, -1},  // punctuation, digits, letters
                   {"1", "a", false, false, -1},
                   // Beyond ASCII.
                   {e_acute, "f", false, false, -1},
                   {"e", e_acute, false, false, -1},
                   {"e", e_acute, true, false, -1},  // accents count when ignoring case
                   {E_acute, e_acute, true, false, 0},
                   {E_acute, e_acute, false, false, 1},
                   {A_uml + "pfel", a_uml + "PFEL", true, false, 0},
                   {A_uml + "pfel", a_uml + "pfelbaum", true, true, 0},
                   {e_acute, e_acute + "a", false, true, 0},
                   {"e", e_acute + "a", false, true, -1},
                   // Partial counts characters: 'e' is not compared with half of an e-acute.
                   {"ex", e_acute, false, true, -1},
                   {nihon, nihongo, false, true, 0},
                   {nihon, nihongo, false, false, -1},
                   {nihongo, nihon, false, true, 0},
                   {nihongo, nihon + "x", false, true, 1},
                   // Whole strings, past any fixed buffer size.
                   {longA, longB, false, false, -1},
                   {longB, longA, true, false, 1},
                   {longA, longA + "x", false, false, -1},
                   {longA, longA + "x", false, true, 0},
                   {std::string("a\0b", 3), std::string("a\0c", 3), false, false, -1},
               });
}

TEST(DBANSICompareStrings, LengthsBoundTheData) {
  // Keys live in larger buffers: only Length bytes take part.
  const char buf1[] = "abcXYZ";
  const char buf2[] = "abcdef";
  EXPECT_EQ(DBANSICompareStrings(buf1, buf2, 3, 3, false, false), 0);
  EXPECT_LT(DBANSICompareStrings(buf1, buf2, 3, 4, false, false), 0);
  EXPECT_EQ(DBANSICompareStrings(buf1, buf2, 3, 6, false, true), 0);
  EXPECT_EQ(DBANSICompareStrings(nullptr, nullptr, 0, 0, false, false), 0);
  EXPECT_LT(DBANSICompareStrings(nullptr, buf2, 0, 1, false, false), 0);
  EXPECT_EQ(DBASCIICompareStrings(buf1, buf2, 3, 3, false, false), 0);
  EXPECT_EQ(DBASCIICompareStrings(nullptr, buf2, 0, 6, true, true), 0);
}

// UTF-16LE bytes of a UTF-8 text, as a wide field stores them.
std::string WideBytes(const std::string& utf8) {
  std::string out;
  for (char16_t u : plat::Utf8ToWide(utf8)) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

TEST(DBCompareWideStrings, Cases) {
  const std::string emoji = "\xF0\x9F\x98\x80";
  const std::string longA = std::string(300, 'x') + "a";
  const std::string longB = std::string(300, 'x') + "b";
  struct Case {
    std::string s1, s2;
    bool caseInsensitive, partial;
    int sign;
  };
  const std::vector<Case> cases = {
      {"abc", "abd", false, false, -1},
      {"abc", "abc", false, false, 0},
      {"abc", "abcd", false, false, -1},
      {"abc", "abcd", false, true, 0},
      {"abcd", "abc", false, true, 0},
      {"a", "B", false, false, -1},
      {"abc", "ABC", false, false, -1},
      {"abc", "ABC", true, false, 0},
      {"\xC3\xA9", "f", false, false, -1},
      {"\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9", true, false, 0},
      {"x" + emoji, "x" + emoji + "y", false, true, 0},
      {"x" + emoji, "x" + emoji + "y", false, false, -1},
      {"", "", false, false, 0},
      {"", "a", false, true, 0},
      {longA, longB, false, false, -1},
      {longA, longA + "x", false, true, 0},
  };
  for (const auto& c : cases) {
    // One byte of offset: field data in a record is not aligned for 16-bit reads.
    const std::string w1 = "#" + WideBytes(c.s1);
    const std::string w2 = "#" + WideBytes(c.s2);
    const int32_t r =
        DBCompareWideStrings(w1.data() + 1, w2.data() + 1, static_cast<int32_t>(w1.size() - 1),
                             static_cast<int32_t>(w2.size() - 1), c.caseInsensitive, c.partial);
    EXPECT_EQ(Sign(r), c.sign) << "'" << c.s1 << "' vs '" << c.s2 << "' ci=" << c.caseInsensitive
                               << " partial=" << c.partial;
  }
  // An odd trailing byte is not a character.
  const std::string ab = WideBytes("ab");
  EXPECT_EQ(DBCompareWideStrings(ab.data(), ab.data(), 3, 2, false, false), 0);
  // The two halves of a surrogate pair stay together under a partial cut.
  const std::string pair = WideBytes(emoji);
  const std::string xy = WideBytes("x");
  EXPECT_NE(DBCompareWideStrings(pair.data(), xy.data(), 4, 2, false, true), 0);
}

TEST(CompareReals, Cases) {
  struct Case {
    double a, b;
    int32_t result;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {1.0, 2.0, -1},     {2.0, 1.0, 1},   {1.5, 1.5, 0},         {-0.0, 0.0, 0},
      {-inf, -1e308, -1}, {inf, 1e308, 1}, {-1e-300, 1e-300, -1},
  };
  for (const auto& c : cases) EXPECT_EQ(CompareReals(c.a, c.b), c.result) << c.a << " " << c.b;
}

// ---------------------------------------------------------------- helpers

TEST(CommonTextHelpers, CoreDataSize) {
  struct Case {
    plat::TFieldType type;
    int32_t size;
  };
  const std::vector<Case> cases = {
      {plat::ftString, 2},   {plat::ftSmallint, 2}, {plat::ftWord, 2},    {plat::ftWideString, 2},
      {plat::ftInteger, 4},  {plat::ftAutoInc, 4},  {plat::ftBoolean, 1}, {plat::ftFloat, 8},
      {plat::ftCurrency, 8}, {plat::ftBCD, 8},      {plat::ftDate, 8},    {plat::ftTime, 8},
      {plat::ftDateTime, 8},
  };
  for (const auto& c : cases) EXPECT_EQ(CalculateCoreDataSize(c.type), c.size) << int(c.type);

  for (auto type : {plat::ftBlob, plat::ftUnknown, plat::ftLargeint, plat::ftBytes}) {
    EXPECT_THROW(CalculateCoreDataSize(type), plat::Exception) << int(type);
  }
  try {
    CalculateCoreDataSize(plat::ftMemo);
    FAIL() << "no exception";
  } catch (const plat::Exception& e) {
    EXPECT_EQ(e.Message(), "Error in setting CoreDataSize - field type not found: Memo");
  }
}

TEST(CommonTextHelpers, TableHeaderSize) {
  EXPECT_EQ(CalcTableHeaderSize(0), 256);
  EXPECT_EQ(CalcTableHeaderSize(34), 256);
  for (int32_t count : {35, 1000, -1}) {
    try {
      CalcTableHeaderSize(count);
      FAIL() << "no exception for " << count;
    } catch (const plat::Exception& e) {
      EXPECT_EQ(e.Message(), "Debug check -  header size <> 256");
    }
  }
}

TEST(CommonTextHelpers, DataVersion) {
  struct Case {
    std::string version;
    int32_t value;
  };
  const std::vector<Case> cases = {
      {"1.50.03", 3}, {"1.50.15", 15}, {"2.00.99", 99}, {"7", 7},
      {"", 0},        {"1.50.x3", 0},  {"1.50.3x", 0},  {"1.5-", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetDataVersionFromFullVersion(c.version), c.value) << "'" << c.version << "'";
  }
}

TEST(CommonTextHelpers, FieldNamesToList) {
  struct Case {
    std::string names;
    std::vector<std::string> items;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"Name", {"Name"}},
      {"Name;City", {"Name", "City"}},
      {"First Name;Zip, Code;X", {"First Name", "Zip, Code", "X"}},
      {"A;", {"A"}},
      {"A;;B", {"A", "", "B"}},
  };
  for (const auto& c : cases) {
    plat::TStringList list;
    list.Add("stale");
    ConvertFieldNamesToList(c.names, list);
    std::vector<std::string> got;
    for (int32_t i = 0; i < list.Count(); ++i) got.push_back(list.Strings(i));
    EXPECT_EQ(got, c.items) << "'" << c.names << "'";
  }
}

TEST(CommonTextHelpers, StringToWideBuffer) {
  struct Case {
    std::string text;
    int32_t size;
    std::u16string expected;
  };
  const std::vector<Case> cases = {
      {"abc", 10, u"abc"},
      {"abc", 4, u"abc"},
      {"abc", 3, u"ab"},
      {"abc", 1, u""},
      {"", 5, u""},
      {"\xC3\xA9t\xC3\xA9", 10, u"\u00E9t\u00E9"},
      {"a\xF0\x9F\x98\x80", 4, u"a\U0001F600"},
      {"a\xF0\x9F\x98\x80", 3, u"a"},  // no half of a surrogate pair
  };
  for (const auto& c : cases) {
    std::u16string buffer(12, u'#');
    EXPECT_EQ(StringLToWideChar(c.text, buffer.data(), c.size), buffer.data());
    EXPECT_EQ(std::u16string(buffer.data()), c.expected) << c.text << " size " << c.size;
    // Nothing past the terminator is touched.
    EXPECT_EQ(buffer[c.expected.size() + 1], u'#');
  }
  std::u16string untouched(2, u'#');
  StringLToWideChar("abc", untouched.data(), 0);
  EXPECT_EQ(untouched, u"##");
}

TEST(CommonTextHelpers, TrailingSeparator) {
  EXPECT_EQ(ZelIncludeTrailingBackslash(""), "");
  EXPECT_EQ(ZelIncludeTrailingBackslash("/data"), "/data/");
  EXPECT_EQ(ZelIncludeTrailingBackslash("/data/"), "/data/");
  EXPECT_EQ(ZelIncludeTrailingBackslash("/"), "/");
  EXPECT_EQ(ZelIncludeTrailingBackslash("rel"), "rel/");
}

TEST(CommonTextHelpers, MachineAndUser) {
  EXPECT_EQ(GetCurrentUser(), plat::GetUserName().substr(0, 256));
  EXPECT_EQ(GetCurrentComputer(), plat::GetComputerName().substr(0, 256));

  const uint32_t mine = GetCurrentThreadIdVal();
  EXPECT_EQ(mine, plat::GetCurrentThreadId());
  uint32_t other = mine;
  std::thread([&] { other = GetCurrentThreadIdVal(); }).join();
  EXPECT_NE(other, mine);

  const uint32_t t0 = GetMSTimeMarker();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const uint32_t waited = GetMSTimeMarker() - t0;
  EXPECT_GE(waited, 19u);
  EXPECT_LT(waited, 5000u);

  const std::string os = GetOSDetails();
  if (os != "unknown") {
    // "XX: " + " p.major.minor.build " + " " + service text.
    const size_t colon = os.find(": ");
    ASSERT_NE(colon, std::string::npos) << os;
    const std::string kind = os.substr(0, colon);
    EXPECT_TRUE(kind == "NT" || kind == "Win" || kind == "XX") << os;
    unsigned p = 0, major = 0, minor = 0, build = 0;
    int used = 0;
    ASSERT_EQ(
        std::sscanf(os.c_str() + colon + 2, " %u.%u.%u.%u%n", &p, &major, &minor, &build, &used), 4)
        << os;
    EXPECT_EQ(os[colon + 2], ' ') << os;
    EXPECT_EQ(os.compare(colon + 2 + used, 2, "  "), 0) << os;
  }

  errno = ENOENT;
  EXPECT_EQ(GetOSErrorMsg(), plat::SysErrorMessage(ENOENT));
  EXPECT_FALSE(GetOSErrorMsg().empty());
}

}  // namespace
}  // namespace zel
