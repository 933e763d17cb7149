#pragma once
// Checks of a database file made by the database component, on top of the
// map, store and table checks. From the file's bytes alone:
//  - the definition record at offset 0: format 1, a version text that ends
//    in a null unit within its field, a security level from 0 to 2, and a
//    CRC-32 over the bytes 0..255 and the record (CRC field 0) that matches;
//  - the system table map lists both catalogue tables (IDs 1024, 1025);
//  - in a file without encryption, every table of either map other than the
//    catalogue tables has a catalogue row naming its table ID.
// Files with encrypted pages get the map checks and the definition record
// only: their tables cannot be read without the key.
#include <gtest/gtest.h>

#include <string>

namespace testsupport {

::testing::AssertionResult DatabaseIsIntact(const std::string& FileName);

}  // namespace testsupport
