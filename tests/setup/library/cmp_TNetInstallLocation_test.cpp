#include "setup/library/cmp_TNetInstallLocation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/win/LoopbackServers.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinLibraries.h"
#include "platform/win/WinTestRoot.h"

namespace setup {
namespace {

namespace w = plat::win;

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 37 + i / 11) & 0xFF);
  return s;
}

class NetLocationTest : public wintest::WinRootTest {
 protected:
  void SetUp() override {
    wintest::WinRootTest::SetUp();
    SetDownloadAbort(false);
    location_ = std::make_unique<TCustomNetInstallLocation>(nullptr);
    location_->SetName("KitLocation");
    ASSERT_TRUE(w::CreateDirectory("C:\\Down"));
  }
  void TearDown() override {
    location_.reset();
    SetDownloadAbort(false);
    wintest::WinRootTest::TearDown();
  }

  void Use(TInternetProtocol protocol, const std::string& host, const std::string& directory) {
    location_->LoginInformation().SetProtocol(protocol);
    location_->LoginInformation().SetHostname(host);
    location_->LoginInformation().SetDirectory(directory);
  }

  // The error a download raises, as "ClassName: message".
  std::string DownloadError(const std::string& remote, const std::string& dest) {
    try {
      location_->Download(remote, dest);
    } catch (const plat::Exception& e) {
      return e.ClassName() + ": " + e.Message();
    }
    return "no error";
  }

  // The names in C:\Down, to see that nothing was left behind.
  static std::vector<std::string> DownFolder() {
    std::vector<std::string> names;
    for (const w::TWinFindData& f : w::FindFiles("C:\\Down\\*.*")) names.push_back(f.Name);
    std::sort(names.begin(), names.end());
    return names;
  }

  std::unique_ptr<TCustomNetInstallLocation> location_;
};

TEST_F(NetLocationTest, DownloadsOverHttpInChunksWithEveryEvent) {
  const std::string body = Pattern(20000);
  loopback::THttpServer server({{"/pub/setup/files.1", {200, "OK", body}}});
  Use(ipHTTP, server.HostName(), "pub\\setup");
  std::vector<std::string> events;
  location_->OnBeforeConnect = [&](plat::TObject*) { events.push_back("before connect"); };
  location_->OnAfterConnect = [&](plat::TObject*) { events.push_back("after connect"); };
  location_->OnBeforeDownload = [&](plat::TObject*) { events.push_back("before download"); };
  location_->OnAfterDownload = [&](plat::TObject*, bool aborted) {
    events.push_back(aborted ? "after download, aborted" : "after download");
  };
  std::string seen;
  location_->OnProgress = [&](plat::TObject*, TCustomNetInstallLocation* loc, const char* buffer,
                              int32_t size, int32_t position, int32_t chunk) {
    EXPECT_EQ(loc, location_.get());
    seen.append(buffer, static_cast<size_t>(chunk));
    events.push_back("progress " + std::to_string(size) + " " + std::to_string(position) + " " +
                     std::to_string(chunk));
  };
  location_->OnDownloadStatus = [&](plat::TObject*, TCustomNetInstallLocation*, const char*,
                                    int32_t, int32_t position, int32_t) {
    events.push_back("status " + std::to_string(position));
  };
  location_->Download("files.1", "C:\\Down\\files.1");

  EXPECT_EQ(ReadFile("C:\\Down\\files.1"), body);
  EXPECT_EQ(seen, body);
  const std::vector<std::string> expected = {"before connect",  "after connect",
                                             "before download", "progress 20000 8192 8192",
                                             "status 8192",     "progress 20000 16384 8192",
                                             "status 16384",    "progress 20000 20000 3616",
                                             "status 20000",    "after download"};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(CurrentNetLocation(), location_.get());
  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "GET /pub/setup/files.1 HTTP/1.0");
  EXPECT_EQ(DownFolder(), std::vector<std::string>{"files.1"});
}

