#include "setup/library/routines_Strings.h"

#include <gtest/gtest.h>

#include "platform/rtl/Lists.h"

namespace setup {
namespace {

TEST(RoutinesStrings, FieldsOfDelimitedText) {
  struct Case {
    const char* text;
    int32_t count;
    std::vector<std::string> fields;  // 1..count, then one beyond
  };
  const Case cases[] = {
      {"a;b;", 2, {"a", "b", ""}}, {"a;b", 2, {"a", "b", ""}}, {";", 1, {"", ""}}, {"", 0, {""}},
      {";x", 2, {"", "x", ""}},    {"one", 1, {"one", ""}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FieldCount(c.text, ';'), c.count) << c.text;
    for (size_t i = 0; i < c.fields.size(); ++i) {
      EXPECT_EQ(GetField(c.text, static_cast<int32_t>(i + 1), ';'), c.fields[i]) << c.text << i;
    }
  }
  EXPECT_EQ(GetField("a;b", 0, ';'), "");
  plat::TStringList list;
  list.Add("old");
  SplitToList("x;;y;", ';', list);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Strings(0), "x");
  EXPECT_EQ(list.Strings(1), "");
  EXPECT_EQ(list.Strings(2), "y");
}

TEST(RoutinesStrings, BackslashesColonsAndFileNames) {
  EXPECT_EQ(AddTrailingBackslash(""), "");
  EXPECT_EQ(AddTrailingBackslash("C:\\a"), "C:\\a\\");
  EXPECT_EQ(AddTrailingBackslash("C:\\a\\"), "C:\\a\\");
  EXPECT_EQ(RemoveTrailingBackslash("C:\\a\\\\"), "C:\\a\\");
  EXPECT_EQ(RemoveTrailingBackslash("C:\\a"), "C:\\a");
  EXPECT_EQ(AfterColon("key: value: more"), " value: more");
  EXPECT_EQ(AfterColon("none"), "");
  EXPECT_EQ(MakeValidFileName("a/b:c"), "a-bc");
  EXPECT_EQ(MakeValidFileName("\"*:;<>?\\|x\ty"), "x\ty");
}

}  // namespace
}  // namespace setup
