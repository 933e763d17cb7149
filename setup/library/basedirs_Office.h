#pragma once
// Where the installed office suite keeps its templates, clip art, start-up
// and tools folders, read from its registry settings by its version, with
// the suite's usual folders as defaults. None ends with "\".

#include <string>

namespace setup {

// The suite's major version (8 for "Word.Document.8"), counted only when
// its server file exists; -1 otherwise.
int OfficeVersion();

std::string OfficeUserTemplates();
std::string OfficeWorkgroupTemplates();
std::string OfficeClipartDirectory();
std::string OfficeStartupDirectory();
std::string OfficeToolsDirectory();
std::string OfficeFavoritesDirectory();

}  // namespace setup
