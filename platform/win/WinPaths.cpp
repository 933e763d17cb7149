#include "platform/win/WinPaths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <memory>

#include "platform/rtl/Strings.h"
#include "platform/win/WinSystem.h"

namespace plat::win {

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool HostExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// The entry of folder dir whose name is name ignoring case; empty when none.
std::string FindEntryIgnoringCase(const std::string& dir, const std::string& name) {
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
  if (!d) return {};
  const std::string upper = UpperName(name);
  while (const dirent* entry = ::readdir(d.get())) {
    const std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (UpperName(candidate) == upper) return candidate;
  }
  return {};
}

std::string JoinHost(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string DriveFolder(char letter) {
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (letter == 'Z') return "/";
  return WinRoot() + "/" + std::string(1, letter);
}

}  // namespace

std::string WinRoot() {
  std::string root;
  if (const char* value = std::getenv(kRootVariable); value != nullptr && *value != '\0') {
    root = value;
  } else if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != '\0') {
    root = std::string(data) + "/zel/windows";
  } else {
    const char* home = std::getenv("HOME");
    root = std::string(home != nullptr ? home : "/tmp") + "/.local/share/zel/windows";
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::string UpperName(const std::string& name) {
  // The platform's pinned case mapping keeps byte lengths, so names that
  // differ only in case have upper forms that are equal byte for byte.
  return AnsiUpperCase(name);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && UpperName(a) == UpperName(b);
}

TWinPathParts SplitWinPath(const std::string& winPath) {
  TWinPathParts parts;
  size_t pos = 0;
  if (winPath.size() >= 2 && winPath[1] == ':' &&
      std::isalpha(static_cast<unsigned char>(winPath[0]))) {
    parts.Drive =
        std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(winPath[0])))) +
        ":";
    pos = 2;
    // "C:" and "C:name" are taken from the drive's root: the emulated
    // machine keeps no current folder per drive.
    parts.Absolute = true;
  } else if (!winPath.empty() && IsSeparator(winPath[0])) {
    parts.Absolute = true;
  }
  std::string component;
  for (; pos <= winPath.size(); ++pos) {
    if (pos == winPath.size() || IsSeparator(winPath[pos])) {
      if (!component.empty()) parts.Components.push_back(component);
      component.clear();
    } else {
      component += winPath[pos];
    }
  }
  return parts;
}

std::string HostPath(const std::string& winPath) {
  const TWinPathParts parts = SplitWinPath(winPath);
  std::string host;
  bool lookup = true;
  if (parts.Absolute) {
    host = DriveFolder(parts.Drive.empty() ? 'C' : parts.Drive[0]);
  } else {
    char buffer[4096];
    host = ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : ".";
  }
  std::vector<std::string> resolved;
  for (const std::string& component : parts.Components) {
    if (component == ".") continue;
    if (component == "..") {
      if (!resolved.empty()) resolved.pop_back();
      continue;
    }
    resolved.push_back(component);
  }
  for (const std::string& component : resolved) {
    if (lookup) {
      const std::string exact = JoinHost(host, component);
      if (HostExists(exact)) {
        host = exact;
        continue;
      }
      const std::string found = FindEntryIgnoringCase(host, component);
      if (!found.empty()) {
        host = JoinHost(host, found);
        continue;
      }
      lookup = false;
    }
    host = JoinHost(host, component);
  }
  return host;
}

std::string WinPathFromHost(const std::string& hostPath) {
  std::string path = hostPath;
  if (path.empty() || path[0] != '/') {
    char buffer[4096];
    const std::string cwd = ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
    path = JoinHost(cwd, path);
  }
  const std::string root = WinRoot() + "/";
  if (path.compare(0, root.size(), root) == 0 && path.size() > root.size() &&
      std::isalpha(static_cast<unsigned char>(path[root.size()])) &&
      (path.size() == root.size() + 1 || path[root.size() + 1] == '/')) {
    const char letter =
        static_cast<char>(std::toupper(static_cast<unsigned char>(path[root.size()])));
    std::string rest = path.size() > root.size() + 2 ? path.substr(root.size() + 2) : "";
    for (char& c : rest) {
      if (c == '/') c = '\\';
    }
    return std::string(1, letter) + ":\\" + rest;
  }
  std::string rest = path.substr(1);
  for (char& c : rest) {
    if (c == '/') c = '\\';
  }
  return "Z:\\" + rest;
}

namespace {

// Position just after the last separator or drive colon; 0 when none.
size_t NameStart(const std::string& winPath) {
  for (size_t i = winPath.size(); i > 0; --i) {
    const char c = winPath[i - 1];
    if (IsSeparator(c) || (c == ':' && i == 2)) return i;
  }
  return 0;
}

}  // namespace

std::string ExtractWinFilePath(const std::string& winPath) {
  return winPath.substr(0, NameStart(winPath));
}

std::string ExtractWinFileDir(const std::string& winPath) {
  std::string dir = ExtractWinFilePath(winPath);
  // Keep the separator of a drive's root ("C:\") and of "\".
  if (dir.size() > 1 && IsSeparator(dir.back()) && !(dir.size() == 3 && dir[1] == ':')) {
    dir.pop_back();
  }
  return dir;
}

std::string ExtractWinFileName(const std::string& winPath) {
  return winPath.substr(NameStart(winPath));
}

std::string ExtractWinFileExt(const std::string& winPath) {
  const std::string name = ExtractWinFileName(winPath);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string ExtractWinFileDrive(const std::string& winPath) {
  if (winPath.size() >= 2 && winPath[1] == ':' &&
      std::isalpha(static_cast<unsigned char>(winPath[0]))) {
    return winPath.substr(0, 2);
  }
  return {};
}

}  // namespace plat::win
