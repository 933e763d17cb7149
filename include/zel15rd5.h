#pragma once
// What a host of the engine's shared library includes. The library shows
// only what is marked ZEL_API (engine) or PLAT_API (the platform classes the
// engine's public classes stand on); everything else stays inside it.
//
// The database component TZelDataBase, the table component TZelTable and
// the SQL query component TZelQuery with the dataset framework they stand on (fields, field and index
// definitions, data sources), and beneath them the storage engine a host can
// also drive itself: the error routine and exception, the engine log, string
// order and LIKE, checksums and digests, the database file and its
// transactions, table definitions and their manager, records, blob chains
// and B-tree indexes.

#include "engine/dataset/zelDatabase.h"
#include "engine/sql/zelSQL.h"
#include "engine/storage/zelCommon.h"
#include "engine/storage/zelCrypt.h"
#include "engine/storage/zelDataUnit.h"
#include "engine/storage/zelDisk.h"
#include "engine/storage/zelIndexUnit.h"
#include "engine/storage/zelInterfaceUnit.h"
#include "engine/storage/zelTableMgrUnit.h"
#include "platform/rtl/Streams.h"
