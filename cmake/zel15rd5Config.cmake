# Package config of the engine's shared library: find_package(zel15rd5) gives
# the imported target zel15rd5::zel15rd5 (the library and its headers).
include("${CMAKE_CURRENT_LIST_DIR}/zel15rd5Targets.cmake")
