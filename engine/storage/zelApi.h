#pragma once
// The engine's public face. The shared library is built with hidden
// visibility: a host sees only what is marked ZEL_API where it is declared.
//
// To put a class on the face: mark it (`class ZEL_API TZelDataBase : ...`),
// mark with PLAT_API any platform base class or handed-out platform type
// not marked yet, and include its header from include/zel15rd5.h. The
// engine's headers are all installed; tests/face and tests/install then
// build against it as a host does.

#include "platform/rtl/Visibility.h"

#define ZEL_API PLAT_API
