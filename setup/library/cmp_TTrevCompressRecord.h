#pragma once
// The byte layout of the archive's head and member records, shared by the
// units of the archive component.
//
// Member record (176 bytes):
//   0 member number           4 reserved            8 file date-time (double)
//  16 last volume            20 last data byte's position
//  24 path: length byte + 100 characters           125 padding
// 128 next record's position 132 uncompressed size 136 first data byte
// 140 compressed size        144 first volume (low byte; 0 is 1)
// 148 member id              152 version: length byte + 20 characters
// 173 padding

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "setup/library/cmp_TTrevCompress.h"

namespace setup::archive {

inline constexpr int32_t kHeadSize = 5;
inline constexpr int32_t kRecordSize = 176;
inline constexpr size_t kMaxPath = 100;
inline constexpr size_t kMaxVersion = 20;
inline constexpr int32_t kMaxVolume = 255;

inline constexpr size_t kOffNumber = 0;
inline constexpr size_t kOffDate = 8;
inline constexpr size_t kOffLastVolume = 16;
inline constexpr size_t kOffLastPosition = 20;
inline constexpr size_t kOffPath = 24;
inline constexpr size_t kOffNext = 128;
inline constexpr size_t kOffUncompressed = 132;
inline constexpr size_t kOffFirstPosition = 136;
inline constexpr size_t kOffCompressed = 140;
inline constexpr size_t kOffFirstVolume = 144;
inline constexpr size_t kOffId = 148;
inline constexpr size_t kOffVersion = 152;

inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline int32_t LoadI32(const uint8_t* p) {
  return static_cast<int32_t>(LoadU32(p));
}
inline void StoreU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void StoreI32(uint8_t* p, int32_t v) {
  StoreU32(p, static_cast<uint32_t>(v));
}
inline double LoadF64(const uint8_t* p) {
  const uint64_t bits = LoadU32(p) | static_cast<uint64_t>(LoadU32(p + 4)) << 32;
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}
inline void StoreF64(uint8_t* p, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  StoreU32(p, static_cast<uint32_t>(bits));
  StoreU32(p + 4, static_cast<uint32_t>(bits >> 32));
}

// A short string: length byte and up to max characters. False when the
// length byte claims more than the field holds.
inline bool LoadShortString(const uint8_t* p, size_t max, std::string& s) {
  if (p[0] > max) return false;
  s.assign(reinterpret_cast<const char*>(p + 1), p[0]);
  return true;
}
inline void StoreShortString(uint8_t* p, size_t max, const std::string& s) {
  const size_t n = std::min(s.size(), max);
  p[0] = static_cast<uint8_t>(n);
  std::memcpy(p + 1, s.data(), n);
}

// False when a string field's length is out of range.
inline bool DecodeRecord(const uint8_t* r, TFileHeader& h) {
  h.FileNumber = LoadI32(r + kOffNumber);
  h.FileDate = LoadF64(r + kOffDate);
  h.LastVolume = LoadI32(r + kOffLastVolume);
  h.LastPosition = LoadI32(r + kOffLastPosition);
  h.NextPosition = LoadI32(r + kOffNext);
  h.UncompressedSize = LoadU32(r + kOffUncompressed);
  h.FirstPosition = LoadI32(r + kOffFirstPosition);
  h.CompressedSize = LoadU32(r + kOffCompressed);
  h.FirstVolume = r[kOffFirstVolume] == 0 ? 1 : r[kOffFirstVolume];
  h.UniqueID = LoadI32(r + kOffId);
  return LoadShortString(r + kOffPath, kMaxPath, h.FilePath) &&
         LoadShortString(r + kOffVersion, kMaxVersion, h.FileVersion);
}

inline void EncodeRecord(const TFileHeader& h, uint8_t* r) {
  std::memset(r, 0, kRecordSize);
  StoreI32(r + kOffNumber, h.FileNumber);
  StoreF64(r + kOffDate, h.FileDate);
  StoreI32(r + kOffLastVolume, h.LastVolume);
  StoreI32(r + kOffLastPosition, h.LastPosition);
  StoreShortString(r + kOffPath, kMaxPath, h.FilePath);
  StoreI32(r + kOffNext, h.NextPosition);
  StoreU32(r + kOffUncompressed, h.UncompressedSize);
  StoreI32(r + kOffFirstPosition, h.FirstPosition);
  StoreU32(r + kOffCompressed, h.CompressedSize);
  StoreI32(r + kOffFirstVolume, h.FirstVolume);
  StoreI32(r + kOffId, h.UniqueID);
  StoreShortString(r + kOffVersion, kMaxVersion, h.FileVersion);
}

// Messages shared by the units.
inline constexpr const char* kOpenArchive = "Cannot open the compressed file %s";
inline constexpr const char* kCorrupt =
    "Could not read the file headers for the compressed file. The Archive file could possible "
    "be corrupt";
inline constexpr const char* kSizeMismatch =
    "The decompressed file's size does not match with the actual size of the file.  The file "
    "is %s";
inline constexpr const char* kAborted = "Operation aborted by user";
inline constexpr const char* kCreateFile = "Cannot create the file %s";
inline constexpr const char* kTooLittleSpace = "There is too little space on this disk to operate";

// Windows path helpers: a name's extension replaced, and a folder joined.
std::string ChangeWinFileExt(const std::string& FileName, const std::string& Extension);
std::string JoinWinPath(const std::string& Folder, const std::string& Name);

}  // namespace setup::archive

namespace setup {

// Where the reading of a member's data stands.
struct TTrevCompress::TMemberCursor {
  const TFileHeader& Header;
  int32_t Volume;
  int64_t Position;   // in the volume's file
  int64_t Remaining;  // bytes of the member still to come
  plat::TOSFile File;
};

}  // namespace setup
