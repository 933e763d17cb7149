// The pinned case mapping and collation: stored index order depends on every
// expectation here.

#include "platform/rtl/Collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/rtl/Strings.h"

namespace plat {
namespace {

std::string Utf8(uint32_t cp) {
  char buf[4];
  return std::string(buf, EncodeUtf8(cp, buf));
}

int Sign(int32_t v) {
  return (v > 0) - (v < 0);
}

TEST(Collation, FixedOrderOfMixedWords) {
  const std::vector<std::string> expected = {
      "",       "\x01",   "\t",      " ", "!",  "-", "-a",      "0",       "1",      "1a",
      "9",      "a",      "A",       "á", "Á",  "à", "ä",       "Ä",       "ab",     "Ab",
      "ad",     "ae",     "æ",       "Æ", "af", "b", "c",       "č",       "ç",      "cote",
      "coté",   "côte",   "côté",    "d", "đ",  "ð", "e",       "é",       "ê",      "resume",
      "résumé", "Résumé", "resumes", "s", "ss", "ß", "strasse", "Strasse", "Straße", "Strassen",
      "z",      "ž",      "zz",      "þ", "Þ",  "α", "Α",       "ά",       "β",      "ς",
      "σ",      "Σ",      "ω",       "а", "А",  "б", "е",       "ё",       "Ё",      "ж",
      "я",      "中",     "\xFF",
  };
  std::vector<std::string> words = expected;
  std::mt19937 rng(20240501);
  for (int round = 0; round < 5; ++round) {
    std::shuffle(words.begin(), words.end(), rng);
    std::sort(words.begin(), words.end(),
              [](const std::string& a, const std::string& b) { return AnsiCompareStr(a, b) < 0; });
    EXPECT_EQ(words, expected);
  }
  for (size_t i = 0; i + 1 < expected.size(); ++i) {
    EXPECT_EQ(AnsiCompareStr(expected[i], expected[i + 1]), -1)
        << expected[i] << " / " << expected[i + 1];
    EXPECT_EQ(AnsiCompareStr(expected[i + 1], expected[i]), 1)
        << expected[i] << " / " << expected[i + 1];
  }
}

TEST(Collation, GroupsAndLevels) {
  struct Case {
    const char *a, *b;
    int str;   // sign of AnsiCompareStr
    int text;  // sign of AnsiCompareText
  };
  const Case cases[] = {
      // punctuation and symbols < digits < letters
      {"~", "0", -1, -1},
      {"\xC2\xA7", "0", -1, -1},      // §
      {"\xE2\x82\xAC", "0", -1, -1},  // €
      {"9", "A", -1, -1},
      {"\xC2\xB2", "3", -1, -1},  // superscript two is a two
      {"2", "\xC2\xB2", -1, -1},
      // base letters decide before accents, accents before case
      {"\xC3\xA9z", "fa", -1, -1},  // éz < fa
      {"Ea",
       "\xC3\xA9"
       "a",
       -1, -1},
      {"ab", "AB", -1, 0},
      {"aB", "Ab", -1, 0},
      {"ABC", "abd", -1, -1},
      {"\xC3\x89", "\xC3\xA9", 1, 0},  // É > é, equal ignoring case
      {"e", "\xC3\xA9", -1, -1},
      // a combining mark weighs only as an accent
      {"e\xCC\x81", "e", 1, 1},
      {"e\xCC\x81", "f", -1, -1},
      {"E\xCC\x81", "e\xCC\x81", 1, 0},
      // ligatures expand; the sharp s is not "ss" ignoring case either
      {"\xC3\x9F", "ss", 1, 1},
      {"\xC3\x9F", "st", -1, -1},
      {"\xC3\xA6", "af", -1, -1},
      // dotted and dotless i are accents of i
      {"\xC4\xB1", "i", 1, 1},
      {"\xC4\xB0", "i", 1, 1},
      {"\xC4\xB0", "\xC4\xB1", -1, -1},
      // Greek and Cyrillic keep their alphabets' order
      {"\xCE\xB1\xCF\x89", "\xCE\xB2", -1, -1},  // αω < β
      {"\xD1\x91", "\xD0\xB6", -1, -1},          // ё < ж
      {"\xD1\x97", "\xD0\xB9", -1, -1},          // ї < й
      {"\xD2\x91", "\xD0\xB4", -1, -1},          // ґ < д
      {"\xD0\xB3", "\xD2\x91", -1, -1},          // г < ґ
      {"\xCF\x82", "\xCE\xA3", -1, 0},           // final sigma and capital sigma
      {"\xC2\xB5", "\xCE\xBC", 1, 1},            // micro sign after mu
      // letters of other scripts follow; invalid bytes come last, by value
      {"\xD1\x8F", "\xE4\xB8\xAD", -1, -1},
      {"\xE4\xB8\xAD", "\x80", -1, -1},
      {"\x80", "\xFF", -1, -1},
      {"a\xC3", "a\xC3\xA9", 1, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sign(AnsiCompareStr(c.a, c.b)), c.str) << c.a << " / " << c.b;
    EXPECT_EQ(Sign(AnsiCompareStr(c.b, c.a)), -c.str) << c.a << " / " << c.b;
    EXPECT_EQ(Sign(AnsiCompareText(c.a, c.b)), c.text) << c.a << " / " << c.b;
    EXPECT_EQ(Sign(AnsiCompareText(c.b, c.a)), -c.text) << c.a << " / " << c.b;
    EXPECT_EQ(AnsiSameText(c.a, c.b), c.text == 0) << c.a << " / " << c.b;
  }
}

TEST(Collation, UpperCasingAgreesOnWords) {
  struct Case {
    const char *mixed, *upper;
  };
  const Case cases[] = {
      {"Ärger über Öl", "ÄRGER ÜBER ÖL"},
      {"école Française", "ÉCOLE FRANÇAISE"},
      {"Ørsted Ålborg Ñandú", "ØRSTED ÅLBORG ÑANDÚ"},
      {"Łódź Kraków Gdańsk", "ŁÓDŹ KRAKÓW GDAŃSK"},
      {"œuvre ĳssel ŷ ÿ", "ŒUVRE ĲSSEL Ŷ Ÿ"},
      {"Straße", "STRAßE"},        // no one-byte-longer capital
      {"ſ ı İ ĸ ŉ", "ſ ı İ ĸ ŉ"},  // other case has another length, or none
      {"µm ª º", "µM ª º"},        // µ, ª and º have no case of their own
      {"Οδυσσεύς", "ΟΔΥΣΣΕΎΣ"},
      {"άνθρωπος ΐ ϊ", "ΆΝΘΡΩΠΟΣ ΐ Ϊ"},
      {"Москва ёлка", "МОСКВА ЁЛКА"},
      {"Їжак ґанок ўсё", "ЇЖАК ҐАНОК ЎСЁ"},
      {"ӑӓӛ ѣ ҫ", "ӐӒӚ Ѣ Ҫ"},
      {"Crème BRÛLÉE 42!", "CRÈME BRÛLÉE 42!"},
  };
  for (const Case& c : cases) {
    const std::string upper = AnsiUpperCase(c.mixed);
    EXPECT_EQ(upper, c.upper) << c.mixed;
    EXPECT_EQ(upper.size(), std::string(c.mixed).size()) << c.mixed;
    EXPECT_EQ(AnsiCompareText(c.mixed, upper), 0) << c.mixed;
    EXPECT_EQ(AnsiCompareText(AnsiLowerCase(c.mixed), upper), 0) << c.mixed;
    EXPECT_TRUE(AnsiSameText(c.mixed, c.upper)) << c.mixed;
    EXPECT_EQ(AnsiUpperCase(AnsiLowerCase(upper)), upper) << c.mixed;
  }
  EXPECT_EQ(AnsiLowerCase("ÀÉÎÕÜ Ÿ ΣΩ ПРИВЕТ İ"), "àéîõü ÿ σω привет İ");
}

// Every character below U+0500 (and samples above): a character and its upper
// case compare equal ignoring case, lower sorts before upper, lengths stay,
// and the mapping goes back.
TEST(Collation, UpperCasingAgreesOnEveryCharacter) {
  std::vector<uint32_t> cps;
  for (uint32_t cp = 0; cp < 0x500; ++cp) cps.push_back(cp);
  for (uint32_t cp : {0x500u, 0x1E9Eu, 0x2126u, 0x3042u, 0x4E2Du, 0xFFFDu, 0x1F600u}) {
    cps.push_back(cp);
  }
  for (uint32_t cp : cps) {
    const std::string s = Utf8(cp);
    const std::string u = AnsiUpperCase(s);
    ASSERT_EQ(u.size(), s.size()) << std::hex << cp;
    EXPECT_EQ(AnsiCompareText(s, u), 0) << std::hex << cp;
    EXPECT_EQ(AnsiUpperChar(AnsiUpperChar(cp)), AnsiUpperChar(cp)) << std::hex << cp;
    if (u != s) {
      EXPECT_LT(AnsiCompareStr(s, u), 0) << std::hex << cp;
      if (cp != 0x3C2) {
        EXPECT_EQ(AnsiLowerCase(u), s) << std::hex << cp;  // final sigma
      }
    }
  }
}

// Two characters are equal ignoring case exactly when their upper-case forms
// are equal; so no two distinct letters collapse into one.
TEST(Collation, EqualIgnoringCaseOnlyForEqualUpperForms) {
  std::vector<std::string> chars;
  std::vector<std::string> uppers;
  for (uint32_t cp = 0; cp < 0x500; ++cp) {
    chars.push_back(Utf8(cp));
    uppers.push_back(AnsiUpperCase(chars.back()));
  }
  int mismatches = 0;
  for (size_t i = 0; i < chars.size(); ++i) {
    for (size_t j = i + 1; j < chars.size(); ++j) {
      const bool equal = AnsiCompareText(chars[i], chars[j]) == 0;
      if (equal != (uppers[i] == uppers[j]) && ++mismatches <= 10) {
        ADD_FAILURE() << std::hex << "U+" << i << " / U+" << j;
      }
      if (AnsiCompareStr(chars[i], chars[j]) == 0 && ++mismatches <= 10) {
        ADD_FAILURE() << std::hex << "identical weights U+" << i << " / U+" << j;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// The order and the case mapping are stored in index files: this digest of
// the sorted order of every character below U+0500 (with the ties ignoring
// case) and of both case maps must never change.
TEST(Collation, PinnedOrderAndCaseMapping) {
  std::vector<uint32_t> cps;
  for (uint32_t cp = 0; cp < 0x500; ++cp) cps.push_back(cp);
  std::sort(cps.begin(), cps.end(),
            [](uint32_t a, uint32_t b) { return AnsiCompareStr(Utf8(a), Utf8(b)) < 0; });
  uint64_t order = 14695981039346656037ull;  // FNV-1a
  auto mix = [](uint64_t& h, uint32_t v) {
    for (int k = 0; k < 4; ++k) h = (h ^ ((v >> (8 * k)) & 0xFF)) * 1099511628211ull;
  };
  for (size_t i = 0; i < cps.size(); ++i) {
    mix(order, cps[i]);
    if (i > 0) mix(order, AnsiCompareText(Utf8(cps[i - 1]), Utf8(cps[i])) == 0 ? 1 : 0);
  }
  uint64_t cases = 14695981039346656037ull;
  for (uint32_t cp = 0; cp < 0x500; ++cp) {
    mix(cases, AnsiUpperChar(cp));
    mix(cases, AnsiLowerChar(cp));
  }
  EXPECT_EQ(order, 17470796652402967540ull);
  EXPECT_EQ(cases, 14027675517985989676ull);
}

// A model check of the order: random strings over a mixed alphabet (ASCII and
// beyond, so both the ASCII fast path and the full comparison run, and the
// switch between them) must sort into a consistent total order.
TEST(Collation, RandomStringsSortConsistently) {
  const std::vector<std::string> alphabet = {
      "a",        "A",        "b",        "B",        "e",        "E",
      "z",        "0",        "9",        " ",        "-",        "_",
      "\xC3\xA9", "\xC3\x89", "\xC3\x9F", "ss",       "\xC3\xA6", "\xCC\x81",
      "\xCF\x82", "\xCF\x83", "\xCE\xA3", "\xD0\xB6", "\xD0\x96", "\xE4\xB8\xAD",
      "\xFF",     "\xC3",
  };
  std::mt19937 rng(7);
  std::vector<std::string> words;
  for (int i = 0; i < 300; ++i) {
    std::string w;
    const int len = static_cast<int>(rng() % 7);
    for (int k = 0; k < len; ++k) w += alphabet[rng() % alphabet.size()];
    words.push_back(w);
  }
  for (auto compare : {&AnsiCompareStr, &AnsiCompareText}) {
    std::vector<std::string> sorted = words;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const std::string& a, const std::string& b) { return compare(a, b) < 0; });
    for (size_t i = 0; i < sorted.size(); ++i) {
      for (size_t j = i + 1; j < sorted.size(); ++j) {
        const int32_t ij = compare(sorted[i], sorted[j]);
        const int32_t ji = compare(sorted[j], sorted[i]);
        ASSERT_LE(ij, 0) << "seed 7: " << sorted[i] << " / " << sorted[j];
        ASSERT_EQ(ij, -ji) << "seed 7: " << sorted[i] << " / " << sorted[j];
      }
    }
  }
  for (const std::string& a : words) {
    for (const std::string& b : words) {
      ASSERT_EQ(AnsiCompareStr(a, b) == 0, a == b) << a << " / " << b;
    }
  }
}

TEST(Collation, LongStringsCompareWhole) {
  const std::string x(1000, 'x');
  const std::string e(600, 'e');
  const std::string accented = [] {
    std::string s;
    for (int i = 0; i < 300; ++i) s += "\xC3\xA9";
    return s;
  }();
  struct Case {
    std::string a, b;
    int str, text;
  };
  const std::vector<Case> cases = {
      {x + "a", x + "b", -1, -1},
      {x + "b", x + "a", 1, 1},
      {x, x + "a", -1, -1},
      {x + "A", x + "a", 1, 0},
      {accented + "a", accented + "b", -1, -1},
      // a case difference at the start loses to a letter difference at the end
      {"A" + x + "b", "a" + x + "c", -1, -1},
      {"\xC3\x89" + accented + "b", "\xC3\xA9" + accented + "c", -1, -1},
      // an accent difference at the end beats a case difference at the start
      {"A" + e, "a" + e.substr(1) + "\xC3\xA9", -1, -1},
      {"a" + e + "\xC3\xA9", "A" + e + "e", 1, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sign(AnsiCompareStr(c.a, c.b)), c.str) << c.a.size();
    EXPECT_EQ(Sign(AnsiCompareText(c.a, c.b)), c.text) << c.a.size();
  }
}

TEST(Collation, InvalidUtf8IsHandled) {
  // Invalid bytes stay as they are through case mapping, between letters that
  // are mapped.
  EXPECT_EQ(AnsiUpperCase("\xFF"
                          "a\xC3"),
            "\xFF"
            "A\xC3");
  EXPECT_EQ(AnsiUpperCase("a\xC3(\xC3\xA9\xE2\x82"), "A\xC3(\xC3\x89\xE2\x82");
  EXPECT_EQ(AnsiUpperCase("\xED\xA0\x80z"), "\xED\xA0\x80Z");  // encoded surrogate
  EXPECT_EQ(AnsiLowerCase("\xC0\x81Q"), "\xC0\x81q");
  const std::string mixed[] = {"\xE0\xC3\xA9", "\xC3", "\xC3\xA9\x80\x80", "a\xF4\x90\x80\x80",
                               "\xF0\x9F\x98"};
  for (const std::string& s : mixed) {
    EXPECT_EQ(AnsiCompareText(s, AnsiUpperCase(s)), 0) << s;
    EXPECT_EQ(AnsiCompareStr(s, s), 0) << s;
    EXPECT_NE(AnsiCompareStr(s, s + "a"), 0) << s;
  }
}

}  // namespace
}  // namespace plat
