#include "platform/rtl/Strings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"

namespace plat {
namespace {

TEST(Strings, CopyClampsIndexAndCount) {
  struct Case {
    int64_t index, count;
    const char* want;
  };
  const Case cases[] = {
      {1, 3, "abc"}, {2, 2, "bc"},   {4, 1, "d"}, {5, 1, ""},  {100, 1, ""},           {0, 2, "ab"},
      {-5, 2, "ab"}, {3, 100, "cd"}, {2, 0, ""},  {2, -1, ""}, {1, INT64_MAX, "abcd"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Copy("abcd", c.index, c.count), c.want) << c.index << "," << c.count;
  }
  EXPECT_EQ(Copy("", 1, 5), "");
}

TEST(Strings, DeleteAndInsertClamp) {
  struct DeleteCase {
    int64_t index, count;
    const char* want;
  };
  const DeleteCase deletes[] = {
      {1, 1, "bcd"},  {2, 2, "ad"},    {3, 100, "ab"}, {4, 1, "abc"},   {5, 1, "abcd"},
      {0, 2, "abcd"}, {-1, 2, "abcd"}, {2, 0, "abcd"}, {2, -3, "abcd"},
  };
  for (const DeleteCase& c : deletes) {
    std::string s = "abcd";
    Delete(s, c.index, c.count);
    EXPECT_EQ(s, c.want) << c.index << "," << c.count;
  }
  struct InsertCase {
    int64_t index;
    const char* want;
  };
  const InsertCase inserts[] = {
      {1, "XYabc"}, {2, "aXYbc"},  {4, "abcXY"},         {5, "abcXY"},         {100, "abcXY"},
      {0, "XYabc"}, {-7, "XYabc"}, {INT64_MIN, "XYabc"}, {INT64_MAX, "abcXY"},
  };
  for (const InsertCase& c : inserts) {
    std::string s = "abc";
    Insert("XY", s, c.index);
    EXPECT_EQ(s, c.want) << c.index;
  }
}

TEST(Strings, PosAndPosEx) {
  EXPECT_EQ(Pos("b", "abcabc"), 2);
  EXPECT_EQ(Pos("abc", "abcabc"), 1);
  EXPECT_EQ(Pos("x", "abc"), 0);
  EXPECT_EQ(Pos("", "abc"), 0);
  EXPECT_EQ(Pos("abcd", "abc"), 0);
  EXPECT_EQ(PosEx("b", "abcabc", 3), 5);
  EXPECT_EQ(PosEx("b", "abcabc", 2), 2);
  EXPECT_EQ(PosEx("b", "abcabc", 6), 0);
  EXPECT_EQ(PosEx("c", "abcabc", 6), 6);
  EXPECT_EQ(PosEx("a", "abc", 0), 0);
  EXPECT_EQ(PosEx("a", "abc", 4), 0);
}

TEST(Strings, TrimRemovesBlanksAndControlCharacters) {
  EXPECT_EQ(Trim(" \t\r\n a b \x01\x1f "), "a b");
  EXPECT_EQ(TrimLeft("  a  "), "a  ");
  EXPECT_EQ(TrimRight("  a  "), "  a");
  EXPECT_EQ(Trim("   "), "");
  // Bytes of multi-byte characters are above the blank and stay.
  EXPECT_EQ(Trim(" \xC3\xA9 "), "\xC3\xA9");
}

TEST(Strings, AsciiCaseAndByteComparisons) {
  EXPECT_EQ(UpperCase("abc xyz \xC3\xA9"), "ABC XYZ \xC3\xA9");
  EXPECT_EQ(LowerCase("ABC XYZ \xC3\x89"), "abc xyz \xC3\x89");
  EXPECT_LT(CompareStr("A", "a"), 0);
  EXPECT_LT(CompareStr("abc", "abcd"), 0);
  EXPECT_GT(CompareStr("b", "abc"), 0);
  EXPECT_EQ(CompareStr("", ""), 0);
  EXPECT_GT(CompareStr("\xC3", "z"), 0);  // bytes compare unsigned
  EXPECT_EQ(CompareText("HeLLo", "hello"), 0);
  // Letters fold to upper case, so "_" (0x5F) sorts after them.
  EXPECT_GT(CompareText("_", "a"), 0);
  EXPECT_TRUE(SameText("ABC", "abc"));
  EXPECT_FALSE(SameText("\xC3\xA9", "\xC3\x89"));  // not an ASCII letter
  EXPECT_EQ(StringOfChar('x', 3), "xxx");
  EXPECT_EQ(StringOfChar('x', -1), "");
}

TEST(Strings, StringReplace) {
  struct Case {
    const char *s, *from, *to;
    TReplaceFlags flags;
    const char* want;
  };
  const Case cases[] = {
      {"aXbXc", "X", "--", {}, "a--bXc"},
      {"aXbXc", "X", "--", rfReplaceAll, "a--b--c"},
      {"aXbxc", "x", "", {rfReplaceAll, rfIgnoreCase}, "abc"},
      {"aXbxc", "x", "", rfReplaceAll, "aXbc"},
      {"aaa", "aa", "b", rfReplaceAll, "ba"},
      {"abc", "", "z", rfReplaceAll, "abc"},
      {"abc", "abc", "", {}, ""},
      // Ignoring case with letters beyond ASCII.
      {"Grüße GRÜSSE", "ü", "ue", {rfReplaceAll, rfIgnoreCase}, "Grueße GRueSSE"},
      {"ΑΒΓ αβγ", "β", "b", {rfReplaceAll, rfIgnoreCase}, "ΑbΓ αbγ"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StringReplace(c.s, c.from, c.to, c.flags), c.want) << c.s;
  }
}

TEST(Strings, Quoting) {
  EXPECT_EQ(QuotedStr("it's"), "'it''s'");
  EXPECT_EQ(QuotedStr(""), "''");
  EXPECT_EQ(AnsiQuotedStr("a\"b", '"'), "\"a\"\"b\"");
  struct Case {
    const char* in;
    const char* want;
  };
  const Case dequotes[] = {
      {"'it''s'", "it's"}, {"''", ""}, {"'abc", "abc"}, {"abc", "abc"},
      {"'a'b", "a"},       {"", ""},   {"'''", "'"},
  };
  for (const Case& c : dequotes) EXPECT_EQ(AnsiDequotedStr(c.in, '\''), c.want) << c.in;
  // Every byte survives a quote and dequote.
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(AnsiDequotedStr(QuotedStr(all), '\''), all);
}

TEST(Strings, IntegerText) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(IntToStr(int64_t{-9223372036854775807LL - 1}), "-9223372036854775808");
  EXPECT_EQ(IntToStr(uint64_t{18446744073709551615ULL}), "18446744073709551615");
  EXPECT_EQ(IntToStr(size_t{42}), "42");
  EXPECT_EQ(IntToHex(255, 4), "00FF");
  EXPECT_EQ(IntToHex(0, 0), "0");
  EXPECT_EQ(IntToHex(-1, 2), "FFFFFFFF");
  EXPECT_EQ(IntToHex(int64_t{-1}, 2), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(IntToHex(uint32_t{0xABCDEF}, 8), "00ABCDEF");
}

TEST(Strings, StrToIntAcceptsTheLibraryForms) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"123", true, 123},
      {"  -45  ", true, -45},
      {"+7", true, 7},
      {"\t12\r\n", true, 12},
      {"$FF", true, 255},
      {"0x1f", true, 31},
      {"-$10", true, -16},
      {"$FFFFFFFF", true, -1},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"$100000000", false, 0},
      {"", false, 0},
      {"  ", false, 0},
      {"-", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"12a", false, 0},
      {"1 2", false, 0},
      {"- 1", false, 0},
      {"--1", false, 0},
      {"1.0", false, 0},
      {"$-1", false, 0},
  };
  for (const Case& c : cases) {
    int32_t v = 999;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << "'" << c.text << "'";
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
    EXPECT_EQ(StrToIntDef(c.text, -99), c.ok ? c.value : -99) << c.text;
  }
  int32_t v = 0;
  EXPECT_FALSE(TryStrToInt(std::string_view("12\0", 3), v));
}

