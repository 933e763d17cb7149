#include "setup/library/cmp_TNetInstallLocation.h"

#include <algorithm>
#include <map>

#include "platform/os/Files.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/ScopeGuard.h"
#include "platform/rtl/Strings.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"

namespace setup {

namespace w = plat::win;

namespace {

constexpr uint32_t kChunkSize = 8192;
constexpr uint32_t kResponseBufferSize = 3000;

// The process-wide state of the locations: the list, the current one and the
// installation's download-abort flag.
struct TNetGlobals {
  TNetLocationList List;
  TCustomNetInstallLocation* Current = nullptr;
  bool Abort = false;
};

TNetGlobals& Globals() {
  static TNetGlobals globals;
  return globals;
}

// Directory in the form servers take: "/" when blank, "/" for every "\".
std::string UrlForm(const std::string& Directory) {
  if (plat::Trim(Directory).empty()) return "/";
  std::string url = Directory;
  std::replace(url.begin(), url.end(), '\\', '/');
  return url;
}

std::string ProgramName() {
  const std::string name = w::ExtractWinFileName(w::GetModuleFileName());
  const std::string ext = w::ExtractWinFileExt(name);
  return name.substr(0, name.size() - ext.size());
}

}  // namespace

std::string WinInetErrorName(uint32_t Code) {
  static const std::map<uint32_t, const char*> kNames = {
      {6, "ERROR_INVALID_HANDLE"},
      {8, "ERROR_NOT_ENOUGH_MEMORY"},
      {87, "ERROR_INVALID_PARAMETER"},
      {122, "ERROR_INSUFFICIENT_BUFFER"},
      {12001, "ERROR_INTERNET_OUT_OF_HANDLES"},
      {12002, "ERROR_INTERNET_TIMEOUT"},
      {12003, "ERROR_INTERNET_EXTENDED_ERROR"},
      {12004, "ERROR_INTERNET_INTERNAL_ERROR"},
      {12005, "ERROR_INTERNET_INVALID_URL"},
      {12006, "ERROR_INTERNET_UNRECOGNIZED_SCHEME"},
      {12007, "ERROR_INTERNET_NAME_NOT_RESOLVED"},
      {12008, "ERROR_INTERNET_PROTOCOL_NOT_FOUND"},
      {12009, "ERROR_INTERNET_INVALID_OPTION"},
      {12010, "ERROR_INTERNET_BAD_OPTION_LENGTH"},
      {12011, "ERROR_INTERNET_OPTION_NOT_SETTABLE"},
      {12012, "ERROR_INTERNET_SHUTDOWN"},
      {12013, "ERROR_INTERNET_INCORRECT_USER_NAME"},
      {12014, "ERROR_INTERNET_INCORRECT_PASSWORD"},
      {12015, "ERROR_INTERNET_LOGIN_FAILURE"},
      {12016, "ERROR_INTERNET_INVALID_OPERATION"},
      {12017, "ERROR_INTERNET_OPERATION_CANCELLED"},
      {12018, "ERROR_INTERNET_INCORRECT_HANDLE_TYPE"},
      {12019, "ERROR_INTERNET_INCORRECT_HANDLE_STATE"},
      {12020, "ERROR_INTERNET_NOT_PROXY_REQUEST"},
      {12021, "ERROR_INTERNET_REGISTRY_VALUE_NOT_FOUND"},
      {12022, "ERROR_INTERNET_BAD_REGISTRY_PARAMETER"},
      {12023, "ERROR_INTERNET_NO_DIRECT_ACCESS"},
      {12024, "ERROR_INTERNET_NO_CONTEXT"},
      {12025, "ERROR_INTERNET_NO_CALLBACK"},
      {12026, "ERROR_INTERNET_REQUEST_PENDING"},
      {12027, "ERROR_INTERNET_INCORRECT_FORMAT"},
      {12028, "ERROR_INTERNET_ITEM_NOT_FOUND"},
      {12029, "ERROR_INTERNET_CANNOT_CONNECT"},
      {12030, "ERROR_INTERNET_CONNECTION_ABORTED"},
      {12031, "ERROR_INTERNET_CONNECTION_RESET"},
      {12032, "ERROR_INTERNET_FORCE_RETRY"},
      {12033, "ERROR_INTERNET_INVALID_PROXY_REQUEST"},
      {12034, "ERROR_INTERNET_NEED_UI"},
      {12036, "ERROR_INTERNET_HANDLE_EXISTS"},
      {12037, "ERROR_INTERNET_SEC_CERT_DATE_INVALID"},
      {12038, "ERROR_INTERNET_SEC_CERT_CN_INVALID"},
      {12039, "ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR"},
      {12040, "ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR"},
      {12041, "ERROR_INTERNET_MIXED_SECURITY"},
      {12042, "ERROR_INTERNET_CHG_POST_IS_NON_SECURE"},
      {12043, "ERROR_INTERNET_POST_IS_NON_SECURE"},
      {12044, "ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED"},
      {12045, "ERROR_INTERNET_INVALID_CA"},
      {12046, "ERROR_INTERNET_CLIENT_AUTH_NOT_SETUP"},
      {12047, "ERROR_INTERNET_ASYNC_THREAD_FAILED"},
      {12048, "ERROR_INTERNET_REDIRECT_SCHEME_CHANGE"},
      {12049, "ERROR_INTERNET_DIALOG_PENDING"},
      {12050, "ERROR_INTERNET_RETRY_DIALOG"},
      {12052, "ERROR_INTERNET_HTTPS_HTTP_SUBMIT_REDIR"},
      {12053, "ERROR_INTERNET_INSERT_CDROM"},
      {12110, "ERROR_FTP_TRANSFER_IN_PROGRESS"},
      {12111, "ERROR_FTP_DROPPED"},
      {12130, "ERROR_GOPHER_PROTOCOL_ERROR"},
      {12131, "ERROR_GOPHER_NOT_FILE"},
      {12132, "ERROR_GOPHER_DATA_ERROR"},
      {12133, "ERROR_GOPHER_END_OF_DATA"},
      {12134, "ERROR_GOPHER_INVALID_LOCATOR"},
      {12135, "ERROR_GOPHER_INCORRECT_LOCATOR_TYPE"},
      {12136, "ERROR_GOPHER_NOT_GOPHER_PLUS"},
      {12137, "ERROR_GOPHER_ATTRIBUTE_NOT_FOUND"},
      {12138, "ERROR_GOPHER_UNKNOWN_LOCATOR"},
      {12150, "ERROR_HTTP_HEADER_NOT_FOUND"},
      {12151, "ERROR_HTTP_DOWNLEVEL_SERVER"},
      {12152, "ERROR_HTTP_INVALID_SERVER_RESPONSE"},
      {12153, "ERROR_HTTP_INVALID_HEADER"},
      {12154, "ERROR_HTTP_INVALID_QUERY_REQUEST"},
      {12155, "ERROR_HTTP_HEADER_ALREADY_EXISTS"},
      {12156, "ERROR_HTTP_REDIRECT_FAILED"},
      {12157, "ERROR_INTERNET_SECURITY_CHANNEL_ERROR"},
      {12158, "ERROR_INTERNET_UNABLE_TO_CACHE_FILE"},
      {12159, "ERROR_INTERNET_TCPIP_NOT_INSTALLED"},
      {12160, "ERROR_HTTP_NOT_REDIRECTED"},
  };
  const auto it = kNames.find(Code);
  return it != kNames.end() ? it->second : "Unregistered error code";
}

// --- Login information ---------------------------------------------------------

void TCustomLoginInformation::Assign(const plat::TPersistent* Source) {
  if (const auto* other = dynamic_cast<const TCustomLoginInformation*>(Source)) {
    anonymous_ = other->anonymous_;
    directory_ = other->directory_;
    hostname_ = other->hostname_;
    password_ = other->password_;
    username_ = other->username_;
    protocol_ = other->protocol_;
    return;
  }
  plat::TPersistent::Assign(Source);
}

const plat::TPropList& TLoginInformation::PublishedProperties() const {
  using L = TLoginInformation;
  static const plat::TPropList list =
      plat::TPublished<L>(plat::TPersistent::PublishedProperties())
          .Boolean("Anonymous", &L::Anonymous, &L::SetAnonymous, true)
          .String("Directory", &L::Directory, &L::SetDirectory)
          .String("Hostname", &L::Hostname, &L::SetHostname)
          .String("Password", &L::Password, &L::SetPassword)
          .Enumeration("Protocol", &L::Protocol, &L::SetProtocol, {"ipFTP", "ipHTTP"}, ipHTTP)
          .String("Username", &L::Username, &L::SetUsername);
  return list;
}

// --- The global list -------------------------------------------------------------

void TNetLocationList::Add(TCustomNetInstallLocation* Location) {
  if (Location == nullptr) {
    throw IENetList("Cannot add a blank location to the global net location list");
  }
  if (std::find(items_.begin(), items_.end(), Location) == items_.end()) {
    items_.push_back(Location);
  }
}

void TNetLocationList::Remove(TCustomNetInstallLocation* Location) {
  items_.erase(std::remove(items_.begin(), items_.end(), Location), items_.end());
}

TNetLocationList& NetLocationList() {
  return Globals().List;
}

TCustomNetInstallLocation* CurrentNetLocation() {
  return Globals().Current;
}

bool DownloadAbort() {
  return Globals().Abort;
}

void SetDownloadAbort(bool Value) {
  Globals().Abort = Value;
}

// --- The location ------------------------------------------------------------------

TCustomNetInstallLocation::TCustomNetInstallLocation(plat::TComponent* AOwner)
    : plat::TComponent(AOwner), loginInformation_(std::make_unique<TLoginInformation>(this)) {
  NetLocationList().Add(this);
}

TCustomNetInstallLocation::~TCustomNetInstallLocation() {
  if (Globals().Current == this) Globals().Current = nullptr;
  if (file_ != nullptr && api_.InternetCloseHandle != nullptr) api_.InternetCloseHandle(file_);
  file_ = nullptr;
  Disconnect();
  FreeWinInet();
  NetLocationList().Remove(this);
}

void TCustomNetInstallLocation::Assign(const plat::TPersistent* Source) {
  if (const auto* other = dynamic_cast<const TCustomNetInstallLocation*>(Source)) {
    loginInformation_->Assign(other->loginInformation_.get());
    return;
  }
  plat::TComponent::Assign(Source);
}

bool TCustomNetInstallLocation::IsValid(const TCustomLoginInformation& Login) const {
  if (Login.Anonymous()) return !plat::Trim(Login.Hostname()).empty();
  return !plat::Trim(Login.Hostname()).empty() || !plat::Trim(Login.Password()).empty() ||
         !plat::Trim(Login.Username()).empty();
}

void TCustomNetInstallLocation::LoadWinInet() {
  library_ = w::LoadLibrary("WININET.DLL");
  if (library_ == nullptr) {
    throw ENIL_FailLoadWININET(
        "Failed to load the Wininet.dll. If this is a hybrid installation, you might want to "
        "include the WININET.DLL file in the PresetupFiles property of the TInstall component");
  }
  auto resolve = [this](auto& entry, const char* name) {
    const w::FARPROC proc = w::GetProcAddress(library_, name);
    if (proc == nullptr) {
      const std::string shown(name, std::char_traits<char>::length(name) -
                                        (name[std::char_traits<char>::length(name) - 1] == 'A'));
      throw ENIL_FailLoadDLLProc(
          plat::Format("Failed to load the procedure %s from WININET.DLL", {shown}));
    }
    entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(proc);
  };
  TEntryPoints api;
  resolve(api.InternetGetLastResponseInfo, "InternetGetLastResponseInfoA");
  resolve(api.InternetOpen, "InternetOpenA");
  resolve(api.InternetConnect, "InternetConnectA");
  resolve(api.FtpSetCurrentDirectory, "FtpSetCurrentDirectoryA");
  resolve(api.InternetCloseHandle, "InternetCloseHandle");
  resolve(api.InternetQueryDataAvailable, "InternetQueryDataAvailable");
  resolve(api.InternetReadFile, "InternetReadFile");
  resolve(api.FtpOpenFile, "FtpOpenFileA");
  resolve(api.HttpOpenRequest, "HttpOpenRequestA");
  resolve(api.HttpSendRequest, "HttpSendRequestA");
  resolve(api.HttpQueryInfo, "HttpQueryInfoA");
  api_ = api;
  loaded_ = true;
}

void TCustomNetInstallLocation::FreeWinInet() {
  if (library_ != nullptr) w::FreeLibrary(library_);
  library_ = nullptr;
  loaded_ = false;
  api_ = TEntryPoints();
}

std::string TCustomNetInstallLocation::LastResponse() const {
  if (api_.InternetGetLastResponseInfo == nullptr) return "No server response";
  char buffer[kResponseBufferSize];
  uint32_t length = sizeof buffer;
  uint32_t error = 0;
  if (!api_.InternetGetLastResponseInfo(&error, buffer, &length)) return "No server response";
  return std::string(buffer, std::min<uint32_t>(length, sizeof buffer));
}

template <typename E>
void TCustomNetInstallLocation::Fail(const std::string& Text) const {
  // The error code first: looking up the response may change it.
  const uint32_t code = w::GetLastError();
  const TCustomNetInstallLocation* current = CurrentNetLocation();
  const std::string host = current != nullptr ? current->LoginInformation().Hostname() : "";
  const std::string response = LastResponse();
  throw E(plat::Format("%s. Error message %s. Server %s. Response from server %s",
                       {Text, WinInetErrorName(code), host, response}));
}

void TCustomNetInstallLocation::Connect() {
  Globals().Current = this;
  if (!loaded_) LoadWinInet();
  const TLoginInformation& login = *loginInformation_;
  const bool ftp = login.Protocol() == ipFTP;
  if (internet_ == nullptr) {
    const std::string agent = ProgramName();
    internet_ = api_.InternetOpen(agent.c_str(), 0, nullptr, nullptr, 0);
    if (internet_ == nullptr) Fail<ENIL_OpenSession>("Cannot open internet connection");
  }
  // A connection made for other login information is not this location's
  // server any more.
  const std::string target = std::to_string(login.Protocol()) + "\n" + login.Hostname() + "\n" +
                             std::to_string(login.Anonymous()) + "\n" + login.Username() + "\n" +
                             login.Password();
  if (connection_ != nullptr && target != connectedTo_) {
    api_.InternetCloseHandle(connection_);
    connection_ = nullptr;
  }
  if (connection_ == nullptr) {
    connectedTo_.clear();
    directorySet_.clear();
    if (OnBeforeConnect) OnBeforeConnect(this);
    const char* user = login.Username().c_str();
    const char* password = login.Password().c_str();
    if (login.Anonymous()) user = password = ftp ? nullptr : "";
    connection_ = api_.InternetConnect(
        internet_, login.Hostname().c_str(), w::INTERNET_INVALID_PORT_NUMBER, user, password,
        ftp ? w::INTERNET_SERVICE_FTP : w::INTERNET_SERVICE_HTTP, 0, 0);
    if (connection_ == nullptr) {
      Fail<ENIL_OpenService>(plat::Format("Cannot connect to host %s", {login.Hostname()}));
    }
    connectedTo_ = target;
    if (OnAfterConnect) OnAfterConnect(this);
  }
  if (ftp) {
    // A relative directory builds on the one set before, so it is set once
    // per connection; another directory starts from a new connection.
    const std::string dir = UrlForm(login.Directory());
    if (!directorySet_.empty() && dir != directorySet_) {
      api_.InternetCloseHandle(connection_);
      connection_ = nullptr;
      Connect();
      return;
    }
    if (directorySet_.empty()) {
      if (!api_.FtpSetCurrentDirectory(connection_, dir.c_str())) {
        Fail<ENIL_FTPSetDir>(plat::Format("Cannot set directory on server to %s", {dir}));
      }
      directorySet_ = dir;
    }
  }
}

void TCustomNetInstallLocation::Disconnect() {
  if (api_.InternetCloseHandle == nullptr) return;
  if (connection_ != nullptr && api_.InternetCloseHandle(connection_)) {
    connection_ = nullptr;
    connectedTo_.clear();
    directorySet_.clear();
  }
  if (internet_ != nullptr && api_.InternetCloseHandle(internet_)) internet_ = nullptr;
}

uint32_t TCustomNetInstallLocation::TotalSize(w::HINTERNET File) {
  if (loginInformation_->Protocol() == ipFTP) {
    uint32_t available = 0;
    if (!api_.InternetQueryDataAvailable(File, &available, 0, 0)) {
      Fail<ENIL_FailDataQuery>(plat::Format("Could not query file %s on server", {remoteFile_}));
    }
    return available;
  }
  char text[33] = {};
  uint32_t length = sizeof text;
  if (!api_.HttpQueryInfo(File, w::HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr)) {
    if (w::GetLastError() == w::ERROR_HTTP_HEADER_NOT_FOUND) return 0;
    Fail<ENIL_FailDataQuery>(plat::Format("Could not query file %s on server", {remoteFile_}));
  }
  int32_t size = 0;
  return plat::TryStrToInt(std::string(text, std::min<uint32_t>(length, 32)), size) && size > 0
             ? static_cast<uint32_t>(size)
             : 0;
}

bool TCustomNetInstallLocation::ReadChunk(w::HINTERNET File, char* Buffer, uint32_t& Got) {
  Got = 0;
  if (!api_.InternetReadFile(File, Buffer, kChunkSize, &Got)) {
    Fail<ENIL_ReadFile>(plat::Format("Could not read from file %s on the server", {remoteFile_}));
  }
  return Got > 0;
}

void TCustomNetInstallLocation::Download(const std::string& RemoteFile,
                                         const std::string& DestFile) {
  Connect();
  remoteFile_ = RemoteFile;
  destFile_ = DestFile;
  if (OnBeforeDownload) OnBeforeDownload(this);
  const TLoginInformation& login = *loginInformation_;
  const bool ftp = login.Protocol() == ipFTP;
  if (ftp) {
    file_ = api_.FtpOpenFile(connection_, RemoteFile.c_str(), w::GENERIC_READ,
                             w::FTP_TRANSFER_TYPE_BINARY, 0x80000000u);
    if (file_ == nullptr) {
      Fail<ENIL_FTPOpenFile>(plat::Format("Cannot open file %s on server", {RemoteFile}));
    }
  } else {
    std::string path = login.Directory();
    if (path.empty() || path.back() != '\\') path += '\\';
    std::string object = UrlForm(path + RemoteFile);
    // "pub/" + "\" would give an empty path segment, which servers refuse.
    object.erase(std::unique(object.begin(), object.end(),
                             [](char a, char b) { return a == '/' && b == '/'; }),
                 object.end());
    file_ = api_.HttpOpenRequest(connection_, "GET", object.c_str(), nullptr, nullptr, nullptr,
                                 0xA4000000u, 0);
    if (file_ == nullptr) {
      Fail<ENIL_HTTPOpenFile>(plat::Format("Cannot open file %s on server", {RemoteFile}));
    }
  }

  // The bytes go to a temporary file beside the destination, which takes the
  // destination's name only when the download is complete.
  std::string tempFile;
  bool aborted = false;
  auto closeFile = [this]() {
    const bool closed = api_.InternetCloseHandle(file_);
    file_ = nullptr;
    return closed;
  };
  {
    const auto cleanUp = plat::OnScopeFailure([&] {
      closeFile();
      if (!tempFile.empty()) w::DeleteFile(tempFile);
    });
    if (!ftp) {
      // The header text goes out as it has always been stored: its "\r\n"
      // are backslashes and letters, which servers take as part of the value.
      static const char kAccept[] = "Accept: */*\\r\\n\\r\\n";
      if (!api_.HttpSendRequest(file_, kAccept, sizeof kAccept - 1, nullptr, 0)) {
        Fail<ENIL_HTTPSendRequest>(
            plat::Format("Cannot send request for file %s to the server", {RemoteFile}));
      }
    }
    const uint32_t total = TotalSize(file_);
    const std::string destDir = w::ExtractWinFileDir(DestFile);
    plat::TOSFile out;
    if (w::GetTempFileName(destDir, "dl", 0, tempFile) == 0 || !out.Create(w::HostPath(tempFile))) {
      tempFile.clear();
      throw ENIL_WriteDestFile(
          plat::Format("%s could not write to the local dest file %s", {Name(), DestFile}));
    }
    std::vector<char> buffer(kChunkSize);
    uint32_t got = 0;
    ReadChunk(file_, buffer.data(), got);
    if (!ftp && got > 0) {
      // An error page is not the file: by the server's status, or, only where
      // it gives none, by "404" near the start of the answer (a file may
      // well hold those bytes there).
      uint32_t status = 0;
      uint32_t length = sizeof status;
      const bool known = api_.HttpQueryInfo(
          file_, w::HTTP_QUERY_STATUS_CODE | w::HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr);
      const std::string head = plat::UpperCase(std::string(buffer.data(), std::min(got, 30u)));
      if (known ? (status < 200 || status > 299) : head.find("404") != std::string::npos) {
        Fail<ENIL_FileNotFound>(
            plat::Format("Could not find the file %s on the server", {RemoteFile}));
      }
    }
    int64_t position = 0;
    bool any = got > 0;
    while (got > 0) {
      position += got;
      const auto size = static_cast<int32_t>(total);
      const auto at = static_cast<int32_t>(std::min<int64_t>(position, INT32_MAX));
      const auto chunk = static_cast<int32_t>(got);
      if (OnProgress) OnProgress(this, this, buffer.data(), size, at, chunk);
      if (OnDownloadStatus) OnDownloadStatus(this, this, buffer.data(), size, at, chunk);
      if (DownloadAbort()) {
        aborted = true;
        break;
      }
      if (out.WriteAt(position - got, buffer.data(), got) != static_cast<int64_t>(got)) {
        throw ENIL_WriteDestFile(
            plat::Format("%s could not write to the local dest file %s", {Name(), DestFile}));
      }
      ReadChunk(file_, buffer.data(), got);
    }
    if (!any) {
      Fail<ENIL_FileNotFound>(
          plat::Format("Could not find the file %s on the server", {RemoteFile}));
    }
    out.Close();
  }
  if (!closeFile()) {
    w::DeleteFile(tempFile);
    Fail<ENIL_FTPCloseFile>(plat::Format("Cannot close the file %s on the server", {RemoteFile}));
  }
  if (aborted) {
    w::DeleteFile(tempFile);
  } else if (!w::MoveFileEx(tempFile, DestFile, w::MOVEFILE_REPLACE_EXISTING)) {
    w::DeleteFile(tempFile);
    throw ENIL_WriteDestFile(
        plat::Format("%s could not write to the local dest file %s", {Name(), DestFile}));
  }
  if (OnAfterDownload) OnAfterDownload(this, aborted);
}

}  // namespace setup
