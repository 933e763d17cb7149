#pragma once
// The common unit: the error routine and engine exception, the engine logger,
// the small containers, the byte-key hash, the two string orders, the LIKE
// matcher and the helpers every layer of the engine uses.

#include "engine/storage/zelCommonError.h"
#include "engine/storage/zelCommonHash.h"
#include "engine/storage/zelCommonLists.h"
#include "engine/storage/zelCommonLog.h"
#include "engine/storage/zelCommonText.h"
