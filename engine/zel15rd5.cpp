// The engine's shared library: its code is the engine folders' archives,
// linked whole; this unit only gives the library a source of its own.
namespace zel {
extern const char* const LibraryName;
const char* const LibraryName = "zel15rd5";
}  // namespace zel
