#include "engine/storage/zelCrypt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"

namespace zel {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string ToHex(const uint8_t* bytes, size_t size) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 7 + (i >> 8) * 13 + 1);
  return bytes;
}

// ---------------------------------------------------------------- CRC-32

TEST(CalcCRC, PublishedValues) {
  struct Case {
    std::string text;
    uint32_t crc;
  };
  const Case cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CalcCRC(c.text.data(), int32_t(c.text.size())), c.crc) << c.text;
  }
}

TEST(CalcCRC, NegativeLengthReadsNothing) {
  EXPECT_EQ(CalcCRC(nullptr, -5), 0u);
}

// ---------------------------------------------------------------- SHA-1

TEST(Sha1, PublishedAndPaddingBoundaryVectors) {
  struct Case {
    std::string text;
    TSha1Digest digest;
  };
  const Case cases[] = {
      {"", {0xDA39A3EEu, 0x5E6B4B0Du, 0x3255BFEFu, 0x95601890u, 0xAFD80709u}},
      {"abc", {0xA9993E36u, 0x4706816Au, 0xBA3E2571u, 0x7850C26Cu, 0x9CD0D89Du}},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       {0x84983E44u, 0x1C3BD26Eu, 0xBAAE4AA1u, 0xF95129E5u, 0xE54670F1u}},
      // Lengths around the 56-byte mark where the bit count no longer fits
      // the last block, and around whole blocks.
      {std::string(55, 'a'), {0xC1C8BBDCu, 0x22796E28u, 0xC0E15163u, 0xD20899B6u, 0x5621D65Au}},
      {std::string(56, 'a'), {0xC2DB330Fu, 0x6083854Cu, 0x99D4B5BFu, 0xB6E8F29Fu, 0x201BE699u}},
      {std::string(63, 'a'), {0x03F09F5Bu, 0x158A7A8Cu, 0xDAD920BDu, 0xDC29B81Cu, 0x18A551F5u}},
      {std::string(64, 'a'), {0x0098BA82u, 0x4B5C1642u, 0x7BD7A112u, 0x2A5A442Au, 0x25EC644Du}},
      {std::string(65, 'a'), {0x11655326u, 0xC708D703u, 0x19BE2610u, 0xE8A57D9Au, 0x5B959D3Bu}},
      {std::string(120, 'a'), {0xF34C1488u, 0x385346A5u, 0x5709BA05u, 0x6DDD0828u, 0x0DD4C6D6u}},
      {std::string(1000000, 'a'),
       {0x34AA973Cu, 0xD4C4DAA4u, 0xF61EEB2Bu, 0xDBAD2731u, 0x6534016Fu}},
  };
  for (const auto& c : cases) {
    TSha1Digest digest{};
    GetSHA1FromString(c.text, digest);
    EXPECT_EQ(digest, c.digest) << "length " << c.text.size();
  }
}

TEST(Sha1, PiecesGiveTheSameDigestAsOneWrite) {
  const auto data = Pattern(200);
  TSha1Stream stream;
  TSha1Digest whole{};
  stream.Write(data.data(), int32_t(data.size()));
  stream.GetDigest(whole);
  for (size_t split = 0; split <= data.size(); ++split) {
    TSha1Digest pieces{};
    stream.Write(data.data(), int32_t(split));
    stream.Write(data.data() + split, int32_t(data.size() - split));
    stream.GetDigest(pieces);
    ASSERT_EQ(pieces, whole) << "split at " << split;
  }
  TSha1Digest bytes{};
  for (uint8_t b : data) stream.AddByte(b);
  stream.GetDigest(bytes);
  EXPECT_EQ(bytes, whole);
}

TEST(Sha1, DigestStartsANewMessage) {
  TSha1Stream stream;
  TSha1Digest first{}, second{}, expected{};
  stream.Write("some text", 9);
  stream.GetDigest(first);
  stream.Write("abc", 3);
  stream.GetDigest(second);
  GetSHA1FromString("abc", expected);
  EXPECT_EQ(second, expected);
  // Initialize drops what was written.
  stream.Write("discarded", 9);
  stream.Initialize();
  stream.Write("abc", 3);
  stream.GetDigest(second);
  EXPECT_EQ(second, expected);
}

