#include "setup/library/routines_Strings.h"

namespace setup {

void SplitToList(const std::string& Text, char Delimiter, plat::TStrings& List) {
  List.Clear();
  const int32_t count = FieldCount(Text, Delimiter);
  for (int32_t i = 1; i <= count; ++i) List.Add(GetField(Text, i, Delimiter));
}

std::string AddTrailingBackslash(const std::string& Path) {
  if (Path.empty() || Path.back() == '\\') return Path;
  return Path + "\\";
}

std::string RemoveTrailingBackslash(const std::string& Path) {
  if (!Path.empty() && Path.back() == '\\') return Path.substr(0, Path.size() - 1);
  return Path;
}

int32_t FieldCount(const std::string& Text, char Delimiter) {
  int32_t count = 0;
  for (const char c : Text) count += c == Delimiter ? 1 : 0;
  if (!Text.empty() && Text.back() != Delimiter) ++count;
  return count;
}

std::string GetField(const std::string& Text, int32_t N, char Delimiter) {
  if (N < 1) return {};
  size_t start = 0;
  for (int32_t field = 1; field < N; ++field) {
    const size_t next = Text.find(Delimiter, start);
    if (next == std::string::npos) return {};
    start = next + 1;
  }
  const size_t end = Text.find(Delimiter, start);
  return Text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string AfterColon(const std::string& Text) {
  const size_t colon = Text.find(':');
  return colon == std::string::npos ? std::string() : Text.substr(colon + 1);
}

std::string MakeValidFileName(const std::string& Text) {
  std::string result;
  for (const char c : Text) {
    if (c == '/') {
      result += '-';
    } else if (std::string("\"*:;<>?\\|").find(c) == std::string::npos) {
      result += c;
    }
  }
  return result;
}

}  // namespace setup
