#pragma once
// Reads the SQL case files of tests/engine/sql/cases (format in the README
// there) and runs each case through a callback that answers the result
// rows, already formatted, or throws the statement's error.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/rtl/Variants.h"

namespace zel::testing {

struct SqlCase {
  std::string File;
  int Line = 0;
  std::string Statement;
  std::vector<std::string> Options;  // "@name value" lines before the statement
  enum { Ordered, Set, Error } Expect = Ordered;
  std::string ErrorText;
  std::vector<std::string> Rows;
};

// The text of a value in a case file.
inline std::string SqlCaseValue(const plat::Variant& V) {
  if (V.IsNull() || V.IsEmpty()) return "NULL";
  return plat::VarToStr(V);
}

inline std::string TrimCaseLine(const std::string& S) {
  const auto b = S.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  return S.substr(b, S.find_last_not_of(" \t\r") - b + 1);
}

inline std::vector<SqlCase> ReadSqlCases(const std::string& Path, const std::string& Name) {
  std::vector<SqlCase> cases;
  std::ifstream in(Path);
  EXPECT_TRUE(in.good()) << "cannot read " << Path;
  std::string line;
  int lineNo = 0;
  SqlCase current;
  enum { Between, InStatement, InRows } state = Between;
  const auto flush = [&] {
    if (!current.Statement.empty()) cases.push_back(current);
    current = SqlCase();
    state = Between;
  };
  while (std::getline(in, line)) {
    ++lineNo;
    const std::string t = TrimCaseLine(line);
    if (t.empty()) {
      flush();
      continue;
    }
    if (t[0] == '#') continue;
    if (state == Between) {
      current.File = Name;
      current.Line = lineNo;
      if (t[0] == '@') {
        current.Options.push_back(t.substr(1));
        continue;
      }
      state = InStatement;
      current.Statement = t;
      continue;
    }
    if (state == InStatement) {
      if (t == "ordered" || t == "set") {
        current.Expect = t == "ordered" ? SqlCase::Ordered : SqlCase::Set;
        state = InRows;
      } else if (t.rfind("error", 0) == 0) {
        current.Expect = SqlCase::Error;
        current.ErrorText = TrimCaseLine(t.substr(5));
        if (!current.ErrorText.empty() && current.ErrorText[0] == ':')
          current.ErrorText = TrimCaseLine(current.ErrorText.substr(1));
        state = InRows;
      } else {
        current.Statement += "\n" + t;
      }
      continue;
    }
    current.Rows.push_back(t);
  }
  flush();
  return cases;
}

// Runs every case of the files; Run gives the rows ("a|b|c" each) or throws.
inline void RunSqlCaseFiles(
    const std::vector<std::string>& Files,
    const std::function<std::vector<std::string>(const SqlCase&)>& Run) {
  const char* root = std::getenv("ZEL_TEST_SOURCE_DIR");
  const std::string dir = std::string(root != nullptr ? root : ".") + "/tests/engine/sql/cases/";
  for (const std::string& file : Files) {
    for (const SqlCase& c : ReadSqlCases(dir + file, file)) {
      SCOPED_TRACE(c.File + ":" + std::to_string(c.Line) + ": " + c.Statement);
      std::vector<std::string> rows;
      std::string error;
      try {
        rows = Run(c);
      } catch (const std::exception& e) {
        error = e.what();
      }
      if (c.Expect == SqlCase::Error) {
        EXPECT_NE(error.find(c.ErrorText), std::string::npos)
            << "expected error containing \"" << c.ErrorText << "\", got \"" << error << "\"";
        continue;
      }
      ASSERT_TRUE(error.empty()) << error;
      std::vector<std::string> expected = c.Rows;
      if (c.Expect == SqlCase::Set) {
        std::sort(expected.begin(), expected.end());
        std::sort(rows.begin(), rows.end());
      }
      EXPECT_EQ(rows, expected);
    }
  }
}

}  // namespace zel::testing
