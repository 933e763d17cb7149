#pragma once
// Network install locations: an FTP or HTTP server from which the install
// fetches an archive before extracting it. The location loads the system's
// internet library at run time by name, connects with its login information
// and downloads one file at a time in chunks of 8192 bytes, reporting each.
//
// A download is written to a temporary file beside the destination and takes
// the destination's name only once it is complete: a failed or aborted
// download leaves no file that could be taken for the local copy.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Components.h"
#include "platform/win/WinInet.h"
#include "platform/win/WinLibraries.h"
#include "setup/library/exceptions_Quillane.h"

namespace setup {

enum TInternetProtocol : uint8_t { ipFTP, ipHTTP };

// Failures of a download. Their messages carry the internet library's error
// name, the current host and the server's last response.
PLAT_DECLARE_EXCEPTION(ENIL, Exception);
PLAT_DECLARE_EXCEPTION(ENIL_OpenSession, ENIL);
PLAT_DECLARE_EXCEPTION(ENIL_OpenService, ENIL);
PLAT_DECLARE_EXCEPTION(ENIL_FailDataQuery, ENIL);
PLAT_DECLARE_EXCEPTION(ENIL_ReadFile, ENIL);
PLAT_DECLARE_EXCEPTION(ENIL_FileNotFound, ENIL);
PLAT_DECLARE_EXCEPTION(ENIL_FTP, ENIL);
PLAT_DECLARE_EXCEPTION(ENIL_FTPSetDir, ENIL_FTP);
PLAT_DECLARE_EXCEPTION(ENIL_FTPOpenFile, ENIL_FTP);
PLAT_DECLARE_EXCEPTION(ENIL_FTPCloseFile, ENIL_FTP);
PLAT_DECLARE_EXCEPTION(ENIL_HTTP, ENIL);
PLAT_DECLARE_EXCEPTION(ENIL_HTTPOpenFile, ENIL_HTTP);
PLAT_DECLARE_EXCEPTION(ENIL_HTTPSendRequest, ENIL_HTTP);
// These carry their text alone.
PLAT_DECLARE_EXCEPTION(ENIL_WriteDestFile, Exception);
PLAT_DECLARE_EXCEPTION(ENIL_FailLoadWININET, Exception);
PLAT_DECLARE_EXCEPTION(ENIL_FailLoadDLLProc, Exception);
PLAT_DECLARE_EXCEPTION(IENetList, IException);

// The name of an internet library error code ("ERROR_INTERNET_TIMEOUT"), or
// "Unregistered error code".
std::string WinInetErrorName(uint32_t Code);

class TCustomNetInstallLocation;

// Where and how to log in.
class TCustomLoginInformation : public plat::TPersistent {
 public:
  explicit TCustomLoginInformation(TCustomNetInstallLocation* Location) : location_(Location) {}
  std::string ClassName() const override { return "TCustomLoginInformation"; }
  // Copies the six login properties.
  void Assign(const plat::TPersistent* Source) override;

  TCustomNetInstallLocation* Location() const { return location_; }
  bool Anonymous() const { return anonymous_; }
  void SetAnonymous(bool Value) { anonymous_ = Value; }
  const std::string& Directory() const { return directory_; }
  void SetDirectory(const std::string& Value) { directory_ = Value; }
  const std::string& Hostname() const { return hostname_; }
  void SetHostname(const std::string& Value) { hostname_ = Value; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& Value) { password_ = Value; }
  const std::string& Username() const { return username_; }
  void SetUsername(const std::string& Value) { username_ = Value; }
  TInternetProtocol Protocol() const { return protocol_; }
  void SetProtocol(TInternetProtocol Value) { protocol_ = Value; }

