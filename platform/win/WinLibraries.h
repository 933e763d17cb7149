#pragma once
// Libraries of the virtual Windows loaded at run time by name. The system's
// own libraries are built into the platform: loading one gives its table of
// entry points, looked up by name as GetProcAddress looks them up.
//
// A machine can be set up without a library, or with a library that lacks an
// entry point (an older version of it), through the [Libraries] section of
// the system configuration ("WININET.DLL=0" removes the library,
// "WININET.DLL:HttpQueryInfoA=0" one of its entry points), so that programs
// can meet the failures a real machine gives them.

#include <cstdint>
#include <string>

namespace plat::win {

inline constexpr uint32_t ERROR_MOD_NOT_FOUND = 126;
inline constexpr uint32_t ERROR_PROC_NOT_FOUND = 127;

struct TLibraryModule;
// A loaded library; nullptr for none.
using HMODULE = const TLibraryModule*;
// An entry point, to be cast to its real type by the caller.
using FARPROC = void (*)();

// The library named (without folder, the extension ".DLL" optional, case
// ignored), or nullptr with ERROR_MOD_NOT_FOUND.
HMODULE LoadLibrary(const std::string& fileName);
// The entry point of that name (case counts), or nullptr with
// ERROR_PROC_NOT_FOUND (ERROR_INVALID_HANDLE without a library).
FARPROC GetProcAddress(HMODULE module, const std::string& procName);
// Built-in libraries stay loaded; false with ERROR_INVALID_HANDLE for none.
bool FreeLibrary(HMODULE module);

// Sets up the machine with or without a library or one of its entry points.
void SetLibraryAvailable(const std::string& fileName, bool available);
void SetLibraryProcAvailable(const std::string& fileName, const std::string& procName,
                             bool available);

}  // namespace plat::win