TEST_F(NetLocationTest, HttpAnswersWithoutLengthErrorPagesEmptyAndCutFiles) {
  const std::string body = Pattern(30000);
  loopback::THttpServer server({
      {"/nolength.bin", {200, "OK", body, false}},
      {"/soft404.bin", {200, "OK", "<html><h1>Error 404: gone</h1></html>"}},
      {"/empty.bin", {200, "OK", ""}},
      {"/cut.bin", {200, "OK", body, true, 10000}},
  });
  Use(ipHTTP, server.HostName(), "");
  const std::string host = server.HostName();

  int32_t reportedSize = -1;
  location_->OnProgress = [&](plat::TObject*, TCustomNetInstallLocation*, const char*, int32_t size,
                              int32_t, int32_t) { reportedSize = size; };
  location_->Download("nolength.bin", "C:\\Down\\nolength.bin");
  EXPECT_EQ(ReadFile("C:\\Down\\nolength.bin"), body);
  EXPECT_EQ(reportedSize, 0);
  // A success reply is the file, even when its head holds "404".
  location_->Download("soft404.bin", "C:\\Down\\soft404.bin");
  EXPECT_EQ(ReadFile("C:\\Down\\soft404.bin"), "<html><h1>Error 404: gone</h1></html>");

  // An old copy at the destination outlives every failed download.
  WriteFile("C:\\Down\\old.bin", "old copy");
  struct Case {
    const char* remote;
    std::string error;
  };
  const Case cases[] = {
      {"missing.bin",
       "ENIL_FileNotFound: Could not find the file missing.bin on the server. Error message "
       "Unregistered error code. Server " +
           host + ". Response from server HTTP/1.0 404 Not Found"},
      {"empty.bin",
       "ENIL_FileNotFound: Could not find the file empty.bin on the server. Error message "
       "Unregistered error code. Server " +
           host + ". Response from server HTTP/1.0 200 OK"},
      {"cut.bin",
       "ENIL_ReadFile: Could not read from file cut.bin on the server. Error message "
       "ERROR_INTERNET_CONNECTION_ABORTED. Server " +
           host + ". Response from server HTTP/1.0 200 OK"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DownloadError(c.remote, "C:\\Down\\old.bin"), c.error) << c.remote;
    EXPECT_EQ(ReadFile("C:\\Down\\old.bin"), "old copy") << c.remote;
  }
  EXPECT_EQ(DownFolder(), (std::vector<std::string>{"nolength.bin", "old.bin", "soft404.bin"}));
}

TEST_F(NetLocationTest, AnAbortStopsAfterTheCurrentChunkAndKeepsNoPartialFile) {
  loopback::THttpServer server({{"/big.bin", {200, "OK", Pattern(100000)}}});
  Use(ipHTTP, server.HostName(), "/");
  int chunks = 0;
  location_->OnProgress = [&](plat::TObject*, TCustomNetInstallLocation*, const char*, int32_t,
                              int32_t, int32_t) {
    ++chunks;
    SetDownloadAbort(true);
  };
  bool abortedReported = false;
  location_->OnAfterDownload = [&](plat::TObject*, bool aborted) { abortedReported = aborted; };
  location_->Download("big.bin", "C:\\Down\\big.bin");
  EXPECT_EQ(chunks, 1);
  EXPECT_TRUE(abortedReported);
  EXPECT_TRUE(DownFolder().empty());
}

TEST_F(NetLocationTest, DownloadsOverFtpIntoTheDirectoryInUrlForm) {
  const std::string content = Pattern(17000);
  loopback::TFtpServer server({{"/pub/setup/files.1", {content}}});
  Use(ipFTP, server.HostName(), "pub\\setup");
  std::vector<int32_t> sizes;
  location_->OnProgress = [&](plat::TObject*, TCustomNetInstallLocation*, const char*, int32_t size,
                              int32_t, int32_t) { sizes.push_back(size); };
  location_->Download("files.1", "C:\\Down\\files.1");
  EXPECT_EQ(ReadFile("C:\\Down\\files.1"), content);
  EXPECT_EQ(sizes, (std::vector<int32_t>{17000, 17000, 17000}));
  const std::vector<std::string> commands = server.Commands();
  ASSERT_GE(commands.size(), 3u);
  EXPECT_EQ(commands[0], "USER anonymous");
  EXPECT_EQ(commands[2], "CWD pub/setup");

  // A second download goes over the same connection, and one after an
  // aborted download too.
  location_->Download("files.1", "C:\\Down\\again.1");
  EXPECT_EQ(ReadFile("C:\\Down\\again.1"), content);
  location_->OnProgress = [&](plat::TObject*, TCustomNetInstallLocation*, const char*, int32_t,
                              int32_t, int32_t) { SetDownloadAbort(true); };
  location_->Download("files.1", "C:\\Down\\aborted.1");
  EXPECT_FALSE(w::FileExists("C:\\Down\\aborted.1"));
  SetDownloadAbort(false);
  location_->OnProgress = nullptr;
  location_->Download("files.1", "C:\\Down\\after.1");
  EXPECT_EQ(ReadFile("C:\\Down\\after.1"), content);
  EXPECT_EQ(DownFolder(), (std::vector<std::string>{"after.1", "again.1", "files.1"}));

  // Another relative directory starts from the login directory again.
  location_->LoginInformation().SetDirectory("pub");
  location_->Download("setup/files.1", "C:\\Down\\other.1");
  EXPECT_EQ(ReadFile("C:\\Down\\other.1"), content);
}

