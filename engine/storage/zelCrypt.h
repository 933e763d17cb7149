#pragma once
// Checksums, digests and ciphers of the engine: CRC-32 for the definition
// record and the security header, SHA-1 for password and master-key digests,
// Blowfish for strong page encryption and a keyed XOR scrambler for weak page
// encryption. All work on caller buffers and keep no global state.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/storage/zelApi.h"
#include "platform/rtl/Streams.h"

namespace zel {

// Built-in keys. Every database file the engine has encrypted depends on these
// exact bytes; they are never written to a file.
// XOR page key of weakly encrypted tables.
inline constexpr std::string_view XORPageKey =
    "Pelorian-harbour-lantern-quilt-marrow-seventeen-vortex-ember-cask-jolly";
// Blowfish key of a database without a master key.
inline constexpr std::string_view DefaultBlowfishKey = "Tq7mWcR2vLx9Ks";

// ---------------------------------------------------------------- CRC-32

// The reflected CRC-32 (polynomial 0xEDB88320, preset and final complement).
// An empty or negative length gives 0.
ZEL_API uint32_t CalcCRC(const void* Buffer, int32_t Length);

// ---------------------------------------------------------------- SHA-1

// A SHA-1 digest as its five chaining words H0..H4. Files store each word
// little-endian.
using TSha1Digest = std::array<uint32_t, 5>;

// SHA-1 of the string's bytes.
ZEL_API void GetSHA1FromString(const std::string& Text, TSha1Digest& Digest);

// A write-only stream that digests what is written to it. Invariant:
// 0 <= BlockIndex < 64 and Block[0..BlockIndex) holds the bytes of the block
// not yet compressed into Hash.
class TSha1Stream : public plat::TStream {
 public:
  TSha1Stream() { Initialize(); }
  std::string ClassName() const override { return "TSha1Stream"; }

  // Nothing can be read back.
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Does not move; returns the number of bytes digested since the last
  // Initialize, so Position and Size report that too.
  int64_t Seek(int64_t Offset, plat::TSeekOrigin Origin) override;

  virtual void AddByte(uint8_t Value);
  // The digest's 20 bytes: the five words in order, each little-endian.
  // Finishes the message and starts a new one, as GetDigest does.
  virtual std::string GetDigestString();
  // Starts a new, empty message.
  virtual void Initialize();
  // Compresses the full block in Block into Hash.
  virtual void UpdateDigest();
  // Stores Value big-endian at Block[Offset..Offset+8).
  virtual void WriteBigEndian(uint64_t Value, int32_t Offset);
  // Pads the message, returns its digest and starts a new, empty message.
  virtual void GetDigest(TSha1Digest& Digest);

 private:
  uint64_t BlockCount = 0;  // 64-byte blocks compressed so far
  int32_t BlockIndex = 0;   // bytes waiting in Block
  uint8_t Block[64] = {};
  TSha1Digest Hash = {};
};

// ---------------------------------------------------------------- Blowfish

// The cipher state: initial vector, current feedback block, S-boxes, P-array.
struct TBlowfishData {
  uint8_t InitBlock[8];
  uint8_t LastBlock[8];
  uint32_t SBoxM[4][256];
  uint32_t PBoxM[18];
};

// Key schedule. KeyBits must be 8 to 448 and a multiple of 8 (1 to 56 key
// bytes); otherwise Data is left as it was. IV may be null: the initial vector
// then is the encryption of eight 0xFF bytes.
void BlowfishInit(TBlowfishData& Data, const void* Key, int32_t KeyBits, const void* IV);
// Restarts the feedback block from the initial vector.
void BlowfishReset(TBlowfishData& Data);
// Overwrites the whole state with 0xFF bytes.
void BlowfishBurn(TBlowfishData& Data);

// One 8-byte block; In and Out may be the same buffer.
void BlowfishEncryptECB(const TBlowfishData& Data, const void* In, void* Out);
void BlowfishDecryptECB(const TBlowfishData& Data, const void* In, void* Out);

// Cipher block chaining over whole blocks; a trailing part shorter than a
// block is XORed with the encryption of the feedback block. In and Out may be
// the same buffer.
void BlowfishEncryptCBC(TBlowfishData& Data, const void* In, void* Out, int32_t Length);
void BlowfishDecryptCBC(TBlowfishData& Data, const void* In, void* Out, int32_t Length);

// 8-bit cipher feedback: any length, one byte at a time. In and Out may be the
// same buffer.
void BlowfishEncryptCFB(TBlowfishData& Data, const void* In, void* Out, int32_t Length);
void BlowfishDecryptCFB(TBlowfishData& Data, const void* In, void* Out, int32_t Length);

// ---------------------------------------------------------------- XOR

// Target[i] := Source[i] xor Key[k], k starting at 0 and stepping by
// (Param and 100) + 1 modulo KeyLength. The same call encrypts and decrypts;
// Source and Target may be the same buffer. KeyLength must be positive when
// Length is.
void XORCryptBuf(const void* Source, void* Target, const void* Key, int32_t Param,
                 int32_t KeyLength, int32_t Length);

}  // namespace zel
