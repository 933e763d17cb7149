#include "platform/win/BatchFiles.h"

#include "platform/rtl/Strings.h"
#include "platform/win/WinFiles.h"
#include "platform/os/Os.h"

namespace plat::win {

namespace {

// The words of a line; a quoted word keeps its blanks.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos >= line.size()) break;
    std::string word;
    if (line[pos] == '"') {
      const size_t close = line.find('"', pos + 1);
      word = line.substr(pos + 1, close == std::string::npos ? std::string::npos : close - pos - 1);
      pos = close == std::string::npos ? line.size() : close + 1;
    } else {
      while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') word += line[pos++];
    }
    words.push_back(word);
  }
  return words;
}

bool Is(const std::string& word, const char* keyword) {
  return UpperCase(word) == keyword;
}

bool DeleteTree(const std::string& path) {
  if (FileExists(path)) return DeleteFile(path);
  if (!DirectoryExists(path)) return true;
  for (const TWinFindData& f : FindFiles(path + "\\*.*")) {
    const std::string child = path + "\\" + f.Name;
    if ((f.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      DeleteTree(child);
    } else {
      SetFileAttributes(child, FILE_ATTRIBUTE_NORMAL);
      DeleteFile(child);
    }
  }
  return RemoveDirectory(path);
}

}  // namespace

bool ParseBatch(const std::string& text, std::vector<TBatchCommand>& commands, std::string& error) {
  commands.clear();
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(Trim(text.substr(start, end - start)));
    start = end + 1;
  }
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    const std::vector<std::string> w = Words(line);
    TBatchCommand c;
    if (line[0] == ':') {
      c.Kind = TBatchCommand::bcLabel;
      c.First = UpperCase(Trim(line.substr(1)));
    } else if (Is(w[0], "@ECHO") || Is(w[0], "REM")) {
      continue;
    } else if ((Is(w[0], "ERASE") || Is(w[0], "DEL")) && w.size() == 2) {
      c.Kind = TBatchCommand::bcErase;
      c.First = w[1];
    } else if (Is(w[0], "DELTREE") && w.size() == 3 && Is(w[1], "/Y")) {
      c.Kind = TBatchCommand::bcDelTree;
      c.First = w[2];
    } else if (Is(w[0], "MOVE") && w.size() == 3) {
      c.Kind = TBatchCommand::bcMove;
      c.First = w[1];
      c.Second = w[2];
    } else if (Is(w[0], "GOTO") && w.size() == 2) {
      c.Kind = TBatchCommand::bcGoto;
      c.First = UpperCase(w[1]);
    } else if (Is(w[0], "IF") && w.size() == 5 && Is(w[1], "EXIST") && Is(w[3], "GOTO")) {
      c.Kind = TBatchCommand::bcIfExist;
      c.First = w[2];
      c.Second = UpperCase(w[4]);
    } else if (Is(w[0], "IF") && w.size() == 6 && Is(w[1], "NOT") && Is(w[2], "EXIST") &&
               Is(w[4], "GOTO")) {
      c.Kind = TBatchCommand::bcIfNotExist;
      c.First = w[3];
      c.Second = UpperCase(w[5]);
    } else {
      error = line;
      return false;
    }
    commands.push_back(c);
  }
  for (const TBatchCommand& c : commands) {
    const std::string* target = c.Kind == TBatchCommand::bcGoto ? &c.First
                                : c.Kind == TBatchCommand::bcIfExist ||
                                        c.Kind == TBatchCommand::bcIfNotExist
                                    ? &c.Second
                                    : nullptr;
    if (target == nullptr) continue;
    bool found = false;
    for (const TBatchCommand& l : commands) {
      found = found || (l.Kind == TBatchCommand::bcLabel && l.First == *target);
    }
    if (!found) {
      error = "GOTO " + *target;
      return false;
    }
  }
  return true;
}

int RunBatch(const std::vector<TBatchCommand>& commands, int loopRounds, uint32_t loopWaitMs) {
  int run = 0;
  int rounds = 0;
  size_t pc = 0;
  auto jump = [&](const std::string& label) {
    for (size_t i = 0; i < commands.size(); ++i) {
      if (commands[i].Kind == TBatchCommand::bcLabel && commands[i].First == label) {
        if (i < pc) {
          if (++rounds > loopRounds) return false;
          Sleep(loopWaitMs);
        }
        pc = i;
        return true;
      }
    }
    return false;
  };
  while (pc < commands.size()) {
    const TBatchCommand& c = commands[pc];
    ++run;
    ++pc;
    switch (c.Kind) {
      case TBatchCommand::bcErase:
        DeleteFile(c.First);
        break;
      case TBatchCommand::bcDelTree:
        DeleteTree(c.First);
        break;
      case TBatchCommand::bcMove:
        MoveFileEx(c.First, c.Second, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
        break;
      case TBatchCommand::bcGoto:
        if (!jump(c.First)) return run;
        break;
      case TBatchCommand::bcIfExist:
      case TBatchCommand::bcIfNotExist: {
        const bool exists = FileExists(c.First) || DirectoryExists(c.First);
        if (exists == (c.Kind == TBatchCommand::bcIfExist) && !jump(c.Second)) return run;
        break;
      }
      case TBatchCommand::bcLabel:
        break;
    }
  }
  return run;
}

}  // namespace plat::win
