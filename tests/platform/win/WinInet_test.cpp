#include "platform/win/WinInet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/win/LoopbackServers.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinInetSocket.h"
#include "platform/win/WinLibraries.h"
#include "platform/win/WinTestRoot.h"

namespace plat::win {
namespace {

// Closes an internet handle when the test leaves the scope.
class THandle {
 public:
  explicit THandle(HINTERNET h = nullptr) : h_(h) {}
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  ~THandle() {
    if (h_ != nullptr) InternetCloseHandle(h_);
  }
  HINTERNET Get() const { return h_; }

 private:
  HINTERNET h_;
};

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  return s;
}

// Reads a file handle to its end in chunks of 8192 bytes.
bool ReadAll(HINTERNET file, std::string& content) {
  char buffer[8192];
  for (;;) {
    uint32_t got = 0;
    if (!InternetReadFile(file, buffer, sizeof buffer, &got)) return false;
    if (got == 0) return true;
    content.append(buffer, got);
  }
}

std::string LastResponse() {
  char buffer[3000];
  uint32_t length = sizeof buffer;
  uint32_t error = 0;
  return InternetGetLastResponseInfoA(&error, buffer, &length) ? std::string(buffer, length) : "";
}

class WinInetLibraryTest : public wintest::WinRootTest {};

TEST_F(WinInetLibraryTest, LoadsByNameAndResolvesTheElevenEntryPoints) {
  HMODULE module = LoadLibrary("WININET.DLL");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(LoadLibrary("C:\\WINDOWS\\system32\\wininet"), module);
  for (const char* name : {"InternetGetLastResponseInfoA", "InternetOpenA", "InternetConnectA",
                           "FtpSetCurrentDirectoryA", "InternetCloseHandle",
                           "InternetQueryDataAvailable", "InternetReadFile", "FtpOpenFileA",
                           "HttpOpenRequestA", "HttpSendRequestA", "HttpQueryInfoA"}) {
    EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
  }
  EXPECT_EQ(reinterpret_cast<TInternetOpenA>(GetProcAddress(module, "InternetOpenA")),
            &InternetOpenA);
  EXPECT_EQ(GetProcAddress(module, "InternetOpen"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(LoadLibrary("NOSUCH.DLL"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(WinInetLibraryTest, AMachineCanLackTheLibraryOrOneEntryPoint) {
  SetLibraryProcAvailable("wininet.dll", "HttpQueryInfoA", false);
  HMODULE module = LoadLibrary("WININET.DLL");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(GetProcAddress(module, "HttpQueryInfoA"), nullptr);
  EXPECT_NE(GetProcAddress(module, "HttpSendRequestA"), nullptr);
  SetLibraryAvailable("WININET", false);
  EXPECT_EQ(LoadLibrary("WININET.DLL"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  SetLibraryAvailable("WININET", true);
  EXPECT_NE(LoadLibrary("WININET.DLL"), nullptr);
}

TEST(WinInetHostPort, SplitsNamesAndPorts) {
  struct Case {
    const char* server;
    bool ok;
    const char* host;
    uint16_t port;
  };
  const Case cases[] = {
      {"example.test", true, "example.test", 0},
      {"127.0.0.1:8080", true, "127.0.0.1", 8080},
      {"[::1]:21", true, "::1", 21},
      {"::1", true, "::1", 0},
      {"[::1]", true, "::1", 0},
      {"host:", false, "", 0},
      {"host:70000", false, "", 0},
      {"host:12a", false, "", 0},
      {":80", false, "", 0},
      {"", false, "", 0},
  };
  for (const Case& c : cases) {
    std::string host;
    uint16_t port = 99;
    EXPECT_EQ(SplitHostPort(c.server, host, port), c.ok) << c.server;
    if (c.ok) {
      EXPECT_EQ(host, c.host) << c.server;
      EXPECT_EQ(port, c.port) << c.server;
    }
  }
}

class WinInetHttpTest : public ::testing::Test {
 protected:
  // Opens a session and a connection to server; then a GET request for path.
  void Connect(const std::string& server) {
    session_ = std::make_unique<THandle>(InternetOpenA("Tester", 0, nullptr, nullptr, 0));
    ASSERT_NE(session_->Get(), nullptr);
    connection_ = std::make_unique<THandle>(
        InternetConnectA(session_->Get(), server.c_str(), 0, "", "", INTERNET_SERVICE_HTTP, 0, 0));
    ASSERT_NE(connection_->Get(), nullptr);
  }
  HINTERNET Request(const char* path) {
    return HttpOpenRequestA(connection_->Get(), "GET", path, nullptr, nullptr, nullptr, 0xA4000000u,
                            0);
  }

  std::unique_ptr<THandle> session_;
  std::unique_ptr<THandle> connection_;
};

TEST_F(WinInetHttpTest, GetsAFileWithItsLengthAndSendsTheRequestAsGiven) {
  const std::string body = Pattern(20000);
  loopback::THttpServer server({{"/pub/setup/files.1", {200, "OK", body}}});
  Connect(server.HostName());
  THandle request(Request("pub/setup/files.1"));
  ASSERT_NE(request.Get(), nullptr);
  const char kHeaders[] = "Accept: */*\\r\\n\\r\\n";
  ASSERT_EQ(sizeof kHeaders - 1, 19u);
  ASSERT_TRUE(HttpSendRequestA(request.Get(), kHeaders, 19, nullptr, 0));

  char text[33];
  uint32_t length = sizeof text;
  ASSERT_TRUE(HttpQueryInfoA(request.Get(), HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr));
  EXPECT_EQ(std::string(text, length), "20000");
  uint32_t number = 0;
  length = sizeof number;
  ASSERT_TRUE(HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                             &number, &length, nullptr));
  EXPECT_EQ(number, 200u);
  uint32_t available = 0;
  ASSERT_TRUE(InternetQueryDataAvailable(request.Get(), &available, 0, 0));
  EXPECT_EQ(available, 20000u);

  std::string content;
  ASSERT_TRUE(ReadAll(request.Get(), content));
  EXPECT_EQ(content, body);
  EXPECT_EQ(LastResponse(), "HTTP/1.0 200 OK");

  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "GET /pub/setup/files.1 HTTP/1.0");
  EXPECT_NE(requests[0].find("\r\nHost: " + server.HostName() + "\r\n"), std::string::npos);
  EXPECT_NE(requests[0].find("\r\nUser-Agent: Tester\r\n"), std::string::npos);
  EXPECT_NE(requests[0].find("\r\nAccept: */*\\r\\n\\r\\n"), std::string::npos);
}

TEST_F(WinInetHttpTest, BodiesWithoutLengthErrorPagesAndCutTransfers) {
  const std::string body = Pattern(30000);
  loopback::THttpServer server({
      {"/nolength", {200, "OK", body, false}},
      {"/cut", {200, "OK", body, true, 12000}},
      {"/empty", {200, "OK", ""}},
  });
  Connect(server.HostName());

  {  // No length: the header is missing and the body runs to the end.
    THandle request(Request("/nolength"));
    ASSERT_TRUE(HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0));
    char text[33];
    uint32_t length = sizeof text;
    EXPECT_FALSE(HttpQueryInfoA(request.Get(), HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
    uint32_t available = 0;
    ASSERT_TRUE(InternetQueryDataAvailable(request.Get(), &available, 0, 0));
    EXPECT_GT(available, 0u);
    std::string content;
    ASSERT_TRUE(ReadAll(request.Get(), content));
    EXPECT_EQ(content, body);
  }
  {  // A missing file: the request succeeds, the status tells.
    THandle request(Request("/missing"));
    ASSERT_TRUE(HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0));
    char text[8];
    uint32_t length = sizeof text;
    ASSERT_TRUE(HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE, text, &length, nullptr));
    EXPECT_EQ(std::string(text, length), "404");
    EXPECT_EQ(LastResponse(), "HTTP/1.0 404 Not Found");
    std::string content;
    ASSERT_TRUE(ReadAll(request.Get(), content));
    EXPECT_NE(content.find("404"), std::string::npos);
  }
  {  // Cut before its announced length: an error, not a short file.
    THandle request(Request("/cut"));
    ASSERT_TRUE(HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0));
    std::string content;
    EXPECT_FALSE(ReadAll(request.Get(), content));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);
    EXPECT_LT(content.size(), body.size());
    uint32_t got = 1;
    char byte;
    EXPECT_FALSE(InternetReadFile(request.Get(), &byte, 1, &got));
    EXPECT_EQ(got, 0u);
  }
  {  // Empty: the first read ends at once.
    THandle request(Request("/empty"));
    ASSERT_TRUE(HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0));
    uint32_t available = 7;
    ASSERT_TRUE(InternetQueryDataAvailable(request.Get(), &available, 0, 0));
    EXPECT_EQ(available, 0u);
    std::string content;
    ASSERT_TRUE(ReadAll(request.Get(), content));
    EXPECT_TRUE(content.empty());
  }
}

TEST_F(WinInetHttpTest, FailuresAndMisuseSetTheLastError) {
  Connect("127.0.0.1:" + std::to_string(loopback::ClosedPort()));
  THandle request(Request("/x"));
  ASSERT_NE(request.Get(), nullptr);
  char text[33];
  uint32_t length = sizeof text;
  EXPECT_FALSE(HttpQueryInfoA(request.Get(), HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  EXPECT_FALSE(HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_CANNOT_CONNECT);

  // Wrong kinds of handle, and handles that are not (or no longer) open.
  EXPECT_EQ(HttpOpenRequestA(session_->Get(), "GET", "/", nullptr, nullptr, nullptr, 0, 0),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  EXPECT_FALSE(FtpSetCurrentDirectoryA(connection_->Get(), "/pub"));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  HINTERNET closed = InternetOpenA("x", 0, nullptr, nullptr, 0);
  ASSERT_TRUE(InternetCloseHandle(closed));
  EXPECT_FALSE(InternetCloseHandle(closed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  uint32_t got = 0;
  EXPECT_FALSE(InternetReadFile(reinterpret_cast<HINTERNET>(0x12345), text, 1, &got));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(InternetConnectA(session_->Get(), "host\r\nX: y", 0, nullptr, nullptr,
                             INTERNET_SERVICE_HTTP, 0, 0),
            nullptr);
}

TEST_F(WinInetHttpTest, AnswersThatDoNotFitTheBufferGiveTheSizeNeeded) {
  loopback::THttpServer server({{"/f", {200, "OK", "abc"}}});
  Connect(server.HostName());
  THandle request(Request("/f"));
  ASSERT_TRUE(HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0));
  char small[1];
  uint32_t length = sizeof small;
  EXPECT_FALSE(HttpQueryInfoA(request.Get(), HTTP_QUERY_CONTENT_LENGTH, small, &length, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(length, 2u);
  uint32_t error = 0;
  length = 4;
  char response[4];
  EXPECT_FALSE(InternetGetLastResponseInfoA(&error, response, &length));
  EXPECT_EQ(length, std::string("HTTP/1.0 200 OK").size() + 1);
}

class WinInetFtpTest : public ::testing::Test {
 protected:
  void Connect(const std::string& server, const char* user = nullptr,
               const char* password = nullptr) {
    session_ = std::make_unique<THandle>(InternetOpenA("Tester", 0, nullptr, nullptr, 0));
    connection_ = std::make_unique<THandle>(InternetConnectA(
        session_->Get(), server.c_str(), 0, user, password, INTERNET_SERVICE_FTP, 0, 0));
  }
  HINTERNET Open(const char* name) {
    return FtpOpenFileA(connection_->Get(), name, GENERIC_READ, FTP_TRANSFER_TYPE_BINARY,
                        0x80000000u);
  }

  std::unique_ptr<THandle> session_;
  std::unique_ptr<THandle> connection_;
};

TEST_F(WinInetFtpTest, LogsInSetsTheDirectoryAndFetchesInPassiveMode) {
  const std::string content = Pattern(50000);
  loopback::TFtpServer server({{"/pub/setup/files.1", {content}}});
  Connect(server.HostName());
  ASSERT_NE(connection_->Get(), nullptr);
  ASSERT_TRUE(FtpSetCurrentDirectoryA(connection_->Get(), "pub/setup"));
  THandle file(Open("files.1"));
  ASSERT_NE(file.Get(), nullptr);
  uint32_t available = 0;
  ASSERT_TRUE(InternetQueryDataAvailable(file.Get(), &available, 0, 0));
  EXPECT_EQ(available, 50000u);
  std::string received;
  ASSERT_TRUE(ReadAll(file.Get(), received));
  EXPECT_EQ(received, content);
  EXPECT_EQ(LastResponse(), "226 Transfer complete");

  const std::vector<std::string> commands = server.Commands();
  const std::vector<std::string> expected = {
      "USER anonymous", "PASS anonymous@", "CWD pub/setup", "PWD",
      "TYPE I",         "SIZE files.1",    "PASV",          "RETR files.1"};
  ASSERT_GE(commands.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 8), expected);
}

TEST_F(WinInetFtpTest, ServerRefusalsKeepTheServersReply) {
  loopback::TFtpServer server({{"/pub/a.bin", {"abc"}}}, "kit", "secret");
  Connect(server.HostName(), "kit", "wrong");
  EXPECT_EQ(connection_->Get(), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_LOGIN_FAILURE);
  EXPECT_EQ(LastResponse(), "530 Login incorrect.");

  Connect(server.HostName(), "kit", "secret");
  ASSERT_NE(connection_->Get(), nullptr);
  EXPECT_FALSE(FtpSetCurrentDirectoryA(connection_->Get(), "/nowhere"));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_EQ(LastResponse(), "550 /nowhere: No such directory");
  EXPECT_EQ(Open("missing.bin"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_EQ(LastResponse(), "550 missing.bin: No such file");
  // The connection is still good for the next file.
  THandle file(Open("/pub/a.bin"));
  ASSERT_NE(file.Get(), nullptr);
  std::string received;
  ASSERT_TRUE(ReadAll(file.Get(), received));
  EXPECT_EQ(received, "abc");
}

TEST_F(WinInetFtpTest, ACutTransferFailsAndAnInterruptedOneLeavesTheConnectionUsable) {
  const std::string content = Pattern(100000);
  loopback::TFtpServer server({{"/cut.bin", {content, 30000}},
                               {"/big.bin", {content}},
                               {"/nosize.bin", {"xyz", std::string::npos, false}}});
  Connect(server.HostName());
  ASSERT_NE(connection_->Get(), nullptr);
  {
    THandle file(Open("cut.bin"));
    ASSERT_NE(file.Get(), nullptr);
    std::string received;
    EXPECT_FALSE(ReadAll(file.Get(), received));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_EQ(LastResponse().substr(0, 3), "426");
  }
  {  // Stopped after one chunk by the reader.
    THandle file(Open("big.bin"));
    ASSERT_NE(file.Get(), nullptr);
    char buffer[8192];
    uint32_t got = 0;
    ASSERT_TRUE(InternetReadFile(file.Get(), buffer, sizeof buffer, &got));
    EXPECT_EQ(got, sizeof buffer);
    EXPECT_EQ(Open("nosize.bin"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FTP_TRANSFER_IN_PROGRESS);
  }
  THandle file(Open("nosize.bin"));
  ASSERT_NE(file.Get(), nullptr);
  uint32_t available = 0;
  ASSERT_TRUE(InternetQueryDataAvailable(file.Get(), &available, 0, 0));
  EXPECT_GE(available, 1u);
  EXPECT_LE(available, 3u);
  std::string received;
  ASSERT_TRUE(ReadAll(file.Get(), received));
  EXPECT_EQ(received, "xyz");
}

TEST_F(WinInetFtpTest, AFailedDataConnectionLeavesNoReplyForTheNextCommand) {
  const std::string content = Pattern(60000);
  loopback::TFtpServer server(
      {{"/reset.bin", {content, 20000, true, true}}, {"/ok.bin", {content}}});
  Connect(server.HostName());
  ASSERT_NE(connection_->Get(), nullptr);
  {
    THandle file(Open("reset.bin"));
    ASSERT_NE(file.Get(), nullptr);
    std::string received;
    EXPECT_FALSE(ReadAll(file.Get(), received));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_CONNECTION_RESET);
    // The reply of this transfer so far, not one of another.
    EXPECT_EQ(LastResponse().substr(0, 4), "150 ");
  }
  // The "426" the server sends on the cut transfer is not the answer to the
  // next file's commands.
  THandle file(Open("ok.bin"));
  ASSERT_NE(file.Get(), nullptr) << LastResponse();
  std::string received;
  ASSERT_TRUE(ReadAll(file.Get(), received));
  EXPECT_EQ(received, content);
  EXPECT_EQ(LastResponse(), "226 Transfer complete");
  const std::vector<std::string> commands = server.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "USER anonymous"), 2);
}

TEST_F(WinInetFtpTest, AFailureWithoutAnAnswerShowsNoEarlierReply) {
  auto server = std::make_unique<loopback::TFtpServer>(
      std::map<std::string, loopback::TFtpFile>{{"/a.bin", {"abc"}}});
  Connect(server->HostName());
  ASSERT_NE(connection_->Get(), nullptr);
  for (int i = 0; i < 2; ++i) {
    THandle file(Open("a.bin"));
    std::string received;
    ASSERT_TRUE(ReadAll(file.Get(), received));
    EXPECT_EQ(LastResponse(), "226 Transfer complete");
  }
  {  // Refused before a word with the server.
    THandle file(Open("a.bin"));
    EXPECT_EQ(Open("a.bin"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FTP_TRANSFER_IN_PROGRESS);
    EXPECT_EQ(LastResponse(), "");
    EXPECT_FALSE(FtpSetCurrentDirectoryA(connection_->Get(), "/"));
    EXPECT_EQ(LastResponse(), "");
  }
  // The server goes away: the next file meets a closed connection.
  server.reset();
  EXPECT_EQ(Open("a.bin"), nullptr);
  EXPECT_NE(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(LastResponse(), "");
}

TEST_F(WinInetFtpTest, NoServerMeansNoConnection) {
  Connect("127.0.0.1:" + std::to_string(loopback::ClosedPort()));
  EXPECT_EQ(connection_->Get(), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
}

}  // namespace
}  // namespace plat::win
