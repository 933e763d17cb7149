#pragma once
// The build side of the setup program: with -b it builds its own
// distributables into the directory named by the first line of "BUILD.INF"
// beside it ("setup.exe", the loading program with its tail; "setup.1", the
// setup program compressed; "files.1", every install file under its id);
// with -f it copies a self-extracting "setup.exe" onto floppies in drive A:,
// spreading the archive over as many disks as it needs.
//
// The tail of "setup.exe" (56 bytes, integers 32-bit little-endian):
//   0  marker: length byte 14 + "SELFEXTRACTING" or "NOTSELFEXTRACT"
//  15  zero
//  16  first and 20 last byte of the appended "setup.1" (0 in a plain build)
//  24  first and 28 last byte of the appended "files.1" (the archive offset
//      the install reads with -e)
//  32  24 zero bytes

#include <cstdint>
#include <string>
#include <vector>

namespace setup {

class TCustomInstall;

inline constexpr int32_t kSelfExtractInfoSize = 56;

struct TSelfExtractInfo {
  bool SelfExtracting = false;
  int32_t SetupFirst = 0;
  int32_t SetupLast = 0;
  int32_t FilesFirst = 0;
  int32_t FilesLast = 0;
};

// "filelist.lst" of a network distribution (below the build directory in
// the install's network location's directory): int32 count, then 80-byte
// records:
//   0 uncompressed size, 4 zero, 8 file date-time (double), 16 component
//   name (40 bytes, zero-terminated), 56 version text (24, zero-terminated).
inline constexpr int32_t kFileListRecordSize = 80;
struct TFileListEntry {
  std::string Name;
  uint32_t Size = 0;
  double DateTime = 0;
  std::string Version;
};
std::string EncodeFileList(const std::vector<TFileListEntry>& Entries);
// False when the list is cut short or its count is negative.
bool DecodeFileList(const std::string& Data, std::vector<TFileListEntry>& Entries);

std::string EncodeSelfExtractInfo(const TSelfExtractInfo& Info);
// False when Block is not a tail of either kind.
bool DecodeSelfExtractInfo(const std::string& Block, TSelfExtractInfo& Info);

// The installer library's directory (without trailing backslash): the first
// entry of the IDE's library search path holding "T32V52.TXT". Raises
// IEInstall when there is none.
std::string QuillaneInfo();

// -b for the setup program Program (the running one; "BUILD.INF" lies
// beside it). StandAlone joins "setup.1" and "files.1" into "setup.exe".
// Raises IEInstall (or the archive's errors) on failure.
void BuildDistributables(TCustomInstall& Install, bool StandAlone, const std::string& Program);

// -f: copies the self-extracting program SelfExtractor onto drive A:,
// asking the install's UI for each further disk.
void TransferToFloppies(TCustomInstall& Install, const std::string& SelfExtractor);

}  // namespace setup