TEST_F(NetLocationTest, FtpFailuresCarryTheServersReply) {
  loopback::TFtpServer server({{"/pub/cut.bin", {Pattern(40000), 20000}}, {"/pub/empty.bin", {""}}},
                              "kit", "secret");
  const std::string host = server.HostName();
  Use(ipFTP, host, "pub");
  location_->LoginInformation().SetAnonymous(false);
  location_->LoginInformation().SetUsername("kit");
  location_->LoginInformation().SetPassword("wrong");
  EXPECT_EQ(DownloadError("cut.bin", "C:\\Down\\cut.bin"),
            "ENIL_OpenService: Cannot connect to host " + host +
                ". Error message ERROR_INTERNET_LOGIN_FAILURE. Server " + host +
                ". Response from server 530 Login incorrect.");

  location_->LoginInformation().SetPassword("secret");
  struct Case {
    const char* directory;
    const char* remote;
    std::string error;
  };
  const Case cases[] = {
      {"nowhere", "x.bin",
       "ENIL_FTPSetDir: Cannot set directory on server to nowhere. Error message "
       "ERROR_INTERNET_EXTENDED_ERROR. Server " +
           host + ". Response from server 550 nowhere: No such directory"},
      {"/pub", "nosuch.bin",
       "ENIL_FTPOpenFile: Cannot open file nosuch.bin on server. Error message "
       "ERROR_INTERNET_EXTENDED_ERROR. Server " +
           host + ". Response from server 550 nosuch.bin: No such file"},
      {"/pub", "cut.bin",
       "ENIL_ReadFile: Could not read from file cut.bin on the server. Error message "
       "ERROR_INTERNET_EXTENDED_ERROR. Server " +
           host + ". Response from server 426 Connection closed; transfer aborted"},
      {"/pub", "empty.bin",
       "ENIL_FileNotFound: Could not find the file empty.bin on the server. Error message "
       "Unregistered error code. Server " +
           host + ". Response from server 226 Transfer complete"},
  };
  for (const Case& c : cases) {
    location_->LoginInformation().SetDirectory(c.directory);
    EXPECT_EQ(DownloadError(c.remote, std::string("C:\\Down\\") + c.remote), c.error) << c.remote;
  }
  EXPECT_TRUE(DownFolder().empty());
}

TEST_F(NetLocationTest, AFailureAfterDownloadsShowsNoReplyOfThem) {
  const std::string content = Pattern(9000);
  auto server = std::make_unique<loopback::TFtpServer>(
      std::map<std::string, loopback::TFtpFile>{{"/pub/files.1", {content}}});
  const std::string host = server->HostName();
  Use(ipFTP, host, "pub");
  location_->Download("files.1", "C:\\Down\\one.1");
  location_->Download("files.1", "C:\\Down\\two.1");
  EXPECT_EQ(ReadFile("C:\\Down\\two.1"), content);

  // The server goes away between downloads: the connection kept for the next
  // one is found closed, and no server answered this download.
  server.reset();
  EXPECT_EQ(DownloadError("files.1", "C:\\Down\\three.1"),
            "ENIL_FTPOpenFile: Cannot open file files.1 on server. Error message "
            "ERROR_INTERNET_CONNECTION_ABORTED. Server " +
                host + ". Response from server ");
  // The same for another location that meets no server at all.
  TCustomNetInstallLocation other(nullptr);
  other.LoginInformation().SetProtocol(ipFTP);
  other.LoginInformation().SetHostname(host);
  try {
    other.Download("files.1", "C:\\Down\\four.1");
    FAIL();
  } catch (const ENIL_OpenService& e) {
    EXPECT_EQ(e.Message(), "Cannot connect to host " + host +
                               ". Error message ERROR_INTERNET_CANNOT_CONNECT. Server " + host +
                               ". Response from server ");
  }
  EXPECT_EQ(DownFolder(), (std::vector<std::string>{"one.1", "two.1"}));
}

