// Fuzz target: arbitrary bytes as a database file holding the parts tables
// (a plain and an encrypted one, two indexes, records and compressed memos).
// The file is opened and every record is read through every index, each with
// its memo. A damaged file may raise the engine's error; anything else (an
// other exception, a crash, a sanitizer report, a hang, memory without
// bound) is a finding.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/storage/PartsDatabase.h"
#include "engine/storage/zelCommonError.h"

namespace {

std::string folder;

void RemoveFolder() {
  unlink((folder + "/fuzz.zel").c_str());
  unlink((folder + "/fuzz.lck").c_str());
  rmdir(folder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/zel-dbfuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  folder = pattern;
  std::atexit(RemoveFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string name = folder + "/fuzz.zel";
  FILE* out = std::fopen(name.c_str(), "wb");
  if (out == nullptr) return 0;
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  try {
    zel::partsdb::ReadEverything(name);
  } catch (const zel::EZelDatabaseError&) {
    // The engine noticed the damage: the sound outcome.
  }
  unlink((folder + "/fuzz.lck").c_str());
  return 0;
}
