// A host of the installed engine: it creates a database file, opens it, and
// catches an engine error raised inside the library.
#include <zel15rd5.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: host <database file>\n");
    return 2;
  }
  const std::string file = argv[1];
  {
    zel::TDiskMgr creator;
    creator.SetFileName(file);
    creator.SetPageSize(4096);
    creator.CreateNewFile();
  }
  zel::TDiskMgr disk;
  disk.SetFileName(file);
  disk.SetPageSize(4096);
  disk.Open();
  const long long size = static_cast<long long>(disk.GetFileSize());
  disk.Close();
  try {
    zel::ZelDatabaseError(0x2809, "THost.Main", "Table CUSTOMERS");
  } catch (const zel::EZelDatabaseError& e) {
    std::printf("file of %lld bytes; error 0x%04X caught\n", size,
                static_cast<unsigned>(e.ErrorCode()));
    return 0;
  }
  return 1;
}