 private:
  TCustomNetInstallLocation* location_;
  bool anonymous_ = true;
  std::string directory_;
  std::string hostname_;
  std::string password_;
  std::string username_;
  TInternetProtocol protocol_ = ipHTTP;
};

class TLoginInformation : public TCustomLoginInformation {
 public:
  using TCustomLoginInformation::TCustomLoginInformation;
  std::string ClassName() const override { return "TLoginInformation"; }
  const plat::TPropList& PublishedProperties() const override;
};

// Progress of a download: the chunk just received (Buffer, ChunkSize bytes),
// the file's total size as the server told it (0 when unknown) and the bytes
// received so far.
using TNetProgressEvent =
    std::function<void(plat::TObject* Sender, TCustomNetInstallLocation* Location,
                       const char* Buffer, int32_t Size, int32_t Position, int32_t ChunkSize)>;
using TNetAfterDownloadEvent = std::function<void(plat::TObject* Sender, bool Aborted)>;

// Invariants: every location is in the global list from its construction to
// its destruction; handles_ hold open internet handles only, closed by
// Disconnect, by the download that opened a file, and on destruction.
class TCustomNetInstallLocation : public plat::TComponent {
 public:
  explicit TCustomNetInstallLocation(plat::TComponent* AOwner);
  ~TCustomNetInstallLocation() override;
  std::string ClassName() const override { return "TCustomNetInstallLocation"; }

  // Copies the login information of another location.
  void Assign(const plat::TPersistent* Source) override;

  void LoadWinInet();
  void Connect();
  void Disconnect();
  void Download(const std::string& RemoteFile, const std::string& DestFile);
  bool IsValid(const TCustomLoginInformation& LoginInformation) const;

  TLoginInformation& LoginInformation() { return *loginInformation_; }
  const TLoginInformation& LoginInformation() const { return *loginInformation_; }
  bool WinInetLoaded() const { return loaded_; }
  const std::string& RemoteFile() const { return remoteFile_; }
  const std::string& DestFile() const { return destFile_; }

  plat::TNotifyEvent OnBeforeConnect;
  plat::TNotifyEvent OnAfterConnect;
  plat::TNotifyEvent OnBeforeDownload;
  TNetAfterDownloadEvent OnAfterDownload;
  TNetProgressEvent OnProgress;
  TNetProgressEvent OnDownloadStatus;

 private:
  struct TEntryPoints {
    plat::win::TInternetGetLastResponseInfoA InternetGetLastResponseInfo = nullptr;
    plat::win::TInternetOpenA InternetOpen = nullptr;
    plat::win::TInternetConnectA InternetConnect = nullptr;
    plat::win::TFtpSetCurrentDirectoryA FtpSetCurrentDirectory = nullptr;
    plat::win::TInternetCloseHandle InternetCloseHandle = nullptr;
    plat::win::TInternetQueryDataAvailable InternetQueryDataAvailable = nullptr;
    plat::win::TInternetReadFile InternetReadFile = nullptr;
    plat::win::TFtpOpenFileA FtpOpenFile = nullptr;
    plat::win::THttpOpenRequestA HttpOpenRequest = nullptr;
    plat::win::THttpSendRequestA HttpSendRequest = nullptr;
    plat::win::THttpQueryInfoA HttpQueryInfo = nullptr;
  };

  // Raises E with the text and the error name, host and server response.
  template <typename E>
  [[noreturn]] void Fail(const std::string& Text) const;
  std::string LastResponse() const;
  uint32_t TotalSize(plat::win::HINTERNET File);
  bool ReadChunk(plat::win::HINTERNET File, char* Buffer, uint32_t& Got);
  void FreeWinInet();

  plat::win::HMODULE library_ = nullptr;
  bool loaded_ = false;
  TEntryPoints api_;
  plat::win::HINTERNET internet_ = nullptr;
  plat::win::HINTERNET connection_ = nullptr;
  plat::win::HINTERNET file_ = nullptr;
  std::string connectedTo_;   // the login the connection was made with
  std::string directorySet_;  // the FTP directory set on the connection
  std::string remoteFile_;
  std::string destFile_;
  std::unique_ptr<TLoginInformation> loginInformation_;
};

// The global list of locations, each entered on creation.
class TNetLocationList {
 public:
  // Raises IENetList "Cannot add a blank location to the global net location
  // list" for nullptr.
  void Add(TCustomNetInstallLocation* Location);
  void Remove(TCustomNetInstallLocation* Location);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TCustomNetInstallLocation* Items(int32_t Index) const {
    return items_.at(static_cast<size_t>(Index));
  }

 private:
  std::vector<TCustomNetInstallLocation*> items_;
};

TNetLocationList& NetLocationList();
// The location that last started connecting (nullptr when none or freed).
TCustomNetInstallLocation* CurrentNetLocation();

// The installation's download-abort flag: set, it stops a running download
// after its current chunk.
bool DownloadAbort();
void SetDownloadAbort(bool Value);

}  // namespace setup
