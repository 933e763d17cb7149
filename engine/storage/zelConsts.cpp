#include "engine/storage/zelConsts.h"

namespace zel {

constexpr const char* SzelSelectDistinctInvalidColumnType =
    "The column is not a valid data type for DISTINCT queries";
constexpr const char* SZelParameterNotFound = "Parameter not found";
constexpr const char* SZelInvalidVersion = "Parameter data version is invalid";
constexpr const char* SZelTrue = "True";
constexpr const char* SZelFalse = "False";
constexpr const char* SzelAggFuncDataError = "Aggregate column data conversion error";
constexpr const char* SzelOrderByColumnNotPresent =
    "Order by column not found (Order By columns must be in result set)";
constexpr const char* SzelOrderByColumnIndexOutOfRange = "Order by column number is out of range";
constexpr const char* SzelUnionResultSetFailed = "Union result set could not be created";
constexpr const char* SzelUnionColumnCountError = "Union statement column counts do not match";
constexpr const char* SzelUnionStatementIncorrectlyTerminated =
    "Union statement was incorrectly terminated";
constexpr const char* SzelOnlySinglePrimaryIndexAllowed =
    "Only one primary index is permitted per table";
constexpr const char* SzelCannotDeletePrimaryIndex = "The primary index cannot be deleted";
constexpr const char* SzelBlobCompressionModeNotRecognised =
    "The blob compression mode is not recognized";
constexpr const char* SzelSelectinFromNotSupported =
    "SELECT statements not supported in FROM clause";
constexpr const char* SzelUpdateStatmentSyntaxError = "Update statement syntax is incorrect";
constexpr const char* SzelUpdateMissingColumnReference =
    "Update statement missing column reference";
constexpr const char* SzelMissingAssignmentToken = "Missing assignment (=) token";
constexpr const char* SzelInvalidCreateStatement = "Create statment is invalid";
constexpr const char* SzelInvalidAlterTableStatement = "Alter table statment is invalid";
constexpr const char* SzelInvalidDropStatement = "Drop statment is invalid";
constexpr const char* SzelDataTypeInvalid = "Data type is invalid";
constexpr const char* SzelMissingOnToken = "Missing ON token";
constexpr const char* SzelNoIndexColumnsSpecified = "No index columns specified";
constexpr const char* SzelTableExists = "Table already exists";
constexpr const char* SzelTableNotFound = "Table not found";
constexpr const char* SzelEmptySQLStatement = "SQL statment is empty";
constexpr const char* SzelMissingTableReference = "Syntax error. Expected table name";
constexpr const char* SzelResultSetLimitExceededFmt = "Result set limit of %d has been exceeded";
constexpr const char* SzelDataFormatErrorFmt = "Value %s was not of the expected format %s";
constexpr const char* SzelSelectDistinctMaxColsLimit =
    "Result set colummn count exceeds DISTINCT query limit";
constexpr const char* SzelGroupByColumnNotFound = "Group By column not found";
constexpr const char* SzelParamsNotSupported = "Parameters are not supported";
constexpr const char* SzelParamNotFound = "Parameter name expected but none found";
constexpr const char* SzelHavingColumnNotFoundFmt = "Column name in having clause not found: %s";
constexpr const char* SzelNoGroupByClause = "No group by clause was specified";
constexpr const char* SzelHavingFieldNotInResult =
    "Fields specified in having clause must appear in the result set";
constexpr const char* SzelSelectTokenMissing = "Missing select token";
constexpr const char* SzelInsertStatmentSyntaxError = "Insert statement syntax is incorrect";
constexpr const char* SzelMissingColumnSpecifier = "Column name is missing";
constexpr const char* SzelExprSubqueriesNotSupported = "Subqueries are not supported";
constexpr const char* SzelUnrecognizedSQLStatement = "Unrecognised SQL statement type";
constexpr const char* SzelInsertColumnsCountMismatch =
    "Number of insert columns does not match number of insert values";
constexpr const char* SzelNoInsertColumnsSpecified = "No insert columns were specified";
constexpr const char* SzelSQLStatmentCannotbeExecuted =
    "SQL statement cannot be executed by ExecSQL";
constexpr const char* SzelSQLStatmentCannotbeOpened =
    "SQL statement cannot be opened (execute by ExecSQL)";
constexpr const char* SzelDeleteStatmentSyntaxError = "Delete statement syntax is incorrect";
constexpr const char* SzelMissingASOperatorInCASTExpr = "Missing AS operator in Cast expression";
constexpr const char* SzelInvalidFieldinEXTRACTExpr = "Invalid extract field in EXTRACT expression";
constexpr const char* SzelMissingFROMinEXTRACTExpr = "Missing FROM operator in Extract expression";
constexpr const char* SzelInvalidValeExprInEXTRACTExpr =
    "Extract value expression result type is invalid for extract field";
constexpr const char* SzelExprBadScope = "Scope is invalid";
constexpr const char* SzelIndexNotFound = "Index not found";
constexpr const char* SzelDuplicateIndex = "Index already exists";
constexpr const char* SzelDuplicateField = "Field already exists";
constexpr const char* SzelFieldNotFound = "Field not found";
constexpr const char* SzelFieldNotValidInExpression = "Field type is not allowed in expression";
constexpr const char* SzelTableOrFieldNotFound = "Table and/or field not found";
constexpr const char* SzelTypeConversionErr = "Cannot convert type";
constexpr const char* SzelColumnNameErr = "invalid column name descriptor";
constexpr const char* SzelGroupByTerminateErr = "Group By clause incorrectly terminated";
constexpr const char* SzelColumnNameMissingErr = "missing column name descriptor";
constexpr const char* SzelNonAggColumnNotInGroupBy =
    "Output column must be specified in Group By clause";
constexpr const char* SzelOrderByTerminateErr = "Order By clause incorrectly terminated";
constexpr const char* SzelDataTypeUnknown = "Unknown Datatype";
constexpr const char* SzelDataTypeSpecErr = "Data type length/precision not specified";
constexpr const char* SzelDataypeScaleErr = "Data type scale invalid";
constexpr const char* SzelRParenMissing = "Missing Right Parenthesis";
constexpr const char* SzelLParenMissing = "Missing Left Parenthesis";
constexpr const char* SzelBetweenPredErr = "missing AND operator in between predicate";
constexpr const char* SzelExprNoRParenOrComma = "Missing Right Parenthesis or comma";
constexpr const char* SzelEmptyINList = "IN list is empty";
constexpr const char* SzelExprTypeMismatch = "Expression data types do not match";
constexpr const char* SzelExprArithNotSupported = "Arithmetic operators not supported";
constexpr const char* SzelSUBSTRINGInvalid = "Missing FROM or COMMA token in SUBSTRING function";
constexpr const char* SzelExprTerminatedIncorrectly = "Expression incorrectly terminated";
constexpr const char* SzelInvalidToken = "Invalid token";
constexpr const char* SzelEmptyExpr = "Expression is empty";
constexpr const char* SzelCharExprInvalidExprDataType =
    "Character value expression return type is invalid";
constexpr const char* SzelMaxLimitFmt = "Maximum allowed is %d";
constexpr const char* SzelNoEncryptionSupport = "This database does not use/support encryption";
constexpr const char* SzelMastDetError = "Master-detail error";
constexpr const char* SzelMDetFldError = " is not a valid index field for this index";
constexpr const char* SzelDBFileVersionFmt = "Current database disk format is %s";
constexpr const char* SzelDBOperationCannotBePerformed =
    "This operation can not be performed on this database/table";
constexpr const char* SzelPWordExpired = "The password has expired";
constexpr const char* SzelTableReadLockErr = "A read lock could not be obtained on the table";
constexpr const char* SzelTableWriteLockErr = "A write lock could not be obtained on the table";
constexpr const char* SzelRecordLockErr = "A lock could not be obtained on the record";
constexpr const char* SzelLckFileLockErr = "A lock could not be obtained on the lock file";
constexpr const char* SzelTransactionLockErr = "A transaction lock could not be obtained";
constexpr const char* SzelGeneratorNameFmt =
    "'%s' is not a valid generator name (min. length 1, '$' is a reserved first character";
constexpr const char* SzelTable = "Table";
constexpr const char* SzelField = "Field";
constexpr const char* SzelIndexFieldOutOfRange = "The specified index field count is out of range";
constexpr const char* SzelErrorAnonBaseMsg =
    "The Ostra database engine raised an error\r\n (error code #%d). %s";
constexpr const char* SzelErrorAnonCustomMsg =
    "The Ostra database engine raised an error\r\n %s (error code #%d) - %s";
constexpr const char* SzelFmtIndexNotFoundError = "Index not found %s";
constexpr const char* SzelMasterKeyLabel = "Database Password:";
constexpr const char* SzelPasswordLabel = "User Password:";
constexpr const char* SzelUsernameLabel = "User name:";
constexpr const char* SzelLoginPrompt = "Database Login";
constexpr const char* SzelFileVersionDoesNotSupportOperation =
    "This database version does not support this operation ";
constexpr const char* SzelOffsetValueIsOutOfRange = "The offset value is out of range";
constexpr const char* SzelObjectNotAssigned = "The requested object has not been assigned";
constexpr const char* SzelIndexFmt = "Index %s";
constexpr const char* SzelValueInvalidFmt = "%s has not been set or is out of range";
constexpr const char* SzelValueOutOfRangeFmt = "%d is not a valid value (min. %d, max. %d)";
constexpr const char* SzelStringInvalidFmt =
    "%s is not a valid value (min. length %d, max. length %d)";
constexpr const char* SzelTableInUseFmt = "The table %s is in use";
constexpr const char* SzelCorruptEncryptionKey = "The encrpytion key is not valid or corrupted";

constexpr std::array<ZelErr, ZelErrCount> ZelErrTable = {{
    {ZelErrUnknownCode, "Error code unknown"},
    // 0x21xx: system.
    {0x2101, "Cannot open the requested file"},
    {0x2102, "I/O error on a system file"},
    {0x2103, "Data structure corruption"},
    {0x2107, "System has been illegally re-entered"},
    {0x210A, "Cannot load a service DLL"},
    {0x210B, "Cannot create or open temporary file"},
    {0x210D, "Shared memory conflict"},
    {0x2180, "System object is not initialized"},
    {0x2181, "Operation is not valid on this object"},
    {0x2182, "The requested object is in use"},
    {0x2183, "The requested object could not be found"},
    {0x2184, "The requested object already exists"},
    {0x2185, "There was an unexpected internal error in the database engine"},
    {0x2186, "The database file could not be created"},
    // 0x22xx: not found.
    {0x2201, "Beginning of Virtual table"},
    {0x2202, "End of Virtual table"},
    {0x2203, "Fly-away"},
    {0x2204, "Record Deleted/Key Modified"},
    {0x2205, "No current record"},
    {0x2206, "Record was not found"},
    {0x2207, "End of Blob reached"},
    {0x2208, "Generic Not found"},
    {0x2209, "Family member not found"},
    {0x220A, "Blob file for table is missing"},
    {0x220B, "Language driver not found"},
    // 0x23xx: corruption.
    {0x2301, "Corrupt Header"},
    {0x2302, "File corrupt - other than header"},
    {0x2303, "Memo file corrupted"},
    {0x2304, "BitMap is corrupt (Internal error)"},
    {0x2305, "Index is corrupt"},
    {0x2306, "Corrupt lock file"},
    {0x2307, "Corrupt family file"},
    {0x2308, "Val file is missing or corrupt"},
    {0x2309, "Index is in a foreign format - import first"},
    // 0x24xx: input and output.
    {0x2401, "Disk read failure"},
    {0x2402, "Disk write failure"},
    {0x2403, "No access to directory"},
    {0x2404, "File delete failed"},
    {0x2405, "The file could not be accessed"},
    {0x2406, "Access to the table is disabled (previous error)"},
    {0x2480, "File copy failed"},
    // 0x25xx: limits.
    {0x2501, "Not enough Memory for this op "},
    {0x2502, "Not enough File handles "},
    {0x2503, "Not enough Disk space "},
    {0x2504, "Temporary Table resource limit "},
    {0x2505, "Too big a record size for table "},
    {0x2506, "Too many open cursors "},
    {0x2507, "Table is full "},
    {0x2508, "Too many sessions from this WS "},
    {0x2509, "Serial number limit (paradox) "},
    {0x250A, "Some internal limit (see context) "},
    {0x250B, "Too many open tables "},
    {0x250C, "Too many cursors per table "},
    {0x250D, "Too many record locks on table "},
    {0x250E, "Too many clients "},
    {0x250F, "Too many indexes (also in Table Create) "},
    {0x2510, "Too many sessions "},
    {0x2511, "Too many databases "},
    {0x2512, "Too many passwords "},
    {0x2513, "Too many active drivers "},
    {0x2514, "None or too many Fields in Table Create "},
    {0x2515, "Too many table locks "},
    {0x2516, "Too many open blobs "},
    {0x2517, "Lock file has grown too big "},
    {0x2518, "Too many open queries "},
    {0x2519, "Too many threads for client "},
    {0x251A, "Too many blobs "},
    {0x251B, "Pathname is too long for a Paradox 5.0 or less table "},
    {0x251C, "Row fetch limit "},
    {0x251D, "Long name is not allowed for this tableversion "},
    {0x251E, "Not enough shared Memory for this operation "},
    {0x2580, "The database file size limit has been reached"},
    {0x2581, "The database table limit has been reached"},
    {0x2582, "Key size too large"},
    {0x2583, "Too many fields in index"},
    {0x2584, "Too many indexes"},
    {0x2585, "The object name is out of range"},
    {0x2586, "The field length is invalid"},
    // 0x26xx: integrity.
    {0x2601, "Key violation "},
    {0x2602, "Min val check failed "},
    {0x2603, "Max val check failed "},
    {0x2604, "Field value required "},
    {0x2605, "Master record missing "},
    {0x2606, "Cannot MODIFY or DELETE this Master record "},
    {0x2607, "Master Table Level is incorrect "},
    {0x2608, "Field value out of lookup tbl range "},
    {0x2609, "Lookup Table Open failed "},
    {0x260A, "Detail Table Open failed "},
    {0x260B, "Master Table Open failed "},
    {0x260C, "Field is blank "},
    {0x260D, "Master Table exists "},
    {0x260E, "Master Table is open "},
    {0x260F, "Detail Tables exist ( cannot delete, rename ... ) "},
    {0x2610, "Cannot empty because details exist "},
    {0x2611, "Cannot modify while adding self referencing Referential Integrity "},
    {0x2612, "Detail Table is opened "},
    {0x2613, "Cannot make a master a detail of another table if its details are not empty. "},
    {0x2614, "Ref. integrity fields must be indexed "},
    {0x2615, "Master Table is protected ( requires password to open) "},
    {0x2616, "Field has more than one master "},
    {0x2617, "Expr val check failed "},
    // 0x27xx: invalid request.
    {0x2701, "Number out of range (e.g field no)"},
    {0x2702, "Generic invalid parameter"},
    {0x2703, "Invalid file name"},
    {0x2704, "File not found"},
    {0x2705, "Invalid option for a parameter"},
    {0x2706, "Invalid handle to the function"},
    {0x2707, "Table type given not known"},
    {0x2708, "Dont know how to open file"},
    {0x2709, "Cannot redefine primary key"},
    {0x270A, "Cannot change this RINTDesc"},
    {0x270B, "Foreign & Primary Key Mismatch"},
    {0x270C, "Invalid modify request"},
    {0x270D, "Index does not exist"},
    {0x270E, "Invalid Offset into the Blob"},
    {0x270F, "Invalid descriptor number"},
    {0x2710, "Invalid field type"},
    {0x2711, "Invalid field descriptor"},
    {0x2712, "Invalid field transform"},
    {0x2713, "Invalid record structure"},
    {0x2714, "Generic: invalid descriptor"},
    {0x2715, "Invalid array of indexes descriptors"},
    {0x2716, "Invalid array of  val. check descriptors"},
    {0x2717, "Invalid array of ref. integrity descriptors"},
    {0x2718, "Invalid ordering of tables during restructure"},
    {0x2719, "Name not unique in this context"},
    {0x271A, "Index name required"},
    {0x271B, "Invalid ses handle"},
    {0x271C, "Invalid restructure operation"},
    {0x271D, "Driver not known to system"},
    {0x271E, "Unknown db"},
    {0x271F, "Invalid password/username given"},
    {0x2720, "No callback function"},
    {0x2721, "Invalid callback buffer length"},
    {0x2722, "Invalid directory"},
    {0x2723, "Translate Error - Translate DID NOT happen"},
    {0x2724, "Cannot Set Cursor of one Table to another"},
    {0x2725, "Bookmark does not match table or the bookmarked record cannot be found"},
    {0x2726, "Index/Tag Name is invalid"},
    {0x2727, "Invalid index descriptor"},
    {0x2728, "No such table"},
    {0x2729, "Table has too many users"},
    {0x272A, "Key does not pass filter condition"},
    {0x272B, "Index already exists"},
    {0x272C, "Index is open"},
    {0x272D, "Invalid Blob Length"},
    {0x272E, "Invalid Blob handle (in record buffer)"},
    {0x272F, "Table is open"},
    {0x2730, "Need to do (hard) restructure"},
    {0x2731, "Invalid mode"},
    {0x2732, "Cannot close index"},
    {0x2733, "Index is being used to order tbl"},
    {0x2734, "Bad user name or password"},
    {0x2735, "Multi level Cascade not supported"},
    {0x2736, "Invalid field name"},
    {0x2737, "Invalid table name"},
    {0x2738, "Invalid linked cursor expression"},
    {0x2739, "Name is reserved"},
    {0x273A, "Invalid file extention"},
    {0x273B, "Invalid language driver"},
    {0x273C, "Requested alias in not open"},
    {0x273D, "Incompatible record structures"},
    {0x273E, "Reserved dos name"},
    {0x273F, "Destination must be indexed"},
    {0x2740, "Invalid index type"},
    {0x2741, "Language driver of table and index do not match"},
    {0x2742, "Filter handle is invalid"},
    {0x2743, "Invalid filter/filter expression"},
    {0x2744, "Bad table create request (exact prob unknown)"},
    {0x2745, "Invalid table delete request"},
    {0x2746, "Bad index create request (exact prob unknown)"},
    {0x2747, "Bad index delete request (exact prob unknown)"},
    {0x2748, "Invalid table name specified"},
    {0x2749, "Multi results"},
    {0x274A, "Invalid time value"},
    {0x274B, "Invalid date value"},
    {0x274C, "Invalid timestamp value"},
    {0x274D, "Tables in different paths"},
    {0x274E, "MisMatch in the # of arguments"},
    {0x274F, "Loaderlib cant find a func in the DLL (bad version?)"},
    {0x2750, "Must use baseorder for this operation"},
    {0x2751, "Invalid procedure name"},
    {0x2752, "Invalid field map"},
    {0x2780, "There is no connection to a database engine"},
    {0x2781, "Cannot perform this operation on an unconnected database"},
    // Deliberately 0x0082 and not 0x2782: this is the value raisers pass.
    {0x0082, "Alter table operation failed (exact cause unknown)"},
    {0x2783, "Internal error. The filter could not be created"},
    {0x2784, "No such field"},
    {0x2785, "Field type cannot be indexed"},
    {0x2786, "Database name is invalid"},
    {0x2787, "Invalid table rename request"},
    {0x2788, "Cannot perform this operation on a connected database"},
    {0x2789, "Cannot perform this operation without exclusive database access"},
    {0x278A, "Cannot perform this operation while a transaction is active"},
    {0x278B, "The requested object cannot be edited"},
    {0x278C, "The requested object cannot be deleted"},
    {0x278D, "The generator name is invalid"},
    // 0x28xx: locks and transactions.
    {0x2801, "None"},
    {0x2802, "The unlock request failed"},
    {0x2803, "None"},
    {0x2804, "None"},
    {0x2805, "None"},
    {0x2806, "None"},
    {0x2807, "None"},
    {0x2808, "This operation cannot be performed without a prior lock"},
    {0x2809, "The requested lock could not be obtained. The request timed out"},
    {0x280A, "None"},
    {0x280B, "None"},
    {0x280C, "None"},
    {0x280D, "None"},
    {0x280E, "None"},
    {0x280F, "None"},
    {0x2810, "Transaction already active"},
    {0x2811, "There are no active transactions"},
    {0x2812, "None"},
    {0x2813, "None"},
    {0x2814, "None"},
    {0x2817, "None"},
    // 0x29xx: rights.
    {0x2901, "Not sufficient field  rights for operation"},
    {0x2902, "Not sufficient table  rights for operation"},
    {0x2903, "Not sufficient family rights for operation"},
    {0x2904, "Is a read-only directory"},
    {0x2905, "Database is read-only"},
    {0x2906, "Trying to modify read-only field"},
    {0x2907, "Table is encrypted (dBASE only)"},
    {0x2908, "Not sufficient sql rights for operation"},
    {0x2980, "You do not have the privilege/s required to perform this function"},
    // 0x2Axx: other.
    {0x2A01, "Field is not a blob"},
    {0x2A02, "Blob already opened"},
    {0x2A03, "Blob not opened"},
    {0x2A04, "Operation not applicable"},
    {0x2A05, "Table is not indexed"},
    {0x2A06, "Engine not initialized"},
    {0x2A07, "Attempt to re-initialize engine"},
    {0x2A08, "Attempt to mix objs from diff ses"},
    {0x2A09, "Paradox driver not active"},
    {0x2A0A, "Driver not loaded"},
    {0x2A0B, "Table is read only"},
    {0x2A0C, "No index associated with the cursor"},
    {0x2A0D, "Has open cursors"},
    {0x2A0E, "The requested operation cannot be performed on this table type"},
    {0x2A0F, "Index is read only"},
    {0x2A10, "Records are not unique"},
    {0x2A11, "Not the current/active session"},
    {0x2A12, "Invalid use of keyword."},
    {0x2A13, "Connection in use"},
    {0x2A14, "Passthru SQL connection not share"},
    {0x2A80, "The requested operation cannot be performed on an in-memory database"},
    // 0x2Bxx: operating-system errors.
    {0x2B01, "Invalid function number"},
    {0x2B02, "No such file or directory"},
    {0x2B03, "Path not found"},
    {0x2B04, "Too many open files"},
    {0x2B05, "Permission denied"},
    {0x2B06, "Bad file number"},
    {0x2B07, "Memory blocks destroyed"},
    {0x2B08, "Not enough core"},
    {0x2B09, "Invalid memory block address"},
    {0x2B0A, "Invalid environment"},
    {0x2B0B, "Invalid format"},
    {0x2B0C, "Invalid access code"},
    {0x2B0D, "Invalid data"},
    {0x2B0F, "No such device"},
    {0x2B10, "Attempt to remove curdir"},
    {0x2B11, "Not same device"},
    {0x2B12, "No more files"},
    {0x2B13, "Invalid argument"},
    {0x2B14, "Arg list too long"},
    {0x2B15, "Exec format error"},
    {0x2B16, "Cross-device link"},
    {0x2B21, "Math argument"},
    {0x2B22, "Result too large"},
    {0x2B23, "The file already exists"},
    {0x2B27, "Unkown | illegal error from rtl"},
    {0x2B32, "Share viol, ext. err 0x20"},
    {0x2B33, "Lock viol, ext. err 0x21"},
    {0x2B34, "INT24 called"},
    {0x2B35, "Drive not ready"},
    {0x2B64, "Not exact read/write"},
    {0x2B65, "Generic network error"},
    {0x2B66, "Error from file server"},
    {0x2B67, "Server out of memory"},
    {0x2B68, "Record already locked (by you)"},
    {0x2B69, "Record not locked"},
    {0x2B6A, "Server software not running the workstation/server"},
    // 0x2Cxx: network.
    {0x2C01, "Net init failed"},
    {0x2C02, "Net user limit exceeded"},
    {0x2C03, "Wrong net file version"},
    {0x2C04, "Not able to lock net file"},
    {0x2C05, "None"},
    {0x2C06, "Multiple net files in use"},
    {0x2C07, "Unknown net error"},
    {0x2C08, "Cannot access a shared file"},
    {0x2C09, "Share not loaded"},
    {0x2C0A, "Not an Network"},
    {0x2C0B, "Lost Communication with SQL server"},
    {0x2C0C, "Lost Communication with IDAPI server"},
    {0x2C0D, "SQL Server not found"},
    {0x2C0E, "0x0e SQL Server not found"},
    // 0x2Fxx: version.
    {0x2F01, "Interface mismatch"},
    {0x2F02, "Index is out of date"},
    {0x2F03, "Older version (see context)"},
    {0x2F04, "Val. file is out of date"},
    {0x2F05, "Old Blob file version"},
    {0x2F06, "Query and IDAPI are mismatched"},
    {0x2F07, "Server is incompatible version"},
    {0x2F08, "Higher table level required"},
    {0x2F09, "Higher database level required"},
    // 0x33xx: other operations.
    {0x3301, "File already exsits"},
    {0x3302, "Another user modified Blob"},
    {0x3303, "Unknown SQL error"},
    {0x3304, "Table already exists"},
    {0x3305, "Paradox 1.0 tables not supported"},
    {0x3306, "Update operation aborted"},
    // SQL errors, kept after all the groups.
    {0x25AD, "SQL Error"},
    {0x25B2, "Single row result set returned multiple rows"},
    {0x25B8, "Subquery result set returned multiple columns"},

    {ZelErrUnknownCode, "Error code unknown"},
}};

namespace {

// The lookup scans entries 1 to 316 for the first match, so a repeated code
// would hide its second entry.
constexpr bool CodesAreUnique() {
  for (int32_t i = 1; i < ZelErrCount - 1; ++i) {
    if (ZelErrTable[i].Code < 0 || ZelErrTable[i].Code >= ZelErrUnknownCode) return false;
    for (int32_t j = i + 1; j < ZelErrCount - 1; ++j) {
      if (ZelErrTable[i].Code == ZelErrTable[j].Code) return false;
    }
  }
  return true;
}
static_assert(CodesAreUnique(), "error codes 1 to 316 must be unique 16-bit values");
static_assert(ZelErrTable[186].Code == 0x0082);
static_assert(ZelErrTable[ZelErrCount - 1].Code == ZelErrUnknownCode);

}  // namespace

constexpr std::array<ZelResText, ZelResTextCount> ZelResTexts = {{
    {65424, "SzelSelectDistinctInvalidColumnType", SzelSelectDistinctInvalidColumnType},
    {65425, "SZelParameterNotFound", SZelParameterNotFound},
    {65426, "SZelInvalidVersion", SZelInvalidVersion},
    {65427, "SZelTrue", SZelTrue},
    {65428, "SZelFalse", SZelFalse},
    {65429, "SzelAggFuncDataError", SzelAggFuncDataError},
    {65430, "SzelOrderByColumnNotPresent", SzelOrderByColumnNotPresent},
    {65431, "SzelOrderByColumnIndexOutOfRange", SzelOrderByColumnIndexOutOfRange},
    {65432, "SzelUnionResultSetFailed", SzelUnionResultSetFailed},
    {65433, "SzelUnionColumnCountError", SzelUnionColumnCountError},
    {65434, "SzelUnionStatementIncorrectlyTerminated", SzelUnionStatementIncorrectlyTerminated},
    {65435, "SzelOnlySinglePrimaryIndexAllowed", SzelOnlySinglePrimaryIndexAllowed},
    {65436, "SzelCannotDeletePrimaryIndex", SzelCannotDeletePrimaryIndex},
    {65437, "SzelBlobCompressionModeNotRecognised", SzelBlobCompressionModeNotRecognised},
    {65438, "SzelSelectinFromNotSupported", SzelSelectinFromNotSupported},
    {65440, "SzelUpdateStatmentSyntaxError", SzelUpdateStatmentSyntaxError},
    {65441, "SzelUpdateMissingColumnReference", SzelUpdateMissingColumnReference},
    {65442, "SzelMissingAssignmentToken", SzelMissingAssignmentToken},
    {65443, "SzelInvalidCreateStatement", SzelInvalidCreateStatement},
    {65444, "SzelInvalidAlterTableStatement", SzelInvalidAlterTableStatement},
    {65445, "SzelInvalidDropStatement", SzelInvalidDropStatement},
    {65446, "SzelDataTypeInvalid", SzelDataTypeInvalid},
    {65447, "SzelMissingOnToken", SzelMissingOnToken},
    {65448, "SzelNoIndexColumnsSpecified", SzelNoIndexColumnsSpecified},
    {65449, "SzelTableExists", SzelTableExists},
    {65450, "SzelTableNotFound", SzelTableNotFound},
    {65451, "SzelEmptySQLStatement", SzelEmptySQLStatement},
    {65452, "SzelMissingTableReference", SzelMissingTableReference},
    {65453, "SzelResultSetLimitExceededFmt", SzelResultSetLimitExceededFmt},
    {65454, "SzelDataFormatErrorFmt", SzelDataFormatErrorFmt},
    {65455, "SzelSelectDistinctMaxColsLimit", SzelSelectDistinctMaxColsLimit},
    {65456, "SzelGroupByColumnNotFound", SzelGroupByColumnNotFound},
    {65457, "SzelParamsNotSupported", SzelParamsNotSupported},
    {65458, "SzelParamNotFound", SzelParamNotFound},
    {65459, "SzelHavingColumnNotFoundFmt", SzelHavingColumnNotFoundFmt},
    {65460, "SzelNoGroupByClause", SzelNoGroupByClause},
    {65461, "SzelHavingFieldNotInResult", SzelHavingFieldNotInResult},
    {65462, "SzelSelectTokenMissing", SzelSelectTokenMissing},
    {65463, "SzelInsertStatmentSyntaxError", SzelInsertStatmentSyntaxError},
    {65464, "SzelMissingColumnSpecifier", SzelMissingColumnSpecifier},
    {65465, "SzelExprSubqueriesNotSupported", SzelExprSubqueriesNotSupported},
    {65466, "SzelUnrecognizedSQLStatement", SzelUnrecognizedSQLStatement},
    {65467, "SzelInsertColumnsCountMismatch", SzelInsertColumnsCountMismatch},
    {65468, "SzelNoInsertColumnsSpecified", SzelNoInsertColumnsSpecified},
    {65469, "SzelSQLStatmentCannotbeExecuted", SzelSQLStatmentCannotbeExecuted},
    {65470, "SzelSQLStatmentCannotbeOpened", SzelSQLStatmentCannotbeOpened},
    {65471, "SzelDeleteStatmentSyntaxError", SzelDeleteStatmentSyntaxError},
    {65472, "SzelMissingASOperatorInCASTExpr", SzelMissingASOperatorInCASTExpr},
    {65473, "SzelInvalidFieldinEXTRACTExpr", SzelInvalidFieldinEXTRACTExpr},
    {65474, "SzelMissingFROMinEXTRACTExpr", SzelMissingFROMinEXTRACTExpr},
    {65475, "SzelInvalidValeExprInEXTRACTExpr", SzelInvalidValeExprInEXTRACTExpr},
    {65476, "SzelExprBadScope", SzelExprBadScope},
    {65477, "SzelIndexNotFound", SzelIndexNotFound},
    {65478, "SzelDuplicateIndex", SzelDuplicateIndex},
    {65479, "SzelDuplicateField", SzelDuplicateField},
    {65480, "SzelFieldNotFound", SzelFieldNotFound},
    {65481, "SzelFieldNotValidInExpression", SzelFieldNotValidInExpression},
    {65482, "SzelTableOrFieldNotFound", SzelTableOrFieldNotFound},
    {65483, "SzelTypeConversionErr", SzelTypeConversionErr},
    {65484, "SzelColumnNameErr", SzelColumnNameErr},
    {65485, "SzelGroupByTerminateErr", SzelGroupByTerminateErr},
    {65486, "SzelColumnNameMissingErr", SzelColumnNameMissingErr},
    {65487, "SzelNonAggColumnNotInGroupBy", SzelNonAggColumnNotInGroupBy},
    {65488, "SzelOrderByTerminateErr", SzelOrderByTerminateErr},
    {65489, "SzelDataTypeUnknown", SzelDataTypeUnknown},
    {65490, "SzelDataTypeSpecErr", SzelDataTypeSpecErr},
    {65491, "SzelDataypeScaleErr", SzelDataypeScaleErr},
    {65492, "SzelRParenMissing", SzelRParenMissing},
    {65493, "SzelLParenMissing", SzelLParenMissing},
    {65494, "SzelBetweenPredErr", SzelBetweenPredErr},
    {65495, "SzelExprNoRParenOrComma", SzelExprNoRParenOrComma},
    {65496, "SzelEmptyINList", SzelEmptyINList},
    {65497, "SzelExprTypeMismatch", SzelExprTypeMismatch},
    {65498, "SzelExprArithNotSupported", SzelExprArithNotSupported},
    {65499, "SzelSUBSTRINGInvalid", SzelSUBSTRINGInvalid},
    {65500, "SzelExprTerminatedIncorrectly", SzelExprTerminatedIncorrectly},
    {65501, "SzelInvalidToken", SzelInvalidToken},
    {65502, "SzelEmptyExpr", SzelEmptyExpr},
    {65503, "SzelCharExprInvalidExprDataType", SzelCharExprInvalidExprDataType},
    {65504, "SzelMaxLimitFmt", SzelMaxLimitFmt},
    {65505, "SzelNoEncryptionSupport", SzelNoEncryptionSupport},
    {65506, "SzelMastDetError", SzelMastDetError},
    {65507, "SzelMDetFldError", SzelMDetFldError},
    {65508, "SzelDBFileVersionFmt", SzelDBFileVersionFmt},
    {65509, "SzelDBOperationCannotBePerformed", SzelDBOperationCannotBePerformed},
    {65510, "SzelPWordExpired", SzelPWordExpired},
    {65511, "SzelTableReadLockErr", SzelTableReadLockErr},
    {65512, "SzelTableWriteLockErr", SzelTableWriteLockErr},
    {65513, "SzelRecordLockErr", SzelRecordLockErr},
    {65514, "SzelLckFileLockErr", SzelLckFileLockErr},
    {65515, "SzelTransactionLockErr", SzelTransactionLockErr},
    {65516, "SzelGeneratorNameFmt", SzelGeneratorNameFmt},
    {65517, "SzelTable", SzelTable},
    {65518, "SzelField", SzelField},
    {65519, "SzelIndexFieldOutOfRange", SzelIndexFieldOutOfRange},
    {65520, "SzelErrorAnonBaseMsg", SzelErrorAnonBaseMsg},
    {65521, "SzelErrorAnonCustomMsg", SzelErrorAnonCustomMsg},
    {65522, "SzelFmtIndexNotFoundError", SzelFmtIndexNotFoundError},
    {65523, "SzelMasterKeyLabel", SzelMasterKeyLabel},
    {65524, "SzelPasswordLabel", SzelPasswordLabel},
    {65525, "SzelUsernameLabel", SzelUsernameLabel},
    {65526, "SzelLoginPrompt", SzelLoginPrompt},
    {65527, "SzelFileVersionDoesNotSupportOperation", SzelFileVersionDoesNotSupportOperation},
    {65528, "SzelOffsetValueIsOutOfRange", SzelOffsetValueIsOutOfRange},
    {65529, "SzelObjectNotAssigned", SzelObjectNotAssigned},
    {65530, "SzelIndexFmt", SzelIndexFmt},
    {65531, "SzelValueInvalidFmt", SzelValueInvalidFmt},
    {65532, "SzelValueOutOfRangeFmt", SzelValueOutOfRangeFmt},
    {65533, "SzelStringInvalidFmt", SzelStringInvalidFmt},
    {65534, "SzelTableInUseFmt", SzelTableInUseFmt},
    {65535, "SzelCorruptEncryptionKey", SzelCorruptEncryptionKey},
}};

}  // namespace zel
