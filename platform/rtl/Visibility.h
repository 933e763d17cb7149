#pragma once
// The engine's shared library is built with hidden visibility: only what is
// marked here is seen by a host. The platform marks the classes that the
// engine's public classes derive from or hand out (the object roots,
// collections, streams, string lists and the exception tree); the rest of
// the platform stays inside the library.

#define PLAT_API __attribute__((visibility("default")))
