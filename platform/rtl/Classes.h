#pragma once
// The class library: lists, string lists, collections and components. The
// published-property interface is in Published.h, component text in
// ComponentText.h.

#include "platform/rtl/ClassesBase.h"
#include "platform/rtl/Collections.h"
#include "platform/rtl/Components.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Streams.h"
