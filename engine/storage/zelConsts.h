#pragma once
// The engine's constants: the error table that every engine error is looked
// up in, the named message texts (most of them the detail text of an error)
// and the ways a blob can be stored.

#include <array>
#include <cstdint>
#include <string_view>

namespace zel {

// One entry of the error table: a 16-bit code held in a 32-bit integer, and
// the text shown for it. Trailing blanks and spellings are part of the text.
struct ZelErr {
  int32_t Code;
  std::string_view Msg;
};

inline constexpr int32_t ZelErrCount = 318;
// The code of the "unknown" entry, which stands both first and last.
inline constexpr int32_t ZelErrUnknownCode = 0xFFFF;

// Entries 0 and 317 hold the unknown entry; entries 1 to 316 hold every code
// the engine raises, each exactly once, grouped by their high byte.
extern const std::array<ZelErr, ZelErrCount> ZelErrTable;

// How a blob is stored; the value is kept in stored records, so the order is
// fixed.
enum TDataCompressionMode : uint8_t { dcNone, dcZelZLib, dcZelCustom, dcUsrCustom };

// The named message texts. Each also has a numeric identifier, listed in
// ZelResTexts.
extern const char* const SzelSelectDistinctInvalidColumnType;
extern const char* const SZelParameterNotFound;
extern const char* const SZelInvalidVersion;
extern const char* const SZelTrue;
extern const char* const SZelFalse;
extern const char* const SzelAggFuncDataError;
extern const char* const SzelOrderByColumnNotPresent;
extern const char* const SzelOrderByColumnIndexOutOfRange;
extern const char* const SzelUnionResultSetFailed;
extern const char* const SzelUnionColumnCountError;
extern const char* const SzelUnionStatementIncorrectlyTerminated;
extern const char* const SzelOnlySinglePrimaryIndexAllowed;
extern const char* const SzelCannotDeletePrimaryIndex;
extern const char* const SzelBlobCompressionModeNotRecognised;
extern const char* const SzelSelectinFromNotSupported;
extern const char* const SzelUpdateStatmentSyntaxError;
extern const char* const SzelUpdateMissingColumnReference;
extern const char* const SzelMissingAssignmentToken;
extern const char* const SzelInvalidCreateStatement;
extern const char* const SzelInvalidAlterTableStatement;
extern const char* const SzelInvalidDropStatement;
extern const char* const SzelDataTypeInvalid;
extern const char* const SzelMissingOnToken;
extern const char* const SzelNoIndexColumnsSpecified;
extern const char* const SzelTableExists;
extern const char* const SzelTableNotFound;
extern const char* const SzelEmptySQLStatement;
extern const char* const SzelMissingTableReference;
extern const char* const SzelResultSetLimitExceededFmt;
extern const char* const SzelDataFormatErrorFmt;
extern const char* const SzelSelectDistinctMaxColsLimit;
extern const char* const SzelGroupByColumnNotFound;
extern const char* const SzelParamsNotSupported;
extern const char* const SzelParamNotFound;
extern const char* const SzelHavingColumnNotFoundFmt;
extern const char* const SzelNoGroupByClause;
extern const char* const SzelHavingFieldNotInResult;
extern const char* const SzelSelectTokenMissing;
extern const char* const SzelInsertStatmentSyntaxError;
extern const char* const SzelMissingColumnSpecifier;
extern const char* const SzelExprSubqueriesNotSupported;
extern const char* const SzelUnrecognizedSQLStatement;
extern const char* const SzelInsertColumnsCountMismatch;
extern const char* const SzelNoInsertColumnsSpecified;
extern const char* const SzelSQLStatmentCannotbeExecuted;
extern const char* const SzelSQLStatmentCannotbeOpened;
extern const char* const SzelDeleteStatmentSyntaxError;
extern const char* const SzelMissingASOperatorInCASTExpr;
extern const char* const SzelInvalidFieldinEXTRACTExpr;
extern const char* const SzelMissingFROMinEXTRACTExpr;
extern const char* const SzelInvalidValeExprInEXTRACTExpr;
extern const char* const SzelExprBadScope;
extern const char* const SzelIndexNotFound;
extern const char* const SzelDuplicateIndex;
extern const char* const SzelDuplicateField;
extern const char* const SzelFieldNotFound;
extern const char* const SzelFieldNotValidInExpression;
extern const char* const SzelTableOrFieldNotFound;
extern const char* const SzelTypeConversionErr;
extern const char* const SzelColumnNameErr;
extern const char* const SzelGroupByTerminateErr;
extern const char* const SzelColumnNameMissingErr;
extern const char* const SzelNonAggColumnNotInGroupBy;
extern const char* const SzelOrderByTerminateErr;
extern const char* const SzelDataTypeUnknown;
extern const char* const SzelDataTypeSpecErr;
extern const char* const SzelDataypeScaleErr;
extern const char* const SzelRParenMissing;
extern const char* const SzelLParenMissing;
extern const char* const SzelBetweenPredErr;
extern const char* const SzelExprNoRParenOrComma;
extern const char* const SzelEmptyINList;
extern const char* const SzelExprTypeMismatch;
extern const char* const SzelExprArithNotSupported;
extern const char* const SzelSUBSTRINGInvalid;
extern const char* const SzelExprTerminatedIncorrectly;
extern const char* const SzelInvalidToken;
extern const char* const SzelEmptyExpr;
extern const char* const SzelCharExprInvalidExprDataType;
extern const char* const SzelMaxLimitFmt;
extern const char* const SzelNoEncryptionSupport;
extern const char* const SzelMastDetError;
extern const char* const SzelMDetFldError;
extern const char* const SzelDBFileVersionFmt;
extern const char* const SzelDBOperationCannotBePerformed;
extern const char* const SzelPWordExpired;
extern const char* const SzelTableReadLockErr;
extern const char* const SzelTableWriteLockErr;
extern const char* const SzelRecordLockErr;
extern const char* const SzelLckFileLockErr;
extern const char* const SzelTransactionLockErr;
extern const char* const SzelGeneratorNameFmt;
extern const char* const SzelTable;
extern const char* const SzelField;
extern const char* const SzelIndexFieldOutOfRange;
extern const char* const SzelErrorAnonBaseMsg;
extern const char* const SzelErrorAnonCustomMsg;
extern const char* const SzelFmtIndexNotFoundError;
extern const char* const SzelMasterKeyLabel;
extern const char* const SzelPasswordLabel;
extern const char* const SzelUsernameLabel;
extern const char* const SzelLoginPrompt;
extern const char* const SzelFileVersionDoesNotSupportOperation;
extern const char* const SzelOffsetValueIsOutOfRange;
extern const char* const SzelObjectNotAssigned;
extern const char* const SzelIndexFmt;
extern const char* const SzelValueInvalidFmt;
extern const char* const SzelValueOutOfRangeFmt;
extern const char* const SzelStringInvalidFmt;
extern const char* const SzelTableInUseFmt;
extern const char* const SzelCorruptEncryptionKey;

// A named text with its identifier (65424 to 65535; 65439 is unassigned).
struct ZelResText {
  int32_t Id;
  const char* Name;
  const char* Text;
};

inline constexpr int32_t ZelResTextCount = 111;
// Every named text, by ascending identifier.
extern const std::array<ZelResText, ZelResTextCount> ZelResTexts;

}  // namespace zel