TEST_F(NetLocationTest, NoServerAndNoLibraryGiveTheirOwnErrors) {
  const std::string host = "127.0.0.1:" + std::to_string(loopback::ClosedPort());
  Use(ipHTTP, host, "");
  // HTTP meets the server only when the request is sent.
  EXPECT_EQ(DownloadError("a.bin", "C:\\Down\\a.bin"),
            "ENIL_HTTPSendRequest: Cannot send request for file a.bin to the server. Error "
            "message ERROR_INTERNET_CANNOT_CONNECT. Server " +
                host + ". Response from server ");
  TCustomNetInstallLocation ftp(nullptr);
  ftp.SetName("FtpLocation");
  ftp.LoginInformation().SetProtocol(ipFTP);
  ftp.LoginInformation().SetHostname(host);
  try {
    ftp.Download("a.bin", "C:\\Down\\a.bin");
    FAIL();
  } catch (const ENIL_OpenService& e) {
    EXPECT_EQ(e.Message().substr(0, e.Message().find(". Response")),
              "Cannot connect to host " + host +
                  ". Error message ERROR_INTERNET_CANNOT_CONNECT. "
                  "Server " +
                  host);
  }

  // A destination folder that does not exist.
  loopback::THttpServer server({{"/a.bin", {200, "OK", "abc"}}});
  Use(ipHTTP, server.HostName(), "");
  EXPECT_EQ(DownloadError("a.bin", "C:\\NoFolder\\a.bin"),
            "ENIL_WriteDestFile: KitLocation could not write to the local dest file "
            "C:\\NoFolder\\a.bin");

  w::SetLibraryProcAvailable("WININET.DLL", "HttpQueryInfoA", false);
  TCustomNetInstallLocation older(nullptr);
  try {
    older.LoadWinInet();
    FAIL();
  } catch (const ENIL_FailLoadDLLProc& e) {
    EXPECT_EQ(e.Message(), "Failed to load the procedure HttpQueryInfo from WININET.DLL");
  }
  EXPECT_FALSE(older.WinInetLoaded());
  w::SetLibraryAvailable("WININET.DLL", false);
  TCustomNetInstallLocation none(nullptr);
  try {
    none.Connect();
    FAIL();
  } catch (const ENIL_FailLoadWININET& e) {
    EXPECT_EQ(e.Message(),
              "Failed to load the Wininet.dll. If this is a hybrid installation, you might want "
              "to include the WININET.DLL file in the PresetupFiles property of the TInstall "
              "component");
  }
}

TEST(NetLocation, ValidityOfLoginInformation) {
  struct Case {
    bool anonymous;
    const char* host;
    const char* user;
    const char* password;
    bool valid;
  };
  const Case cases[] = {
      {true, "server", "", "", true}, {true, "  ", "user", "pw", false},
      {false, "", "", "", false},     {false, "", "user", "", true},
      {false, "", "", "pw", true},    {false, "server", "", "", true},
  };
  TCustomNetInstallLocation location(nullptr);
  for (const Case& c : cases) {
    TLoginInformation login(&location);
    login.SetAnonymous(c.anonymous);
    login.SetHostname(c.host);
    login.SetUsername(c.user);
    login.SetPassword(c.password);
    EXPECT_EQ(location.IsValid(login), c.valid) << c.host << "/" << c.user << "/" << c.password;
  }
}

TEST(NetLocation, GlobalListCurrentLocationAndAssign) {
  const int32_t before = NetLocationList().Count();
  {
    TCustomNetInstallLocation a(nullptr);
    auto b = std::make_unique<TCustomNetInstallLocation>(nullptr);
    EXPECT_EQ(NetLocationList().Count(), before + 2);
    b->LoginInformation().SetHostname("files.example");
    b->LoginInformation().SetProtocol(ipFTP);
    b->LoginInformation().SetAnonymous(false);
    b->LoginInformation().SetUsername("u");
    b->LoginInformation().SetPassword("p");
    b->LoginInformation().SetDirectory("pub");
    a.Assign(b.get());
    EXPECT_EQ(a.LoginInformation().Hostname(), "files.example");
    EXPECT_EQ(a.LoginInformation().Protocol(), ipFTP);
    EXPECT_FALSE(a.LoginInformation().Anonymous());
    EXPECT_EQ(a.LoginInformation().Username(), "u");
    EXPECT_EQ(a.LoginInformation().Password(), "p");
    EXPECT_EQ(a.LoginInformation().Directory(), "pub");
    EXPECT_EQ(a.LoginInformation().Location(), &a);
    b.reset();
    EXPECT_EQ(NetLocationList().Count(), before + 1);
  }
  EXPECT_EQ(NetLocationList().Count(), before);
  EXPECT_EQ(CurrentNetLocation(), nullptr);
  try {
    NetLocationList().Add(nullptr);
    FAIL();
  } catch (const IENetList& e) {
    EXPECT_EQ(e.Message(), "Cannot add a blank location to the global net location list");
  }
}

TEST(NetLocation, ErrorNames) {
  EXPECT_EQ(WinInetErrorName(6), "ERROR_INVALID_HANDLE");
  EXPECT_EQ(WinInetErrorName(12002), "ERROR_INTERNET_TIMEOUT");
  EXPECT_EQ(WinInetErrorName(12029), "ERROR_INTERNET_CANNOT_CONNECT");
  EXPECT_EQ(WinInetErrorName(12150), "ERROR_HTTP_HEADER_NOT_FOUND");
  EXPECT_EQ(WinInetErrorName(0), "Unregistered error code");
  EXPECT_EQ(WinInetErrorName(12035), "Unregistered error code");
}

}  // namespace
}  // namespace setup
