// The pinned case mapping and collation. The weights below end up in the order
// of stored indexes: never change one without a new sort order.

#include "platform/rtl/Collation.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "platform/rtl/Strings.h"

namespace plat {
namespace {

// Characters below this code point have table entries (ASCII, Latin-1
// Supplement, Latin Extended-A and -B, IPA, modifiers, combining marks, Greek,
// Cyrillic); the rest take their weights from their code point.
constexpr uint32_t kTableSize = 0x500;

// Secondary weights, in their order. Combining marks take 0x80 + an offset.
enum Accent : uint8_t {
  acNone = 0,
  acAcute,
  acGrave,
  acBreve,
  acCircumflex,
  acCaron,
  acRing,
  acDiaeresis,
  acDoubleAcute,
  acDoubleGrave,
  acTilde,
  acDotAbove,
  acDotless,
  acStroke,
  acMiddleDot,
  acCedilla,
  acOgonek,
  acMacron,
  acLigature,
  acEth,
  acEng,
  acApostrophe,
  acKra,
  acLongS,
  acOrdinal,
  acMicro,
  acSuperscript,
  acTonos,
  acDialytika,
  acDialytikaTonos,
  acCombiningLatin = 0x80,     // + (code point - U+0300), up to 0xEF
  acCombiningCyrillic = 0xF0,  // + (code point - U+0483), up to 0xF6
};

// Primary groups (rule 3 of Collation.h); a weight is group + position.
constexpr uint32_t kControl = 1u << 24;
constexpr uint32_t kSymbol = 2u << 24;
constexpr uint32_t kDigit = 3u << 24;
constexpr uint32_t kLatin = 4u << 24;
constexpr uint32_t kGreek = 5u << 24;
constexpr uint32_t kCyrillic = 6u << 24;
constexpr uint32_t kOther = 7u << 24;
constexpr uint32_t kInvalid = 8u << 24;
// Letters of an alphabet step by 16, so a letter that sorts right after
// another one (such as Cyrillic "ђ" after "д") sits at +8. Letters outside
// the alphabets' main sequences follow them by code point.
constexpr uint32_t kLetterStep = 16;
constexpr uint32_t kExtraLetters = 0x1000;

struct Entry {
  uint32_t p1 = 0;     // primary weight; 0 for a combining mark
  uint32_t p2 = 0;     // second element's primary (ligatures), 0 when none
  uint8_t sec = 0;     // secondary weight of both elements
  uint8_t ter = 0;     // 1 for an upper-case letter
  uint16_t upper = 0;  // the upper-case form, 0 when unmapped
  uint16_t lower = 0;  // the lower-case form, 0 when unmapped
};
using Table = std::array<Entry, kTableSize>;

constexpr bool IsSymbolAbove(uint32_t cp) {
  return (cp >= 0x2000 && cp <= 0x2BFF) || (cp >= 0x2E00 && cp <= 0x2E7F) ||
         (cp >= 0x3000 && cp <= 0x303F);
}

constexpr size_t Utf8Length(uint32_t cp) {
  return cp < 0x80 ? 1 : cp < 0x800 ? 2 : 3;
}

// Latin base letters by name: 'a'..'z', and '|' for the thorn after 'z'.
constexpr uint32_t LatinPrimary(char c) {
  return kLatin + static_cast<uint32_t>(c == '|' ? 27 : c - 'a' + 1) * kLetterStep;
}

// A letter with an upper and/or lower form (0 when it has none) sharing the
// collation weights `p1`, `p2`, `sec`. Case maps are only set when both forms
// exist and have the same UTF-8 length.
constexpr void SetLetter(Table& t, uint32_t upper, uint32_t lower, uint32_t p1, uint32_t p2,
                         uint8_t sec) {
  const bool mapped = upper != 0 && lower != 0 && Utf8Length(upper) == Utf8Length(lower);
  if (upper != 0) {
    t[upper] = Entry{p1, p2, sec, 1, 0, static_cast<uint16_t>(mapped ? lower : 0)};
  }
  if (lower != 0) {
    t[lower] = Entry{p1, p2, sec, 0, static_cast<uint16_t>(mapped ? upper : 0), 0};
  }
}

struct LatinLetter {
  uint16_t upper;
  uint16_t lower;
  const char* base;  // one or two base letters
  Accent accent;
};

constexpr LatinLetter kLatinLetters[] = {
    // Latin-1 Supplement
    {0, 0xAA, "a", acOrdinal},
    {0, 0xBA, "o", acOrdinal},
    {0xC0, 0xE0, "a", acGrave},
    {0xC1, 0xE1, "a", acAcute},
    {0xC2, 0xE2, "a", acCircumflex},
    {0xC3, 0xE3, "a", acTilde},
    {0xC4, 0xE4, "a", acDiaeresis},
    {0xC5, 0xE5, "a", acRing},
    {0xC6, 0xE6, "ae", acLigature},
    {0xC7, 0xE7, "c", acCedilla},
    {0xC8, 0xE8, "e", acGrave},
    {0xC9, 0xE9, "e", acAcute},
    {0xCA, 0xEA, "e", acCircumflex},
    {0xCB, 0xEB, "e", acDiaeresis},
    {0xCC, 0xEC, "i", acGrave},
    {0xCD, 0xED, "i", acAcute},
    {0xCE, 0xEE, "i", acCircumflex},
    {0xCF, 0xEF, "i", acDiaeresis},
    {0xD0, 0xF0, "d", acEth},
    {0xD1, 0xF1, "n", acTilde},
    {0xD2, 0xF2, "o", acGrave},
    {0xD3, 0xF3, "o", acAcute},
    {0xD4, 0xF4, "o", acCircumflex},
    {0xD5, 0xF5, "o", acTilde},
    {0xD6, 0xF6, "o", acDiaeresis},
    {0xD8, 0xF8, "o", acStroke},
    {0xD9, 0xF9, "u", acGrave},
    {0xDA, 0xFA, "u", acAcute},
    {0xDB, 0xFB, "u", acCircumflex},
    {0xDC, 0xFC, "u", acDiaeresis},
    {0xDD, 0xFD, "y", acAcute},
    {0xDE, 0xFE, "|", acNone},
    {0, 0xDF, "ss", acLigature},
    {0x178, 0xFF, "y", acDiaeresis},
    // Latin Extended-A
    {0x100, 0x101, "a", acMacron},
    {0x102, 0x103, "a", acBreve},
    {0x104, 0x105, "a", acOgonek},
    {0x106, 0x107, "c", acAcute},
    {0x108, 0x109, "c", acCircumflex},
    {0x10A, 0x10B, "c", acDotAbove},
    {0x10C, 0x10D, "c", acCaron},
    {0x10E, 0x10F, "d", acCaron},
    {0x110, 0x111, "d", acStroke},
    {0x112, 0x113, "e", acMacron},
    {0x114, 0x115, "e", acBreve},
    {0x116, 0x117, "e", acDotAbove},
    {0x118, 0x119, "e", acOgonek},
    {0x11A, 0x11B, "e", acCaron},
    {0x11C, 0x11D, "g", acCircumflex},
    {0x11E, 0x11F, "g", acBreve},
    {0x120, 0x121, "g", acDotAbove},
    {0x122, 0x123, "g", acCedilla},
    {0x124, 0x125, "h", acCircumflex},
    {0x126, 0x127, "h", acStroke},
    {0x128, 0x129, "i", acTilde},
    {0x12A, 0x12B, "i", acMacron},
    {0x12C, 0x12D, "i", acBreve},
    {0x12E, 0x12F, "i", acOgonek},
    {0x130, 0, "i", acDotAbove},  // its lower case "i" is one byte: unmapped
    {0, 0x131, "i", acDotless},   // its upper case "I" is one byte: unmapped
    {0x132, 0x133, "ij", acLigature},
    {0x134, 0x135, "j", acCircumflex},
    {0x136, 0x137, "k", acCedilla},
    {0, 0x138, "q", acKra},
    {0x139, 0x13A, "l", acAcute},
    {0x13B, 0x13C, "l", acCedilla},
    {0x13D, 0x13E, "l", acCaron},
    {0x13F, 0x140, "l", acMiddleDot},
    {0x141, 0x142, "l", acStroke},
    {0x143, 0x144, "n", acAcute},
    {0x145, 0x146, "n", acCedilla},
    {0x147, 0x148, "n", acCaron},
    {0, 0x149, "n", acApostrophe},
    {0x14A, 0x14B, "n", acEng},
    {0x14C, 0x14D, "o", acMacron},
    {0x14E, 0x14F, "o", acBreve},
    {0x150, 0x151, "o", acDoubleAcute},
    {0x152, 0x153, "oe", acLigature},
    {0x154, 0x155, "r", acAcute},
    {0x156, 0x157, "r", acCedilla},
    {0x158, 0x159, "r", acCaron},
    {0x15A, 0x15B, "s", acAcute},
    {0x15C, 0x15D, "s", acCircumflex},
    {0x15E, 0x15F, "s", acCedilla},
    {0x160, 0x161, "s", acCaron},
    {0x162, 0x163, "t", acCedilla},
    {0x164, 0x165, "t", acCaron},
    {0x166, 0x167, "t", acStroke},
    {0x168, 0x169, "u", acTilde},
    {0x16A, 0x16B, "u", acMacron},
    {0x16C, 0x16D, "u", acBreve},
    {0x16E, 0x16F, "u", acRing},
    {0x170, 0x171, "u", acDoubleAcute},
    {0x172, 0x173, "u", acOgonek},
    {0x174, 0x175, "w", acCircumflex},
    {0x176, 0x177, "y", acCircumflex},
    {0x179, 0x17A, "z", acAcute},
    {0x17B, 0x17C, "z", acDotAbove},
    {0x17D, 0x17E, "z", acCaron},
    {0, 0x17F, "s", acLongS},  // its upper case "S" is one byte: unmapped
};

// Greek: alpha..omega are letters 1..24 (final sigma is sigma, 18).
constexpr uint32_t GreekPrimary(int letter) {
  return kGreek + static_cast<uint32_t>(letter) * kLetterStep;
}
constexpr uint32_t GreekLowerOf(int letter) {  // lower-case code point of letter 1..24
  return 0x3B1u + static_cast<uint32_t>(letter - 1) + (letter >= 18 ? 1 : 0);
}

struct AccentedLetter {
  uint16_t upper;
  uint16_t lower;
  int letter;  // index in the alphabet's main sequence
  Accent accent;
};

constexpr AccentedLetter kGreekAccented[] = {
    {0x386, 0x3AC, 1, acTonos},       {0x388, 0x3AD, 5, acTonos},
    {0x389, 0x3AE, 7, acTonos},       {0x38A, 0x3AF, 9, acTonos},
    {0x38C, 0x3CC, 15, acTonos},      {0x38E, 0x3CD, 20, acTonos},
    {0x38F, 0x3CE, 24, acTonos},      {0, 0x390, 9, acDialytikaTonos},
    {0x3AA, 0x3CA, 9, acDialytika},   {0x3AB, 0x3CB, 20, acDialytika},
    {0, 0x3B0, 20, acDialytikaTonos},
};

// Other Greek case pairs (archaic letters, Coptic, variants), upper then lower.
constexpr uint16_t kGreekOtherPairs[][2] = {
    {0x370, 0x371}, {0x372, 0x373}, {0x376, 0x377}, {0x37F, 0x3F3}, {0x3CF, 0x3D7}, {0x3F7, 0x3F8},
    {0x3F9, 0x3F2}, {0x3FA, 0x3FB}, {0x3FD, 0x37B}, {0x3FE, 0x37C}, {0x3FF, 0x37D},
};
// Greek letters without a case partner of their own: symbol variants.
constexpr uint16_t kGreekOtherLower[] = {0x3D0, 0x3D1, 0x3D5, 0x3D6, 0x3F0, 0x3F1, 0x3F5, 0x3FC};
constexpr uint16_t kGreekOtherUpper[] = {0x3D2, 0x3D3, 0x3D4, 0x3F4};
constexpr uint16_t kGreekSymbols[] = {0x374, 0x375, 0x37A, 0x37E, 0x384, 0x385, 0x387, 0x3F6};

// Cyrillic: а..я are letters 1..32 in code point order.
constexpr uint32_t CyrillicPrimary(int letter) {
  return kCyrillic + static_cast<uint32_t>(letter) * kLetterStep;
}
constexpr uint32_t kAfter = kLetterStep / 2;  // "sorts right after"

struct CyrillicLetter {
  uint16_t upper;
  uint16_t lower;
  uint32_t primary;
  Accent accent;
};

constexpr CyrillicLetter kCyrillicLetters[] = {
    {0x400, 0x450, CyrillicPrimary(6), acGrave},               // ѐ
    {0x401, 0x451, CyrillicPrimary(6), acDiaeresis},           // ё
    {0x402, 0x452, CyrillicPrimary(5) + kAfter, acNone},       // ђ
    {0x403, 0x453, CyrillicPrimary(4), acAcute},               // ѓ
    {0x404, 0x454, CyrillicPrimary(6) + kAfter, acNone},       // є
    {0x405, 0x455, CyrillicPrimary(8) + kAfter, acNone},       // ѕ
    {0x406, 0x456, CyrillicPrimary(9) + kAfter, acNone},       // і
    {0x407, 0x457, CyrillicPrimary(9) + kAfter, acDiaeresis},  // ї
    {0x408, 0x458, CyrillicPrimary(10) + kAfter, acNone},      // ј
    {0x409, 0x459, CyrillicPrimary(12) + kAfter, acNone},      // љ
    {0x40A, 0x45A, CyrillicPrimary(14) + kAfter, acNone},      // њ
    {0x40B, 0x45B, CyrillicPrimary(19) + kAfter, acNone},      // ћ
    {0x40C, 0x45C, CyrillicPrimary(11), acAcute},              // ќ
    {0x40D, 0x45D, CyrillicPrimary(9), acGrave},               // ѝ
    {0x40E, 0x45E, CyrillicPrimary(20), acBreve},              // ў
    {0x40F, 0x45F, CyrillicPrimary(24) + kAfter, acNone},      // џ
    {0x490, 0x491, CyrillicPrimary(4) + kAfter, acNone},       // ґ
    {0x4C1, 0x4C2, CyrillicPrimary(7), acBreve},
    {0x4D0, 0x4D1, CyrillicPrimary(1), acBreve},
    {0x4D2, 0x4D3, CyrillicPrimary(1), acDiaeresis},
    {0x4D6, 0x4D7, CyrillicPrimary(6), acBreve},
    {0x4DC, 0x4DD, CyrillicPrimary(7), acDiaeresis},
    {0x4DE, 0x4DF, CyrillicPrimary(8), acDiaeresis},
    {0x4E2, 0x4E3, CyrillicPrimary(9), acMacron},
    {0x4E4, 0x4E5, CyrillicPrimary(9), acDiaeresis},
    {0x4E6, 0x4E7, CyrillicPrimary(15), acDiaeresis},
    {0x4EC, 0x4ED, CyrillicPrimary(30), acDiaeresis},
    {0x4EE, 0x4EF, CyrillicPrimary(20), acMacron},
    {0x4F0, 0x4F1, CyrillicPrimary(20), acDiaeresis},
    {0x4F2, 0x4F3, CyrillicPrimary(20), acDoubleAcute},
    {0x4F4, 0x4F5, CyrillicPrimary(24), acDiaeresis},
    {0x4F8, 0x4F9, CyrillicPrimary(28), acDiaeresis},
    // Accented forms of letters outside the main sequence.
    {0x4DA, 0x4DB, kCyrillic + kExtraLetters + 0x4D9, acDiaeresis},    // ӛ on ә
    {0x4EA, 0x4EB, kCyrillic + kExtraLetters + 0x4E9, acDiaeresis},    // ӫ on ө
    {0x476, 0x477, kCyrillic + kExtraLetters + 0x475, acDoubleGrave},  // ѷ on ѵ
};

constexpr Table BuildTable() {
  Table t{};
  for (uint32_t cp = 0; cp < kTableSize; ++cp) t[cp].p1 = kOther + cp;

  // Control characters, then blanks, punctuation and symbols by code point.
  for (uint32_t cp = 0; cp < 0x20; ++cp) t[cp].p1 = kControl + cp;
  for (uint32_t cp = 0x7F; cp < 0xA0; ++cp) t[cp].p1 = kControl + cp;
  for (uint32_t cp = 0x20; cp < 0x80; ++cp) {
    const bool alnum =
        (cp >= '0' && cp <= '9') || (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z');
    if (cp != 0x7F && !alnum) t[cp].p1 = kSymbol + cp;
  }
  for (uint32_t cp = 0xA0; cp < 0xC0; ++cp) t[cp].p1 = kSymbol + cp;
  t[0xD7].p1 = kSymbol + 0xD7;
  t[0xF7].p1 = kSymbol + 0xF7;
  for (uint32_t cp = 0x2B0; cp < 0x300; ++cp) t[cp].p1 = kSymbol + cp;
  for (uint16_t cp : kGreekSymbols) t[cp].p1 = kSymbol + cp;
  t[0x482].p1 = kSymbol + 0x482;

  // Digits; the superscripts are digits with an accent of their own.
  for (uint32_t d = 0; d < 10; ++d) t['0' + d].p1 = kDigit + d;
  t[0xB9] = Entry{kDigit + 1, 0, acSuperscript, 0, 0, 0};
  t[0xB2] = Entry{kDigit + 2, 0, acSuperscript, 0, 0, 0};
  t[0xB3] = Entry{kDigit + 3, 0, acSuperscript, 0, 0, 0};

  // Combining marks weigh nothing at the base-letter level.
  for (uint32_t cp = 0x300; cp < 0x370; ++cp) {
    t[cp] = Entry{0, 0, static_cast<uint8_t>(acCombiningLatin + (cp - 0x300)), 0, 0, 0};
  }
  for (uint32_t cp = 0x483; cp < 0x48A; ++cp) {
    t[cp] = Entry{0, 0, static_cast<uint8_t>(acCombiningCyrillic + (cp - 0x483)), 0, 0, 0};
  }

  // Latin.
  for (uint32_t i = 0; i < 26; ++i) {
    SetLetter(t, 'A' + i, 'a' + i, LatinPrimary(static_cast<char>('a' + i)), 0, acNone);
  }
  for (const LatinLetter& l : kLatinLetters) {
    const uint32_t p2 = l.base[1] != 0 ? LatinPrimary(l.base[1]) : 0;
    SetLetter(t, l.upper, l.lower, LatinPrimary(l.base[0]), p2, l.accent);
  }
  // The micro sign sorts with mu but keeps its own case (it has none).
  t[0xB5] = Entry{GreekPrimary(12), 0, acMicro, 0, 0, 0};

  // Greek.
  for (int letter = 1; letter <= 24; ++letter) {
    const uint32_t lower = GreekLowerOf(letter);
    SetLetter(t, lower - 0x20, lower, GreekPrimary(letter), 0, acNone);
  }
  for (const AccentedLetter& l : kGreekAccented) {
    SetLetter(t, l.upper, l.lower, GreekPrimary(l.letter), 0, l.accent);
  }
  for (const auto& pair : kGreekOtherPairs) {
    SetLetter(t, pair[0], pair[1], kGreek + kExtraLetters + pair[1], 0, acNone);
  }
  for (uint32_t upper = 0x3D8; upper < 0x3F0; upper += 2) {
    SetLetter(t, upper, upper + 1, kGreek + kExtraLetters + upper + 1, 0, acNone);
  }
  for (uint16_t cp : kGreekOtherLower) SetLetter(t, 0, cp, kGreek + kExtraLetters + cp, 0, acNone);
  for (uint16_t cp : kGreekOtherUpper) SetLetter(t, cp, 0, kGreek + kExtraLetters + cp, 0, acNone);
  // Final sigma upper-cases to sigma (one way) and so weighs as sigma.
  t[0x3C2] = Entry{GreekPrimary(18), 0, acNone, 0, 0x3A3, 0};

  // Cyrillic: every case pair of the block, then the main alphabet and the
  // letters with their own place on top.
  for (uint32_t upper = 0x460; upper < 0x482; upper += 2) {
    SetLetter(t, upper, upper + 1, kCyrillic + kExtraLetters + upper + 1, 0, acNone);
  }
  for (uint32_t upper = 0x48A; upper < 0x4C0; upper += 2) {
    SetLetter(t, upper, upper + 1, kCyrillic + kExtraLetters + upper + 1, 0, acNone);
  }
  SetLetter(t, 0x4C0, 0x4CF, kCyrillic + kExtraLetters + 0x4CF, 0, acNone);
  for (uint32_t upper = 0x4C1; upper < 0x4CF; upper += 2) {
    SetLetter(t, upper, upper + 1, kCyrillic + kExtraLetters + upper + 1, 0, acNone);
  }
  for (uint32_t upper = 0x4D0; upper < 0x500; upper += 2) {
    SetLetter(t, upper, upper + 1, kCyrillic + kExtraLetters + upper + 1, 0, acNone);
  }
  for (int letter = 1; letter <= 32; ++letter) {
    const uint32_t lower = 0x42Fu + static_cast<uint32_t>(letter);
    SetLetter(t, lower - 0x20, lower, CyrillicPrimary(letter), 0, acNone);
  }
  for (const CyrillicLetter& l : kCyrillicLetters) {
    SetLetter(t, l.upper, l.lower, l.primary, 0, l.accent);
  }
  return t;
}

constexpr Table kTable = BuildTable();

struct Element {
  uint32_t primary;
  uint8_t secondary;
  uint8_t tertiary;
};

// Walks the collation elements of a string from a character boundary.
class ElementReader {
 public:
  ElementReader(std::string_view s, size_t pos) : s_(s), pos_(pos) {}

  bool Next(Element& e) {
    if (pending_) {
      pending_ = false;
      e = second_;
      return true;
    }
    if (pos_ >= s_.size()) return false;
    const TUtf8Char c = DecodeUtf8At(s_, pos_);
    pos_ += c.Length;
    if (!c.Valid) {
      e = Element{kInvalid + c.Code, 0, 0};
    } else if (c.Code < kTableSize) {
      const Entry& t = kTable[c.Code];
      e = Element{t.p1, t.sec, t.ter};
      if (t.p2 != 0) {
        second_ = Element{t.p2, t.sec, t.ter};
        pending_ = true;
      }
    } else {
      e = Element{(IsSymbolAbove(c.Code) ? kSymbol : kOther) + c.Code, 0, 0};
    }
    return true;
  }

  // The next element that weighs at the base-letter level.
  bool NextPrimary(uint32_t& primary) {
    Element e;
    while (Next(e)) {
      if (e.primary != 0) {
        primary = e.primary;
        return true;
      }
    }
    return false;
  }

 private:
  std::string_view s_;
  size_t pos_;
  bool pending_ = false;
  Element second_{};
};

template <typename T>
int32_t Order(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

int32_t ComparePrimaries(std::string_view a, std::string_view b, size_t start) {
  ElementReader ra(a, start);
  ElementReader rb(b, start);
  for (;;) {
    uint32_t pa = 0;
    uint32_t pb = 0;
    const bool ha = ra.NextPrimary(pa);
    const bool hb = rb.NextPrimary(pb);
    if (!ha || !hb) return Order<int>(ha, hb);
    if (pa != pb) return Order(pa, pb);
  }
}

template <typename Weight>
int32_t CompareLevel(std::string_view a, std::string_view b, size_t start, Weight weight) {
  ElementReader ra(a, start);
  ElementReader rb(b, start);
  for (;;) {
    Element ea{};
    Element eb{};
    const bool ha = ra.Next(ea);
    const bool hb = rb.Next(eb);
    if (!ha || !hb) return Order<int>(ha, hb);
    if (weight(ea) != weight(eb)) return Order(weight(ea), weight(eb));
  }
}

// The full comparison of rule 4, from byte `start`, where both strings have
// equal ASCII prefixes at the first two levels and `prefixCase` is the case
// level's verdict on those prefixes.
int32_t CompareFrom(std::string_view a, std::string_view b, size_t start, int32_t prefixCase,
                    bool caseSensitive) {
  if (int32_t r = ComparePrimaries(a, b, start)) return r;
  if (int32_t r = CompareLevel(a, b, start, [](const Element& e) { return e.secondary; })) {
    return r;
  }
  if (!caseSensitive) return 0;
  if (prefixCase != 0) return prefixCase;
  if (int32_t r = CompareLevel(a, b, start, [](const Element& e) { return e.tertiary; })) {
    return r;
  }
  const std::string_view ta = a.substr(start);
  const std::string_view tb = b.substr(start);
  const int c = ta.compare(tb);
  return Order(c, 0);
}

int32_t Collate(std::string_view a, std::string_view b, bool caseSensitive) {
  // Fast path: one pass over the common start of both strings. Identical
  // characters give identical elements at every level and are skipped; an
  // ASCII character is one element with no accent, so between two ASCII
  // characters the base-letter level decides at the first differing letter,
  // and the first case difference is remembered for the case level. The full
  // comparison starts at the first other difference, on a character boundary
  // of both strings (the bytes before it are the same).
  const size_t n = std::min(a.size(), b.size());
  int32_t prefixCase = 0;
  size_t i = 0;
  while (i < n) {
    const uint8_t ca = static_cast<uint8_t>(a[i]);
    const uint8_t cb = static_cast<uint8_t>(b[i]);
    if ((ca | cb) < 0x80) {
      if (ca != cb) {
        const Entry& ea = kTable[ca];
        const Entry& eb = kTable[cb];
        if (ea.p1 != eb.p1) return Order(ea.p1, eb.p1);
        if (prefixCase == 0) prefixCase = Order(ea.ter, eb.ter);
      }
      ++i;
      continue;
    }
    if (ca != cb) break;
    const TUtf8Char da = DecodeUtf8At(a, i);
    const TUtf8Char db = DecodeUtf8At(b, i);
    if (da.Length != db.Length || da.Valid != db.Valid ||
        a.compare(i, da.Length, b, i, db.Length) != 0) {
      break;
    }
    i += da.Length;
  }
  if (i == n) {
    // A longer string has more elements at the first or second level, so it
    // sorts after its prefix whatever the case level says.
    if (a.size() != b.size()) return Order(a.size(), b.size());
    return caseSensitive ? prefixCase : 0;
  }
  return CompareFrom(a, b, i, prefixCase, caseSensitive);
}

std::string MapCase(std::string_view s, bool upper) {
  std::string out(s);
  for (size_t i = 0; i < out.size();) {
    const uint8_t b = static_cast<uint8_t>(out[i]);
    if (b < 0x80) {
      if (upper && b >= 'a' && b <= 'z') out[i] = static_cast<char>(b - 32);
      if (!upper && b >= 'A' && b <= 'Z') out[i] = static_cast<char>(b + 32);
      ++i;
      continue;
    }
    const TUtf8Char c = DecodeUtf8At(s, i);
    if (c.Valid && c.Code < kTableSize) {
      const uint16_t mapped = upper ? kTable[c.Code].upper : kTable[c.Code].lower;
      // The table maps only between forms of equal length.
      if (mapped != 0) EncodeUtf8(mapped, &out[i]);
    }
    i += c.Length;
  }
  return out;
}

}  // namespace

uint32_t AnsiUpperChar(uint32_t cp) {
  return cp < kTableSize && kTable[cp].upper != 0 ? kTable[cp].upper : cp;
}

uint32_t AnsiLowerChar(uint32_t cp) {
  return cp < kTableSize && kTable[cp].lower != 0 ? kTable[cp].lower : cp;
}

std::string AnsiUpperCase(std::string_view s) {
  return MapCase(s, true);
}
std::string AnsiLowerCase(std::string_view s) {
  return MapCase(s, false);
}

int32_t AnsiCompareStr(std::string_view a, std::string_view b) {
  return Collate(a, b, true);
}
int32_t AnsiCompareText(std::string_view a, std::string_view b) {
  return Collate(a, b, false);
}
bool AnsiSameStr(std::string_view a, std::string_view b) {
  return a == b;
}
bool AnsiSameText(std::string_view a, std::string_view b) {
  // The same bytes are the same text: names compared with themselves (a
  // table's, a field's) need no walk through the collation.
  if (a == b) return true;
  return Collate(a, b, false) == 0;
}

}  // namespace plat
