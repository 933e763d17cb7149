#pragma once
// The dataset framework's error texts, byte for byte as the library words
// them (hosts and the engine compare some of them), and the DatabaseError
// routines that raise them.

#include <initializer_list>
#include <string>

#include "platform/rtl/Format.h"

namespace plat {

class TComponent;

// Datasets.
inline constexpr const char* SDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* SDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* SDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* SDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* SNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* SRecordNotFound = "Record not found";
inline constexpr const char* SCircularDataLink = "Circular datalinks are not allowed";
inline constexpr const char* SDataSourceChange = "DataSource cannot be changed";

// Fields.
inline constexpr const char* SFieldNameMissing = "Field name missing";
inline constexpr const char* SDuplicateFieldName = "Duplicate field name '%s'";
inline constexpr const char* SFieldNotFound = "Field '%s' not found";
inline constexpr const char* SFieldIndexError = "Field index out of range";
inline constexpr const char* SUnknownFieldType = "Field '%s' is of an unknown type";
inline constexpr const char* SInvalidFieldSize = "Invalid field size";
inline constexpr const char* SInvalidFieldKind = "Invalid FieldKind";
inline constexpr const char* SFieldTypeMismatch =
    "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr const char* SFieldSizeMismatch =
    "Size mismatch for field '%s', expecting: %d actual: %d";
inline constexpr const char* SFieldAccessError = "Cannot access field '%s' as type %s";
inline constexpr const char* SFieldValueError = "Invalid value for field '%s'";
inline constexpr const char* SFieldRangeError =
    "%g is not a valid value for field '%s'. The allowed range is %g to %g";
inline constexpr const char* SInvalidIntegerValue =
    "'%s' is not a valid integer value for field '%s'";
inline constexpr const char* SInvalidFloatValue =
    "'%s' is not a valid floating point value for field '%s'";
inline constexpr const char* SInvalidBoolValue = "'%s' is not a valid boolean value for field '%s'";
// Our own: the library cuts such text silently, which loses data.
inline constexpr const char* SFieldValueTooLong =
    "Value too long for field '%s': length %d, maximum %d";
inline constexpr const char* SFieldReadOnly = "Field '%s' cannot be modified";
inline constexpr const char* SFieldRequired = "Field '%s' must have a value";
inline constexpr const char* SDataSetMissing = "Field '%s' has no dataset";
inline constexpr const char* SInvalidCalcType = "Field '%s' cannot be a calculated or lookup field";
inline constexpr const char* SLookupInfoError = "Lookup information for field '%s' is incomplete";
inline constexpr const char* STextTrue = "True";
inline constexpr const char* STextFalse = "False";

// Parameters.
inline constexpr const char* SParameterNotFound = "Parameter '%s' not found";

// Raises EDatabaseError with Message, prefixed with "<name>: " when Component
// is given and has a name.
[[noreturn]] void DatabaseError(const std::string& Message, const TComponent* Component = nullptr);
[[noreturn]] void DatabaseErrorFmt(const std::string& Message, std::initializer_list<TVarRec> Args,
                                   const TComponent* Component = nullptr);

}  // namespace plat
