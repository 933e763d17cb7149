#pragma once
// The data unit: the field layout of records and result rows
// (zelDataFields.h), the record manager and blob slots (zelDataRecords.h),
// table headers and the table map (zelDataTableHdr.h), the read-ahead buffer
// (zelDataReadAhead.h), table definitions (zelDataTableDef.h), restructure
// descriptors (zelDataRestructure.h) and privilege records
// (zelDataPrivileges.h).

#include "engine/storage/zelDataFields.h"
#include "engine/storage/zelDataPrivileges.h"
#include "engine/storage/zelDataReadAhead.h"
#include "engine/storage/zelDataRecords.h"
#include "engine/storage/zelDataRestructure.h"
#include "engine/storage/zelDataTableDef.h"
#include "engine/storage/zelDataTableHdr.h"
