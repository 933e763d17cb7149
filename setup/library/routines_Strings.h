#pragma once
// Small string routines of the installer: delimited fields, trailing
// backslashes and file names made valid. Field numbers count from 1.

#include <cstdint>
#include <string>

#include "platform/rtl/Lists.h"

namespace setup {

// List is cleared and receives fields 1 to FieldCount(Text, Delimiter).
void SplitToList(const std::string& Text, char Delimiter, plat::TStrings& List);
// Path + "\" unless Path is empty or ends with "\".
std::string AddTrailingBackslash(const std::string& Path);
// Path without one trailing "\".
std::string RemoveTrailingBackslash(const std::string& Path);
// The delimiters in Text, plus one when Text is not empty and does not end
// with the delimiter.
int32_t FieldCount(const std::string& Text, char Delimiter);
// The N-th field; empty beyond the last.
std::string GetField(const std::string& Text, int32_t N, char Delimiter);
// The text after the first ":"; empty without one.
std::string AfterColon(const std::string& Text);
// "/" becomes "-"; the characters " * : ; < > ? \ | are removed.
std::string MakeValidFileName(const std::string& Text);

}  // namespace setup
