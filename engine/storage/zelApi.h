#pragma once
// The engine's public face: the shared library is built with hidden
// visibility, and a class or function a host may use is marked ZEL_API where
// it is declared (and its header is reached from include/zel15rd5.h).

#include "platform/rtl/Visibility.h"

#define ZEL_API PLAT_API
