#pragma once
// Batch files of the virtual Windows. Starting a ".bat" runs it through a
// small interpreter that knows the commands the setup program writes, and
// nothing else:
//   ERASE path | DEL path          delete a file (a missing one is no error)
//   DELTREE /Y path                delete a folder with all it holds, or a file
//   MOVE source target             move a file, replacing the target
//   :label                         a place to go to
//   GOTO label
//   IF EXIST path GOTO label
//   IF NOT EXIST path GOTO label
// Blank lines, "@ECHO OFF" and "REM" lines are passed over; commands and
// keywords ignore case; a path may be quoted. A batch holding any other line
// is not started: CreateProcess fails as for a file that is no program.
// A loop (a jump back) waits a moment before each round and gives up after
// a bounded number of rounds, so a batch never runs forever.

#include <cstdint>
#include <string>
#include <vector>

namespace plat::win {

struct TBatchCommand {
  enum TKind : uint8_t { bcErase, bcDelTree, bcMove, bcGoto, bcIfExist, bcIfNotExist, bcLabel };
  TKind Kind = bcLabel;
  std::string First;   // the path, or the label of GOTO and of a label line
  std::string Second;  // MOVE's target, IF's label
};

// False (with the offending line in error) when the text holds a line that
// is none of the commands above, or a GOTO to a missing label.
bool ParseBatch(const std::string& text, std::vector<TBatchCommand>& commands, std::string& error);

inline constexpr int kBatchLoopRounds = 500;
inline constexpr uint32_t kBatchLoopWaitMs = 20;

// Runs parsed commands in this process; the number of commands run.
int RunBatch(const std::vector<TBatchCommand>& commands, int loopRounds = kBatchLoopRounds,
             uint32_t loopWaitMs = kBatchLoopWaitMs);

}  // namespace plat::win
