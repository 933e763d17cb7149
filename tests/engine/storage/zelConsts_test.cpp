#include "engine/storage/zelConsts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

namespace zel {
namespace {

uint64_t Fnv1a(uint64_t h, const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) {
    h ^= p[i];
    h *= 0x100000001b3ULL;
  }
  return h;
}

constexpr uint64_t kFnvSeed = 0xcbf29ce484222325ULL;

TEST(ZelConsts, TableShape) {
  ASSERT_EQ(ZelErrTable.size(), 318u);
  for (int i : {0, 317}) {
    EXPECT_EQ(ZelErrTable[i].Code, 0xFFFF) << i;
    EXPECT_EQ(ZelErrTable[i].Msg, "Error code unknown") << i;
  }
  std::set<int32_t> codes;
  for (int i = 1; i <= 316; ++i) {
    const ZelErr& e = ZelErrTable[i];
    EXPECT_TRUE(codes.insert(e.Code).second) << "duplicate code at entry " << i;
    EXPECT_GE(e.Code, 0) << i;
    EXPECT_LT(e.Code, 0xFFFF) << i;
    EXPECT_FALSE(e.Msg.empty()) << i;
  }
  EXPECT_EQ(codes.size(), 316u);
}

// Entries 1 to 313 rise by code, except the one 0x0082 entry standing where
// 0x2782 would; the three SQL entries come last.
TEST(ZelConsts, TableOrderAndGroups) {
  EXPECT_EQ(ZelErrTable[186].Code, 0x0082);
  EXPECT_EQ(ZelErrTable[185].Code, 0x2781);
  EXPECT_EQ(ZelErrTable[187].Code, 0x2783);
  int32_t previous = 0;
  std::map<int32_t, int> perGroup;
  for (int i = 1; i <= 313; ++i) {
    int32_t code = ZelErrTable[i].Code;
    if (i == 186) continue;
    EXPECT_GT(code, previous) << "entry " << i;
    previous = code;
    ++perGroup[code >> 8];
  }
  EXPECT_EQ(ZelErrTable[313].Code, 0x3306);
  EXPECT_EQ(ZelErrTable[314].Code, 0x25AD);
  EXPECT_EQ(ZelErrTable[315].Code, 0x25B2);
  EXPECT_EQ(ZelErrTable[316].Code, 0x25B8);
  const std::map<int32_t, int> expected = {
      {0x21, 14}, {0x22, 11}, {0x23, 9},  {0x24, 7},  {0x25, 37}, {0x26, 23}, {0x27, 95},
      {0x28, 21}, {0x29, 9},  {0x2A, 21}, {0x2B, 36}, {0x2C, 14}, {0x2F, 9},  {0x33, 6}};
  EXPECT_EQ(perGroup, expected);
}

TEST(ZelConsts, TextQuirksCounted) {
  int none = 0, trailingBlank = 0, doubleBlank = 0;
  for (const ZelErr& e : ZelErrTable) {
    if (e.Msg == "None") ++none;
    if (e.Msg.back() == ' ') ++trailingBlank;
    if (e.Msg.find("  ") != std::string_view::npos) ++doubleBlank;
  }
  EXPECT_EQ(none, 17);
  EXPECT_EQ(trailingBlank, 53);
  EXPECT_EQ(doubleBlank, 3);
}

TEST(ZelConsts, SampleEntriesExact) {
  struct Case {
    int index;
    int32_t code;
    const char* msg;
  };
  const Case cases[] = {
      {1, 0x2101, "Cannot open the requested file"},
      {14, 0x2186, "The database file could not be created"},
      {15, 0x2201, "Beginning of Virtual table"},
      {17, 0x2203, "Fly-away"},
      {18, 0x2204, "Record Deleted/Key Modified"},
      {25, 0x220B, "Language driver not found"},
      {26, 0x2301, "Corrupt Header"},
      {29, 0x2304, "BitMap is corrupt (Internal error)"},
      {34, 0x2309, "Index is in a foreign format - import first"},
      {35, 0x2401, "Disk read failure"},
      {41, 0x2480, "File copy failed"},
      {42, 0x2501, "Not enough Memory for this op "},
      {50, 0x2509, "Serial number limit (paradox) "},
      {68, 0x251B, "Pathname is too long for a Paradox 5.0 or less table "},
      {70, 0x251D, "Long name is not allowed for this tableversion "},
      {71, 0x251E, "Not enough shared Memory for this operation "},
      {72, 0x2580, "The database file size limit has been reached"},
      {78, 0x2586, "The field length is invalid"},
      {79, 0x2601, "Key violation "},
      {93, 0x260F, "Detail Tables exist ( cannot delete, rename ... ) "},
      {97, 0x2613, "Cannot make a master a detail of another table if its details are not empty. "},
      {99, 0x2615, "Master Table is protected ( requires password to open) "},
      {101, 0x2617, "Expr val check failed "},
      {102, 0x2701, "Number out of range (e.g field no)"},
      {109, 0x2708, "Dont know how to open file"},
      {123, 0x2716, "Invalid array of  val. check descriptors"},
      {128, 0x271B, "Invalid ses handle"},
      {131, 0x271E, "Unknown db"},
      {138, 0x2725, "Bookmark does not match table or the bookmarked record cannot be found"},
      {159, 0x273A, "Invalid file extention"},
      {161, 0x273C, "Requested alias in not open"},
      {179, 0x274E, "MisMatch in the # of arguments"},
      {180, 0x274F, "Loaderlib cant find a func in the DLL (bad version?)"},
      {183, 0x2752, "Invalid field map"},
      {184, 0x2780, "There is no connection to a database engine"},
      {185, 0x2781, "Cannot perform this operation on an unconnected database"},
      {186, 0x0082, "Alter table operation failed (exact cause unknown)"},
      {187, 0x2783, "Internal error. The filter could not be created"},
      {197, 0x278D, "The generator name is invalid"},
      {198, 0x2801, "None"},
      {199, 0x2802, "The unlock request failed"},
      {206, 0x2809, "The requested lock could not be obtained. The request timed out"},
      {213, 0x2810, "Transaction already active"},
      {214, 0x2811, "There are no active transactions"},
      {218, 0x2817, "None"},
      {219, 0x2901, "Not sufficient field  rights for operation"},
      {220, 0x2902, "Not sufficient table  rights for operation"},
      {225, 0x2907, "Table is encrypted (dBASE only)"},
      {227, 0x2980, "You do not have the privilege/s required to perform this function"},
      {245, 0x2A12, "Invalid use of keyword."},
      {247, 0x2A14, "Passthru SQL connection not share"},
      {248, 0x2A80, "The requested operation cannot be performed on an in-memory database"},
      {249, 0x2B01, "Invalid function number"},
      {261, 0x2B0D, "Invalid data"},
      {262, 0x2B0F, "No such device"},
      {273, 0x2B27, "Unkown | illegal error from rtl"},
      {274, 0x2B32, "Share viol, ext. err 0x20"},
      {275, 0x2B33, "Lock viol, ext. err 0x21"},
      {284, 0x2B6A, "Server software not running the workstation/server"},
      {289, 0x2C05, "None"},
      {294, 0x2C0A, "Not an Network"},
      {298, 0x2C0E, "0x0e SQL Server not found"},
      {299, 0x2F01, "Interface mismatch"},
      {307, 0x2F09, "Higher database level required"},
      {308, 0x3301, "File already exsits"},
      {313, 0x3306, "Update operation aborted"},
      {314, 0x25AD, "SQL Error"},
      {315, 0x25B2, "Single row result set returned multiple rows"},
      {316, 0x25B8, "Subquery result set returned multiple columns"},
      {84, 0x2606, "Cannot MODIFY or DELETE this Master record "},
      {139, 0x2726, "Index/Tag Name is invalid"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(ZelErrTable[c.index].Code, c.code);
    EXPECT_EQ(ZelErrTable[c.index].Msg, c.msg);
  }
}

// A digest of every entry (code as 4 little-endian bytes, text, a zero byte)
// taken from a separate transcription of the table; any changed byte, entry or
// order shows here even where the samples above do not look.
TEST(ZelConsts, WholeTableDigest) {
  uint64_t h = kFnvSeed;
  for (const ZelErr& e : ZelErrTable) {
    unsigned char code[4] = {
        static_cast<unsigned char>(e.Code), static_cast<unsigned char>(e.Code >> 8),
        static_cast<unsigned char>(e.Code >> 16), static_cast<unsigned char>(e.Code >> 24)};
    h = Fnv1a(h, code, 4);
    h = Fnv1a(h, e.Msg.data(), e.Msg.size());
    h = Fnv1a(h, "", 1);
  }
  EXPECT_EQ(h, 0xd301a4a72fe1d4c8ULL);
}

TEST(ZelConsts, NamedTextIdentifiers) {
  ASSERT_EQ(ZelResTexts.size(), 111u);
  std::set<std::string> names;
  int32_t expectedId = 65424;
  for (const ZelResText& r : ZelResTexts) {
    if (expectedId == 65439) ++expectedId;  // never assigned
    EXPECT_EQ(r.Id, expectedId) << r.Name;
    ++expectedId;
    EXPECT_TRUE(names.insert(r.Name).second) << r.Name;
    ASSERT_NE(r.Text, nullptr);
    EXPECT_GT(std::strlen(r.Text), 0u) << r.Name;
  }
  EXPECT_EQ(expectedId, 65536);
}

TEST(ZelConsts, NamedTextsExact) {
  struct Case {
    int32_t id;
    const char* name;
    const char* constant;
    const char* text;
  };
  const Case cases[] = {
      {65424, "SzelSelectDistinctInvalidColumnType", SzelSelectDistinctInvalidColumnType,
       "The column is not a valid data type for DISTINCT queries"},
      {65425, "SZelParameterNotFound", SZelParameterNotFound, "Parameter not found"},
      {65427, "SZelTrue", SZelTrue, "True"},
      {65428, "SZelFalse", SZelFalse, "False"},
      {65437, "SzelBlobCompressionModeNotRecognised", SzelBlobCompressionModeNotRecognised,
       "The blob compression mode is not recognized"},
      {65438, "SzelSelectinFromNotSupported", SzelSelectinFromNotSupported,
       "SELECT statements not supported in FROM clause"},
      {65440, "SzelUpdateStatmentSyntaxError", SzelUpdateStatmentSyntaxError,
       "Update statement syntax is incorrect"},
      {65443, "SzelInvalidCreateStatement", SzelInvalidCreateStatement,
       "Create statment is invalid"},
      {65451, "SzelEmptySQLStatement", SzelEmptySQLStatement, "SQL statment is empty"},
      {65453, "SzelResultSetLimitExceededFmt", SzelResultSetLimitExceededFmt,
       "Result set limit of %d has been exceeded"},
      {65454, "SzelDataFormatErrorFmt", SzelDataFormatErrorFmt,
       "Value %s was not of the expected format %s"},
      {65455, "SzelSelectDistinctMaxColsLimit", SzelSelectDistinctMaxColsLimit,
       "Result set colummn count exceeds DISTINCT query limit"},
      {65476, "SzelExprBadScope", SzelExprBadScope, "Scope is invalid"},
      {65484, "SzelColumnNameErr", SzelColumnNameErr, "invalid column name descriptor"},
      {65491, "SzelDataypeScaleErr", SzelDataypeScaleErr, "Data type scale invalid"},
      {65494, "SzelBetweenPredErr", SzelBetweenPredErr,
       "missing AND operator in between predicate"},
      {65504, "SzelMaxLimitFmt", SzelMaxLimitFmt, "Maximum allowed is %d"},
      {65507, "SzelMDetFldError", SzelMDetFldError, " is not a valid index field for this index"},
      {65508, "SzelDBFileVersionFmt", SzelDBFileVersionFmt, "Current database disk format is %s"},
      {65516, "SzelGeneratorNameFmt", SzelGeneratorNameFmt,
       "'%s' is not a valid generator name (min. length 1, '$' is a reserved first character"},
      {65517, "SzelTable", SzelTable, "Table"},
      {65518, "SzelField", SzelField, "Field"},
      {65522, "SzelFmtIndexNotFoundError", SzelFmtIndexNotFoundError, "Index not found %s"},
      {65523, "SzelMasterKeyLabel", SzelMasterKeyLabel, "Database Password:"},
      {65527, "SzelFileVersionDoesNotSupportOperation", SzelFileVersionDoesNotSupportOperation,
       "This database version does not support this operation "},
      {65532, "SzelValueOutOfRangeFmt", SzelValueOutOfRangeFmt,
       "%d is not a valid value (min. %d, max. %d)"},
      {65533, "SzelStringInvalidFmt", SzelStringInvalidFmt,
       "%s is not a valid value (min. length %d, max. length %d)"},
      {65534, "SzelTableInUseFmt", SzelTableInUseFmt, "The table %s is in use"},
      {65535, "SzelCorruptEncryptionKey", SzelCorruptEncryptionKey,
       "The encrpytion key is not valid or corrupted"},
      {65520, "SzelErrorAnonBaseMsg", SzelErrorAnonBaseMsg,
       "The Ostra database engine raised an error\r\n (error code #%d). %s"},
      {65521, "SzelErrorAnonCustomMsg", SzelErrorAnonCustomMsg,
       "The Ostra database engine raised an error\r\n %s (error code #%d) - %s"},
  };
  std::map<int32_t, const ZelResText*> byId;
  for (const ZelResText& r : ZelResTexts) byId[r.Id] = &r;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_STREQ(c.constant, c.text);
    ASSERT_EQ(byId.count(c.id), 1u);
    EXPECT_STREQ(byId[c.id]->Name, c.name);
    EXPECT_EQ(byId[c.id]->Text, c.constant);
  }
}

TEST(ZelConsts, NamedTextsDigest) {
  uint64_t h = kFnvSeed;
  for (const ZelResText& r : ZelResTexts) {
    unsigned char id[4] = {static_cast<unsigned char>(r.Id), static_cast<unsigned char>(r.Id >> 8),
                           static_cast<unsigned char>(r.Id >> 16),
                           static_cast<unsigned char>(r.Id >> 24)};
    h = Fnv1a(h, id, 4);
    h = Fnv1a(h, r.Name, std::strlen(r.Name) + 1);
    h = Fnv1a(h, r.Text, std::strlen(r.Text) + 1);
  }
  EXPECT_EQ(h, 0x9602946940834bebULL);
}

TEST(ZelConsts, CompressionModeOrder) {
  EXPECT_EQ(static_cast<int>(dcNone), 0);
  EXPECT_EQ(static_cast<int>(dcZelZLib), 1);
  EXPECT_EQ(static_cast<int>(dcZelCustom), 2);
  EXPECT_EQ(static_cast<int>(dcUsrCustom), 3);
}

}  // namespace
}  // namespace zel