TEST(Strings, StrToInt64AndErrors) {
  int64_t v = 0;
  EXPECT_TRUE(TryStrToInt64("9223372036854775807", v));
  EXPECT_EQ(v, INT64_MAX);
  EXPECT_TRUE(TryStrToInt64("-9223372036854775808", v));
  EXPECT_EQ(v, INT64_MIN);
  EXPECT_FALSE(TryStrToInt64("9223372036854775808", v));
  EXPECT_TRUE(TryStrToInt64("$FFFFFFFFFFFFFFFF", v));
  EXPECT_EQ(v, -1);
  EXPECT_TRUE(TryStrToInt64(" 4294967296 ", v));
  EXPECT_EQ(v, 4294967296LL);
  EXPECT_EQ(StrToInt64Def("x", 5), 5);
  try {
    StrToInt("12x");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'12x' is not a valid integer value");
  }
  EXPECT_THROW(StrToInt64("99999999999999999999"), EConvertError);
}

TEST(Strings, Utf8AndWideConversions) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
  const std::u16string wide = Utf8ToWide(text);
  EXPECT_EQ(wide, (std::u16string{u'a', u'\u00E9', u'\u20AC', 0xD83D, 0xDE00}));
  EXPECT_EQ(WideToUtf8(wide), text);
  // Each byte that does not begin valid UTF-8 becomes U+FFFD, and the next
  // character starts right after it.
  struct Case {
    std::string in;
    std::u16string want;
  };
  const Case cases[] = {
      {"\xFF", u"\uFFFD"},
      {"a\x80z", u"a\uFFFDz"},
      {"\xC3", u"\uFFFD"},                                // truncated
      {"\xC3(", u"\uFFFD("},                              // bad continuation
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong "/"
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xE2\x82", u"\uFFFD\uFFFD"},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToWide(c.in), c.want) << c.in;
  // Unpaired surrogates become U+FFFD.
  EXPECT_EQ(WideToUtf8(std::u16string{0xD800, u'a'}),
            "\xEF\xBF\xBD"
            "a");
  EXPECT_EQ(WideToUtf8(std::u16string{0xDC00}), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToUtf8(std::u16string{0xD83D}), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf8ToWide(""), u"");
}