TEST(Sha1, DigestStringHoldsLittleEndianWords) {
  TSha1Stream stream;
  stream.Write("abc", 3);
  const std::string text = stream.GetDigestString();
  ASSERT_EQ(text.size(), 20u);
  EXPECT_EQ(ToHex(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
            "363E99A96A810647"
            "71253EBA6CC25078"
            "9DD8D09C");
  // The stream was restarted: the next string is that of an empty message.
  const std::string empty = stream.GetDigestString();
  EXPECT_EQ(ToHex(reinterpret_cast<const uint8_t*>(empty.data()), 4), "EEA339DA");
}

TEST(Sha1, StreamReportsBytesWrittenAndReadsNothing) {
  TSha1Stream stream;
  const auto data = Pattern(100);
  EXPECT_EQ(stream.Write(data.data(), 100), 100);
  EXPECT_EQ(stream.Write(data.data(), 0), 0);
  EXPECT_EQ(stream.Write(data.data(), -1), 0);
  EXPECT_EQ(stream.Position(), 100);
  EXPECT_EQ(stream.Size(), 100);
  uint8_t buffer[4] = {};
  EXPECT_EQ(stream.Read(buffer, 4), 0);
  // WriteBuffer goes through Write and must not report a short write.
  EXPECT_NO_THROW(stream.WriteBuffer(data.data(), 100));
}

// ---------------------------------------------------------------- Blowfish

TEST(Blowfish, PublishedEcbVectors) {
  struct Case {
    std::string key, plain, cipher;
  };
  const Case cases[] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
      {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
      {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
      {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
      // Keys of 1, 8 and 24 bytes.
      {"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
      {"F0E1D2C3B4A59687", "FEDCBA9876543210", "E87A244E2CC85E82"},
      {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080"},
  };
  for (const auto& c : cases) {
    const auto key = FromHex(c.key);
    const auto plain = FromHex(c.plain);
    TBlowfishData data{};
    BlowfishInit(data, key.data(), int32_t(key.size() * 8), nullptr);
    uint8_t cipher[8], back[8];
    BlowfishEncryptECB(data, plain.data(), cipher);
    EXPECT_EQ(ToHex(cipher, 8), c.cipher) << "key " << c.key;
    BlowfishDecryptECB(data, cipher, back);
    EXPECT_EQ(ToHex(back, 8), c.plain) << "key " << c.key;
  }
}

TEST(Blowfish, PublishedCbcVector) {
  const auto key = FromHex("0123456789ABCDEFF0E1D2C3B4A59687");
  const auto iv = FromHex("FEDCBA9876543210");
  std::vector<uint8_t> plain(32, 0);
  std::memcpy(plain.data(), "7654321 Now is the time for ", 28);
  TBlowfishData data{};
  BlowfishInit(data, key.data(), 128, iv.data());
  std::vector<uint8_t> cipher(32);
  BlowfishEncryptCBC(data, plain.data(), cipher.data(), 32);
  EXPECT_EQ(ToHex(cipher.data(), 32),
            "6B77B4D63006DEE605B156E27403979358DEB9E7154616D959F1652BD5FF92CC");
  // In place, from a reset state.
  BlowfishReset(data);
  BlowfishDecryptCBC(data, cipher.data(), cipher.data(), 32);
  EXPECT_EQ(cipher, plain);
}

TEST(Blowfish, CbcTrailingPartUsesEncryptedFeedback) {
  const auto key = FromHex("0123456789ABCDEF");
  TBlowfishData data{};
  BlowfishInit(data, key.data(), 64, nullptr);
  const auto plain = Pattern(21);  // two blocks and five bytes
  std::vector<uint8_t> cipher(21);
  BlowfishEncryptCBC(data, plain.data(), cipher.data(), 21);
  // The last whole cipher block is the feedback for the tail.
  uint8_t pad[8];
  BlowfishEncryptECB(data, cipher.data() + 8, pad);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(cipher[16 + i], plain[16 + i] ^ pad[i]) << i;
  std::vector<uint8_t> back(21);
  BlowfishReset(data);
  BlowfishDecryptCBC(data, cipher.data(), back.data(), 21);
  EXPECT_EQ(back, plain);
}

TEST(Blowfish, CfbMatchesByteFeedbackModel) {
  const std::string key(DefaultBlowfishKey);
  TBlowfishData data{};
  BlowfishInit(data, key.data(), int32_t(key.size() * 8), nullptr);
  // Without a vector the initial block is the encryption of eight 0xFF bytes.
  const uint8_t ones[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  uint8_t expectedInit[8];
  BlowfishEncryptECB(data, ones, expectedInit);
  EXPECT_EQ(std::memcmp(data.InitBlock, expectedInit, 8), 0);
  EXPECT_EQ(std::memcmp(data.LastBlock, expectedInit, 8), 0);

  const auto plain = Pattern(37);
  std::vector<uint8_t> cipher(plain.size());
  BlowfishEncryptCFB(data, plain.data(), cipher.data(), int32_t(plain.size()));
  // Model: encrypt the register, use its first byte, shift the cipher byte in.
  uint8_t reg[8];
  std::memcpy(reg, expectedInit, 8);
  for (size_t i = 0; i < plain.size(); ++i) {
    uint8_t out[8];
    BlowfishEncryptECB(data, reg, out);
    ASSERT_EQ(cipher[i], plain[i] ^ out[0]) << i;
    std::memmove(reg, reg + 1, 7);
    reg[7] = cipher[i];
  }
  EXPECT_EQ(std::memcmp(data.LastBlock, reg, 8), 0);
}

TEST(Blowfish, CfbPageRoundTripRestartsAfterReset) {
  const std::string key(DefaultBlowfishKey);
  TBlowfishData data{};
  BlowfishInit(data, key.data(), int32_t(key.size() * 8), nullptr);
  const auto page = Pattern(4096);

  std::vector<uint8_t> first(page.size()), second(page.size());
  BlowfishEncryptCFB(data, page.data(), first.data(), 4096);
  BlowfishReset(data);
  BlowfishEncryptCFB(data, page.data(), second.data(), 4096);
  EXPECT_EQ(first, second) << "a reset restarts the vector";
  EXPECT_NE(first, page);

  // Decrypting in place, as pages are, restores the plain page.
  BlowfishReset(data);
  BlowfishDecryptCFB(data, first.data(), first.data(), 4096);
  EXPECT_EQ(first, page);

  // Without the reset the vector goes on and the same page encrypts otherwise.
  BlowfishReset(data);
  BlowfishEncryptCFB(data, page.data(), first.data(), 4096);
  BlowfishEncryptCFB(data, page.data(), second.data(), 4096);
  EXPECT_NE(first, second);

  // Pieces continue the stream where the last call left it.
  std::vector<uint8_t> pieces(page.size());
  BlowfishReset(data);
  BlowfishEncryptCFB(data, page.data(), pieces.data(), 1000);
  BlowfishEncryptCFB(data, page.data() + 1000, pieces.data() + 1000, 3096);
  EXPECT_EQ(pieces, first);
}

TEST(Blowfish, InitialVectorIsKeptAndRestored) {
  const auto key = FromHex("0123456789ABCDEF");
  const auto iv = FromHex("0102030405060708");
  TBlowfishData data{};
  BlowfishInit(data, key.data(), 64, iv.data());
  EXPECT_EQ(ToHex(data.InitBlock, 8), "0102030405060708");
  EXPECT_EQ(ToHex(data.LastBlock, 8), "0102030405060708");
  uint8_t buffer[16] = {};
  BlowfishEncryptCFB(data, buffer, buffer, 16);
  EXPECT_NE(ToHex(data.LastBlock, 8), "0102030405060708");
  BlowfishReset(data);
  EXPECT_EQ(ToHex(data.LastBlock, 8), "0102030405060708");
}

TEST(Blowfish, KeyLengthOutsideTheRulesLeavesStateUnchanged) {
  const auto key = Pattern(64);
  struct Case {
    int32_t bits;
    bool accepted;
  };
  const Case cases[] = {{0, false},   {-8, false},  {4, false}, {12, false}, {449, false},
                        {456, false}, {512, false}, {8, true},  {448, true}};
  for (const auto& c : cases) {
    TBlowfishData data;
    std::memset(&data, 0x5A, sizeof(data));
    BlowfishInit(data, key.data(), c.bits, nullptr);
    TBlowfishData untouched;
    std::memset(&untouched, 0x5A, sizeof(untouched));
    EXPECT_EQ(std::memcmp(&data, &untouched, sizeof(data)) != 0, c.accepted) << c.bits << " bits";
  }
}

TEST(Blowfish, EveryKeyByteUpTo56Counts) {
  // A key of 56 bytes differs from its 55-byte prefix only in the last byte.
  const auto key = Pattern(56);
  TBlowfishData a{}, b{};
  BlowfishInit(a, key.data(), 448, nullptr);
  BlowfishInit(b, key.data(), 440, nullptr);
  EXPECT_NE(std::memcmp(a.PBoxM, b.PBoxM, sizeof(a.PBoxM)), 0);
}

TEST(Blowfish, BurnOverwritesTheWholeState) {
  const auto key = FromHex("0123456789ABCDEF");
  TBlowfishData data{};
  BlowfishInit(data, key.data(), 64, nullptr);
  BlowfishBurn(data);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&data);
  for (size_t i = 0; i < sizeof(data); ++i) ASSERT_EQ(bytes[i], 0xFF) << i;
}

// ---------------------------------------------------------------- XOR

TEST(XORCryptBuf, StepIsParamAnd100PlusOne) {
  const std::string key(XORPageKey);
  const int32_t n = int32_t(key.size());
  const auto source = Pattern(300);
  struct Case {
    int32_t param;
    int32_t step;
  };
  // The parameter is masked bitwise, not reduced: 3 and 4 differ, 255 and 100
  // agree.
  const Case cases[] = {{0, 1},     {3, 1},     {4, 5},    {100, 101},
                        {101, 101}, {255, 101}, {-1, 101}, {0x10000, 1}};
  for (const auto& c : cases) {
    std::vector<uint8_t> target(source.size());
    XORCryptBuf(source.data(), target.data(), key.data(), c.param, n, int32_t(source.size()));
    int32_t k = 0;
    for (size_t i = 0; i < source.size(); ++i) {
      ASSERT_EQ(target[i], source[i] ^ uint8_t(key[size_t(k)]))
          << "param " << c.param << " at " << i;
      k = (k + c.step) % n;
    }
    // The same call restores the input, also in place.
    XORCryptBuf(target.data(), target.data(), key.data(), c.param, n, int32_t(target.size()));
    EXPECT_EQ(target, source) << "param " << c.param;
  }
}

TEST(XORCryptBuf, StepLongerThanKeyWraps) {
  // A step of 101 over a 3-byte key moves by 2.
  const uint8_t key[3] = {1, 2, 4};
  const uint8_t source[5] = {0, 0, 0, 0, 0};
  uint8_t target[5];
  XORCryptBuf(source, target, key, 100, 3, 5);
  const uint8_t expected[5] = {1, 4, 2, 1, 4};
  EXPECT_EQ(std::memcmp(target, expected, 5), 0);
}

TEST(XORCryptBuf, MissingKeyIsRejected) {
  uint8_t buffer[4] = {1, 2, 3, 4};
  EXPECT_THROW(XORCryptBuf(buffer, buffer, "k", 0, 0, 4), plat::EAssertionFailed);
  // Nothing to do needs no key.
  EXPECT_NO_THROW(XORCryptBuf(buffer, buffer, nullptr, 0, 0, 0));
}

}  // namespace
}  // namespace zel
