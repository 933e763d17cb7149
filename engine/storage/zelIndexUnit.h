#pragma once
// The index unit: key fields, the key format and key comparison
// (zelIndexKeys.h), B-tree pages and the B-tree (zelIndexTree.h), index
// definitions, the index manager and the temporary sort (zelIndexMgr.h).

#include "engine/storage/zelIndexKeys.h"
#include "engine/storage/zelIndexMgr.h"
#include "engine/storage/zelIndexTree.h"