TEST(Strings, CutToCharBoundaryNeverSplitsACharacter) {
  struct Case {
    std::string in;
    size_t max;
    std::string want;
  };
  const Case cases[] = {
      {"abc", 5, "abc"},
      {"abc", 2, "ab"},
      {"abc", 0, ""},
      {"a\xC3\xA9", 2, "a"},  // inside é
      {"a\xC3\xA9", 3, "a\xC3\xA9"},
      {"\xE2\x82\xAC\xE2\x82\xAC", 5, "\xE2\x82\xAC"},  // inside the second €
      {"\xE2\x82\xAC", 1, ""},
      {"\xF0\x9F\x98\x80z", 3, ""},
      {"\xF0\x9F\x98\x80z", 4, "\xF0\x9F\x98\x80"},
      // Invalid bytes are characters of one byte and may be cut after.
      {"a\x80\x80\x80", 2, "a\x80"},
      {"\xC3(", 1, "\xC3"},
      {"ab\xE2\x82", 3, "ab\xE2"},  // a truncated sequence is not a character
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CutToCharBoundary(c.in, c.max), c.want) << c.in << " " << c.max;
  }
}

TEST(Strings, FileNameHelpers) {
  struct Case {
    const char* path;
    const char *name, *filePath, *dir, *ext;
  };
  const Case cases[] = {
      {"/data/db/test.zel", "test.zel", "/data/db/", "/data/db", ".zel"},
      {"test.tar.gz", "test.tar.gz", "", "", ".gz"},
      {"/data.d/file", "file", "/data.d/", "/data.d", ""},
      {"/file", "file", "/", "/", ""},
      {"/", "", "/", "/", ""},
      {"dir/", "", "dir/", "dir", ""},
      {"", "", "", "", ""},
      {".hidden", ".hidden", "", "", ".hidden"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
    EXPECT_EQ(ExtractFilePath(c.path), c.filePath) << c.path;
    EXPECT_EQ(ExtractFileDir(c.path), c.dir) << c.path;
    EXPECT_EQ(ExtractFileExt(c.path), c.ext) << c.path;
  }
  EXPECT_EQ(ChangeFileExt("/a/b.zel", ".lck"), "/a/b.lck");
  EXPECT_EQ(ChangeFileExt("/a.d/b", ".lck"), "/a.d/b.lck");
  EXPECT_EQ(ChangeFileExt("b.tar.gz", ""), "b.tar");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/a/"), "/a");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/a"), "/a");
}

}  // namespace
}  // namespace plat
