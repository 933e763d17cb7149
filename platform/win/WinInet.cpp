#include "platform/win/WinInet.h"

#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/win/WinFiles.h"
#include "platform/win/WinInetSocket.h"

namespace plat::win {

namespace {

constexpr size_t kMaxLine = 8192;
constexpr int kMaxReplyLines = 256;
constexpr int kMaxHeaders = 256;

// The last response of a server, per thread as the library keeps it. It
// belongs to the call in progress: every call that opens, connects or sends
// starts without one, and a read on a file or request hands back the reply of
// its own transfer. A reply from an earlier exchange (another connection,
// another test in the same process) is never reported for a later failure.
thread_local std::string lastResponse;

enum class TInetKind : uint8_t { ikSession, ikConnection, ikFtpFile, ikHttpRequest };

struct TInetObject {
  explicit TInetObject(TInetKind kind) : Kind(kind) {}
  virtual ~TInetObject() = default;
  const TInetKind Kind;
};

struct TSession : TInetObject {
  TSession() : TInetObject(TInetKind::ikSession) {}
  std::string Agent;
};

// A connection to one server. For FTP it holds the logged-in control
// connection; Broken marks one that must be made again before its next use
// (after an interrupted transfer, whose replies would otherwise be read as
// answers to later commands).
struct TConnection : TInetObject {
  TConnection() : TInetObject(TInetKind::ikConnection) {}
  std::shared_ptr<TSession> Session;
  uint32_t Service = 0;
  std::string Host;
  uint16_t Port = 0;
  std::string HostHeader;
  std::string User;
  std::string Password;
  std::string Directory;  // the FTP directory last set, restored on reconnecting
  TInetSocket Control;
  std::unique_ptr<TInetReader> Reader;
  bool Broken = true;
  bool TransferOpen = false;
};

struct TFtpFile : TInetObject {
  TFtpFile() : TInetObject(TInetKind::ikFtpFile) {}
  std::shared_ptr<TConnection> Connection;
  TInetSocket Data;
  std::unique_ptr<TInetReader> DataReader;
  int64_t Size = -1;  // announced by the server, -1 when unknown
  int64_t Received = 0;
  bool Ended = false;
  uint32_t Failure = 0;  // a failed transfer keeps failing
  std::string Response;  // the server's last reply on this transfer
};

struct THttpRequest : TInetObject {
  THttpRequest() : TInetObject(TInetKind::ikHttpRequest) {}
  std::shared_ptr<TConnection> Connection;
  std::string Verb;
  std::string Object;
  TInetSocket Socket;
  std::unique_ptr<TInetReader> Reader;
  bool Sent = false;
  int32_t StatusCode = 0;
  std::string StatusText;
  std::vector<std::pair<std::string, std::string>> Headers;
  int64_t Length = -1;  // Content-Length, -1 when the body runs to the end
  int64_t Received = 0;
  bool Ended = false;
  uint32_t Failure = 0;
  std::string Response;  // the status line
};

// Open handles by number. A handle is a number, never a pointer, so a closed
// or made-up handle is refused rather than followed.
class THandleTable {
 public:
  HINTERNET Add(std::shared_ptr<TInetObject> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    next_ += 4;
    objects_.emplace(next_, std::move(object));
    return reinterpret_cast<HINTERNET>(next_);
  }
  std::shared_ptr<TInetObject> Find(HINTERNET handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = objects_.find(reinterpret_cast<uintptr_t>(handle));
    return it == objects_.end() ? nullptr : it->second;
  }
  std::shared_ptr<TInetObject> Remove(HINTERNET handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = objects_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == objects_.end()) return nullptr;
    std::shared_ptr<TInetObject> object = std::move(it->second);
    objects_.erase(it);
    return object;
  }

 private:
  std::mutex mutex_;
  std::map<uintptr_t, std::shared_ptr<TInetObject>> objects_;
  uintptr_t next_ = 0x1000;
};

THandleTable& Handles() {
  static THandleTable table;
  return table;
}

bool Fail(uint32_t error) {
  SetLastError(error);
  return false;
}

HINTERNET FailHandle(uint32_t error) {
  SetLastError(error);
  return nullptr;
}

bool Succeed() {
  SetLastError(ERROR_SUCCESS);
  return true;
}

// The object behind a handle when it is of the kind asked for.
template <typename T>
std::shared_ptr<T> Lookup(HINTERNET handle, TInetKind kind) {
  const std::shared_ptr<TInetObject> object = Handles().Find(handle);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (object->Kind != kind) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(object);
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

bool IsDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string TrimSpaces(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// --- FTP ---------------------------------------------------------------------

// Reads one reply, all lines of a multi-line one; its code, or 0 on failure.
int32_t ReadReply(TConnection& c, uint32_t& error) {
  std::string line;
  std::string text;
  if (!c.Reader->ReadLine(line, kMaxLine, error, kIoTimeoutMs)) {
    if (error == 0) error = ERROR_INTERNET_CONNECTION_ABORTED;
    return 0;
  }
  text = line;
  if (line.size() < 3 || !IsDigits(line.substr(0, 3))) {
    error = ERROR_INTERNET_EXTENDED_ERROR;
    lastResponse = text;
    return 0;
  }
  const std::string code = line.substr(0, 3);
  if (line.size() > 3 && line[3] == '-') {
    for (int n = 0;; ++n) {
      if (n == kMaxReplyLines || !c.Reader->ReadLine(line, kMaxLine, error, kIoTimeoutMs)) {
        if (error == 0) error = ERROR_INTERNET_CONNECTION_ABORTED;
        return 0;
      }
      text += "\r\n" + line;
      if (line.size() >= 4 && line.compare(0, 3, code) == 0 && line[3] == ' ') break;
    }
  }
  lastResponse = text;
  return std::stoi(code);
}

int32_t Command(TConnection& c, const std::string& command, uint32_t& error) {
  if (!c.Control.SendAll(command + "\r\n", error)) return 0;
  return ReadReply(c, error);
}

void Drop(TConnection& c) {
  c.Control.Close();
  c.Reader.reset();
  c.Broken = true;
  c.TransferOpen = false;
}

// Connects and logs in (again, after a break), back in the directory that was
// set last.
bool EnsureControl(TConnection& c, uint32_t& error) {
  if (!c.Broken) return true;
  Drop(c);
  if (!c.Control.Connect(c.Host, c.Port, error)) return false;
  c.Reader = std::make_unique<TInetReader>(c.Control);
  int32_t code = ReadReply(c, error);
  while (code >= 100 && code < 200) code = ReadReply(c, error);
  if (code != 220) {
    if (code != 0) error = ERROR_INTERNET_EXTENDED_ERROR;
    Drop(c);
    return false;
  }
  code = Command(c, "USER " + c.User, error);
  if (code == 331) code = Command(c, "PASS " + c.Password, error);
  if (code != 230 && code != 202) {
    if (code != 0) error = ERROR_INTERNET_LOGIN_FAILURE;
    Drop(c);
    return false;
  }
  c.Broken = false;
  if (!c.Directory.empty()) {
    code = Command(c, "CWD " + c.Directory, error);
    if (code / 100 != 2) {
      if (code != 0) error = ERROR_INTERNET_EXTENDED_ERROR;
      Drop(c);
      return false;
    }
  }
  return true;
}

// The data port of a PASV ("(h1,h2,h3,h4,p1,p2)") or EPSV ("(|||port|)")
// reply; the host part of PASV is not used.
bool PassivePort(const std::string& reply, bool extended, uint16_t& port) {
  const size_t open = reply.find('(');
  const size_t close = reply.find(')', open == std::string::npos ? 0 : open);
  if (open == std::string::npos || close == std::string::npos) return false;
  const std::string inner = reply.substr(open + 1, close - open - 1);
  std::vector<std::string> parts;
  const char separator = extended ? (inner.empty() ? '|' : inner[0]) : ',';
  size_t start = extended ? 1 : 0;
  for (;;) {
    const size_t next = inner.find(separator, start);
    parts.push_back(TrimSpaces(inner.substr(start, next - start)));
    if (next == std::string::npos) break;
    start = next + 1;
  }
  auto number = [](const std::string& s, uint32_t limit, uint32_t& value) {
    if (!IsDigits(s) || s.size() > 5) return false;
    value = static_cast<uint32_t>(std::stoul(s));
    return value <= limit;
  };
  uint32_t value = 0;
  if (extended) {
    // "|||port|" splits into "", "", "port", "".
    if (parts.size() != 4 || !number(parts[2], 65535, value) || value == 0) return false;
    port = static_cast<uint16_t>(value);
    return true;
  }
  if (parts.size() != 6) return false;
  uint32_t high = 0;
  uint32_t low = 0;
  for (int i = 0; i < 4; ++i) {
    if (!number(parts[static_cast<size_t>(i)], 255, value)) return false;
  }
  if (!number(parts[4], 255, high) || !number(parts[5], 255, low)) return false;
  value = high * 256 + low;
  if (value == 0) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

// Opens the data connection of a passive transfer, to the control
// connection's own peer.
bool OpenDataConnection(TConnection& c, TInetSocket& data, uint32_t& error) {
  sockaddr_storage peer{};
  socklen_t length = 0;
  if (!c.Control.PeerAddress(peer, length)) {
    error = ERROR_INTERNET_CONNECTION_ABORTED;
    return false;
  }
  const bool extended = peer.ss_family == AF_INET6;
  const int32_t code = Command(c, extended ? "EPSV" : "PASV", error);
  if (code != (extended ? 229 : 227)) {
    if (code != 0) error = ERROR_INTERNET_EXTENDED_ERROR;
    return false;
  }
  uint16_t port = 0;
  if (!PassivePort(lastResponse, extended, port)) {
    error = ERROR_INTERNET_EXTENDED_ERROR;
    return false;
  }
  if (extended) {
    reinterpret_cast<sockaddr_in6&>(peer).sin6_port = htons(port);
  } else {
    reinterpret_cast<sockaddr_in&>(peer).sin_port = htons(port);
  }
  return data.ConnectTo(peer, length, error);
}

// Reads the server's word on a transfer whose data has ended.
bool FinishTransfer(TFtpFile& file, uint32_t& error) {
  TConnection& c = *file.Connection;
  file.Data.Close();
  c.TransferOpen = false;
  if (c.Broken || c.Reader == nullptr) {
    error = ERROR_INTERNET_CONNECTION_ABORTED;
    return false;
  }
  const int32_t code = ReadReply(c, error);
  if (code == 0) {
    Drop(c);
    return false;
  }
  file.Response = lastResponse;
  if (code / 100 != 2) {
    error = ERROR_INTERNET_EXTENDED_ERROR;
    return false;
  }
  if (file.Size >= 0 && file.Received != file.Size) {
    error = ERROR_INTERNET_CONNECTION_ABORTED;
    return false;
  }
  return true;
}

// A transfer whose data connection failed: the server's word on it is still
// to come and would be read as the answer to the next command, so the
// control connection starts afresh.
bool FailFtpData(TFtpFile& file, uint32_t error) {
  file.Failure = error;
  file.Data.Close();
  Drop(*file.Connection);
  return Fail(error);
}

bool ReadFtpFile(TFtpFile& file, char* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  lastResponse = file.Response;
  if (file.Failure != 0) return Fail(file.Failure);
  uint32_t error = 0;
  while (got < count && !file.Ended) {
    const int64_t n = file.DataReader->Read(buffer + got, count - got, error, kIoTimeoutMs);
    if (n > 0) {
      got += static_cast<uint32_t>(n);
      file.Received += n;
      continue;
    }
    if (n < 0) {
      got = 0;
      return FailFtpData(file, error);
    }
    if (!FinishTransfer(file, error)) {
      file.Failure = error;
      file.Data.Close();
      file.Connection->TransferOpen = false;
      got = 0;
      return Fail(error);
    }
    file.Ended = true;
  }
  return Succeed();
}

void CloseFtpFile(TFtpFile& file) {
  TConnection& c = *file.Connection;
  file.Data.Close();
  if (!file.Ended && file.Failure == 0 && c.TransferOpen) {
    // The server's replies to a cut transfer vary; start afresh instead of
    // guessing how many of them are still to come.
    Drop(c);
  }
  c.TransferOpen = false;
}

// --- HTTP --------------------------------------------------------------------

const std::string* FindHeader(const THttpRequest& request, const std::string& name) {
  for (const auto& [key, value] : request.Headers) {
    if (key.size() == name.size() &&
        std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        })) {
      return &value;
    }
  }
  return nullptr;
}

// The request target: "/" first, and bytes that cannot stand in a request
// line escaped as %XX.
std::string RequestTarget(const std::string& object) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string target = object.empty() || object[0] != '/' ? "/" : "";
  for (const char ch : object) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
        c == '`' || c == '{' || c == '|' || c == '}') {
      target += '%';
      target += kHex[c >> 4];
      target += kHex[c & 15];
    } else {
      target += ch;
    }
  }
  return target;
}

// Extra header lines as given, each ended by CR LF; blank lines dropped.
std::string HeaderLines(const char* headers, uint32_t length) {
  if (headers == nullptr) return {};
  const std::string text =
      length == 0xFFFFFFFFu ? std::string(headers) : std::string(headers, length);
  std::string lines;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find_first_of("\r\n", start);
    const std::string line = text.substr(start, end - start);
    if (!TrimSpaces(line).empty()) lines += line + "\r\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

bool ReadResponseHead(THttpRequest& request, uint32_t& error) {
  std::string line;
  for (;;) {
    if (!request.Reader->ReadLine(line, kMaxLine, error, kIoTimeoutMs)) {
      if (error == 0) error = ERROR_HTTP_INVALID_SERVER_RESPONSE;
      return false;
    }
    // "HTTP/1.0 200 OK"
    if (line.size() < 12 || line.compare(0, 5, "HTTP/") != 0) {
      error = ERROR_HTTP_INVALID_SERVER_RESPONSE;
      return false;
    }
    const size_t space = line.find(' ');
    if (space == std::string::npos || line.size() < space + 4 ||
        !IsDigits(line.substr(space + 1, 3)) ||
        (line.size() > space + 4 && line[space + 4] != ' ')) {
      error = ERROR_HTTP_INVALID_SERVER_RESPONSE;
      return false;
    }
    request.StatusCode = std::stoi(line.substr(space + 1, 3));
    request.StatusText = line.size() > space + 5 ? line.substr(space + 5) : std::string();
    request.Response = line;
    lastResponse = line;
    request.Headers.clear();
    for (int n = 0;; ++n) {
      if (n == kMaxHeaders || !request.Reader->ReadLine(line, kMaxLine, error, kIoTimeoutMs)) {
        if (error == 0) error = ERROR_HTTP_INVALID_SERVER_RESPONSE;
        return false;
      }
      if (line.empty()) break;
      const size_t colon = line.find(':');
      if (colon == std::string::npos || colon == 0) {
        error = ERROR_HTTP_INVALID_SERVER_RESPONSE;
        return false;
      }
      request.Headers.emplace_back(line.substr(0, colon), TrimSpaces(line.substr(colon + 1)));
    }
    // Interim answers (100 Continue) come before the real one.
    if (request.StatusCode >= 200) break;
  }
  request.Length = -1;
  if (const std::string* length = FindHeader(request, "Content-Length")) {
    if (IsDigits(*length) && length->size() <= 15) request.Length = std::stoll(*length);
  }
  if (request.Verb == "HEAD" || request.StatusCode == 204 || request.StatusCode == 304) {
    request.Length = 0;
  }
  return true;
}

bool ReadHttpBody(THttpRequest& request, char* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  if (!request.Sent) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  lastResponse = request.Response;
  if (request.Failure != 0) return Fail(request.Failure);
  uint32_t error = 0;
  while (got < count && !request.Ended) {
    uint64_t want = count - got;
    if (request.Length >= 0) {
      want = std::min<uint64_t>(want, static_cast<uint64_t>(request.Length - request.Received));
      if (want == 0) {
        request.Ended = true;
        break;
      }
    }
    const int64_t n = request.Reader->Read(buffer + got, want, error, kIoTimeoutMs);
    if (n > 0) {
      got += static_cast<uint32_t>(n);
      request.Received += n;
      continue;
    }
    if (n == 0 && request.Length < 0) {
      request.Ended = true;
      break;
    }
    // The connection ended or failed before the announced length.
    request.Failure = n == 0 ? ERROR_INTERNET_CONNECTION_ABORTED : error;
    request.Socket.Close();
    got = 0;
    return Fail(request.Failure);
  }
  if (request.Ended) request.Socket.Close();
  return Succeed();
}

bool CopyAnswer(const std::string& value, void* buffer, uint32_t* bufferLength) {
  if (bufferLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (buffer == nullptr || *bufferLength <= value.size()) {
    *bufferLength = static_cast<uint32_t>(value.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  *bufferLength = static_cast<uint32_t>(value.size());
  return Succeed();
}

}  // namespace

bool InternetGetLastResponseInfoA(uint32_t* error, char* buffer, uint32_t* bufferLength) {
  if (error != nullptr) *error = 0;
  return CopyAnswer(lastResponse, buffer, bufferLength);
}

HINTERNET InternetOpenA(const char* agent, uint32_t accessType, const char* proxy,
                        const char* proxyBypass, uint32_t flags) {
  (void)accessType;
  (void)proxy;
  (void)proxyBypass;
  (void)flags;
  lastResponse.clear();
  auto session = std::make_shared<TSession>();
  session->Agent = agent != nullptr ? agent : "";
  if (HasLineBreak(session->Agent)) return FailHandle(ERROR_INVALID_PARAMETER);
  SetLastError(ERROR_SUCCESS);
  return Handles().Add(std::move(session));
}

HINTERNET InternetConnectA(HINTERNET internet, const char* serverName, INTERNET_PORT serverPort,
                           const char* userName, const char* password, uint32_t service,
                           uint32_t flags, uintptr_t context) {
  (void)flags;
  (void)context;
  lastResponse.clear();
  const auto session = Lookup<TSession>(internet, TInetKind::ikSession);
  if (session == nullptr) return nullptr;
  if (service != INTERNET_SERVICE_FTP && service != INTERNET_SERVICE_HTTP) {
    return FailHandle(ERROR_INVALID_PARAMETER);
  }
  auto c = std::make_shared<TConnection>();
  c->Session = session;
  c->Service = service;
  uint16_t port = 0;
  if (serverName == nullptr || !SplitHostPort(serverName, c->Host, port) || HasLineBreak(c->Host)) {
    return FailHandle(ERROR_INTERNET_INVALID_URL);
  }
  if (serverPort != INTERNET_INVALID_PORT_NUMBER) port = serverPort;
  const uint16_t standard =
      service == INTERNET_SERVICE_FTP ? INTERNET_DEFAULT_FTP_PORT : INTERNET_DEFAULT_HTTP_PORT;
  c->Port = port != 0 ? port : standard;
  const std::string host = c->Host.find(':') != std::string::npos ? "[" + c->Host + "]" : c->Host;
  c->HostHeader = c->Port == standard ? host : host + ":" + std::to_string(c->Port);
  if (service == INTERNET_SERVICE_FTP) {
    c->User = userName != nullptr ? userName : "anonymous";
    c->Password = password != nullptr ? password : "anonymous@";
    if (HasLineBreak(c->User) || HasLineBreak(c->Password)) {
      return FailHandle(ERROR_INVALID_PARAMETER);
    }
    uint32_t error = 0;
    if (!EnsureControl(*c, error)) return FailHandle(error);
  } else {
    c->User = userName != nullptr ? userName : "";
    c->Password = password != nullptr ? password : "";
  }
  SetLastError(ERROR_SUCCESS);
  return Handles().Add(std::move(c));
}

bool FtpSetCurrentDirectoryA(HINTERNET connect, const char* directory) {
  lastResponse.clear();
  const auto c = Lookup<TConnection>(connect, TInetKind::ikConnection);
  if (c == nullptr) return false;
  if (c->Service != INTERNET_SERVICE_FTP) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  const std::string dir = directory != nullptr ? directory : "";
  if (dir.empty() || HasLineBreak(dir)) return Fail(ERROR_INVALID_PARAMETER);
  if (c->TransferOpen) return Fail(ERROR_FTP_TRANSFER_IN_PROGRESS);
  uint32_t error = 0;
  if (!EnsureControl(*c, error)) return Fail(error);
  const int32_t code = Command(*c, "CWD " + dir, error);
  if (code == 0) {
    Drop(*c);
    return Fail(error);
  }
  if (code / 100 != 2) return Fail(ERROR_INTERNET_EXTENDED_ERROR);
  // Relative paths build on the directory before, so remember where we are.
  const int32_t pwd = Command(*c, "PWD", error);
  if (pwd == 0) {
    Drop(*c);
    return Fail(error);
  }
  if (pwd == 257) {
    const size_t open = lastResponse.find('"');
    const size_t close = lastResponse.rfind('"');
    if (open != std::string::npos && close > open) {
      c->Directory = lastResponse.substr(open + 1, close - open - 1);
    }
  } else if (!dir.empty() && dir[0] == '/') {
    c->Directory = dir;
  }
  return Succeed();
}

bool InternetCloseHandle(HINTERNET handle) {
  const std::shared_ptr<TInetObject> object = Handles().Remove(handle);
  if (object == nullptr) return Fail(ERROR_INVALID_HANDLE);
  switch (object->Kind) {
    case TInetKind::ikFtpFile:
      CloseFtpFile(static_cast<TFtpFile&>(*object));
      break;
    case TInetKind::ikHttpRequest:
      static_cast<THttpRequest&>(*object).Socket.Close();
      break;
    case TInetKind::ikConnection: {
      auto& c = static_cast<TConnection&>(*object);
      if (c.Service == INTERNET_SERVICE_FTP && !c.Broken && !c.TransferOpen) {
        uint32_t error = 0;
        c.Control.SendAll("QUIT\r\n", error);
      }
      Drop(c);
      break;
    }
    case TInetKind::ikSession:
      break;
  }
  return Succeed();
}

bool InternetQueryDataAvailable(HINTERNET file, uint32_t* bytesAvailable, uint32_t flags,
                                uintptr_t context) {
  (void)flags;
  (void)context;
  lastResponse.clear();
  if (bytesAvailable == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const std::shared_ptr<TInetObject> object = Handles().Find(file);
  if (object == nullptr) return Fail(ERROR_INVALID_HANDLE);
  TInetReader* reader = nullptr;
  int64_t size = -1;
  int64_t received = 0;
  bool ended = false;
  uint32_t failure = 0;
  if (object->Kind == TInetKind::ikFtpFile) {
    auto& f = static_cast<TFtpFile&>(*object);
    lastResponse = f.Response;
    reader = f.DataReader.get();
    size = f.Size, received = f.Received, ended = f.Ended, failure = f.Failure;
  } else if (object->Kind == TInetKind::ikHttpRequest) {
    auto& r = static_cast<THttpRequest&>(*object);
    if (!r.Sent) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    lastResponse = r.Response;
    reader = r.Reader.get();
    size = r.Length, received = r.Received, ended = r.Ended, failure = r.Failure;
  } else {
    return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  }
  if (failure != 0) return Fail(failure);
  if (size >= 0) {
    *bytesAvailable = static_cast<uint32_t>(std::min<int64_t>(size - received, 0xFFFFFFFF));
    return Succeed();
  }
  uint32_t error = 0;
  if (ended || !reader->WaitData(error, kIoTimeoutMs)) {
    if (!ended && error != 0) {
      if (object->Kind == TInetKind::ikFtpFile) {
        return FailFtpData(static_cast<TFtpFile&>(*object), error);
      }
      return Fail(error);
    }
    *bytesAvailable = 0;
    return Succeed();
  }
  *bytesAvailable = static_cast<uint32_t>(std::min<size_t>(reader->Readable(), 0xFFFFFFFF));
  return Succeed();
}

bool InternetReadFile(HINTERNET file, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead) {
  if (bytesRead == nullptr || (buffer == nullptr && bytesToRead > 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *bytesRead = 0;
  lastResponse.clear();
  const std::shared_ptr<TInetObject> object = Handles().Find(file);
  if (object == nullptr) return Fail(ERROR_INVALID_HANDLE);
  char* bytes = static_cast<char*>(buffer);
  if (object->Kind == TInetKind::ikFtpFile) {
    return ReadFtpFile(static_cast<TFtpFile&>(*object), bytes, bytesToRead, *bytesRead);
  }
  if (object->Kind == TInetKind::ikHttpRequest) {
    return ReadHttpBody(static_cast<THttpRequest&>(*object), bytes, bytesToRead, *bytesRead);
  }
  return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
}

HINTERNET FtpOpenFileA(HINTERNET connect, const char* fileName, uint32_t access, uint32_t flags,
                       uintptr_t context) {
  (void)context;
  lastResponse.clear();
  const auto c = Lookup<TConnection>(connect, TInetKind::ikConnection);
  if (c == nullptr) return nullptr;
  if (c->Service != INTERNET_SERVICE_FTP) {
    return FailHandle(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  }
  const std::string name = fileName != nullptr ? fileName : "";
  // Only downloads are carried.
  if (access != GENERIC_READ || name.empty() || HasLineBreak(name)) {
    return FailHandle(ERROR_INVALID_PARAMETER);
  }
  if (c->TransferOpen) return FailHandle(ERROR_FTP_TRANSFER_IN_PROGRESS);
  uint32_t error = 0;
  if (!EnsureControl(*c, error)) return FailHandle(error);
  auto file = std::make_shared<TFtpFile>();
  file->Connection = c;
  const bool ascii = (flags & 3) == FTP_TRANSFER_TYPE_ASCII;
  int32_t code = Command(*c, ascii ? "TYPE A" : "TYPE I", error);
  if (code != 0 && code / 100 == 2) {
    // The size lets readers know the total; a server without SIZE is fine.
    code = Command(*c, "SIZE " + name, error);
    if (code == 213) {
      const std::string size =
          TrimSpaces(lastResponse.substr(std::min<size_t>(4, lastResponse.size())));
      if (IsDigits(size) && size.size() <= 15) file->Size = std::stoll(size);
    }
  } else if (code != 0) {
    return FailHandle(ERROR_INTERNET_EXTENDED_ERROR);
  }
  if (code == 0) {
    Drop(*c);
    return FailHandle(error);
  }
  if (!OpenDataConnection(*c, file->Data, error)) {
    // A refused PASV leaves the control connection as it was; anything else
    // leaves it in doubt.
    if (error != ERROR_INTERNET_EXTENDED_ERROR) Drop(*c);
    return FailHandle(error);
  }
  code = Command(*c, "RETR " + name, error);
  if (code != 125 && code != 150) {
    file->Data.Close();
    if (code == 0) {
      Drop(*c);
      return FailHandle(error);
    }
    return FailHandle(ERROR_INTERNET_EXTENDED_ERROR);
  }
  file->DataReader = std::make_unique<TInetReader>(file->Data);
  file->Response = lastResponse;
  c->TransferOpen = true;
  SetLastError(ERROR_SUCCESS);
  return Handles().Add(std::move(file));
}

HINTERNET HttpOpenRequestA(HINTERNET connect, const char* verb, const char* objectName,
                           const char* version, const char* referrer, const char** acceptTypes,
                           uint32_t flags, uintptr_t context) {
  (void)version;
  (void)referrer;
  (void)acceptTypes;
  (void)flags;
  (void)context;
  lastResponse.clear();
  const auto c = Lookup<TConnection>(connect, TInetKind::ikConnection);
  if (c == nullptr) return nullptr;
  if (c->Service != INTERNET_SERVICE_HTTP) {
    return FailHandle(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  }
  auto request = std::make_shared<THttpRequest>();
  request->Connection = c;
  request->Verb = verb != nullptr && *verb != '\0' ? verb : "GET";
  if (!std::all_of(request->Verb.begin(), request->Verb.end(),
                   [](char ch) { return ch >= 'A' && ch <= 'Z'; })) {
    return FailHandle(ERROR_INVALID_PARAMETER);
  }
  request->Object = RequestTarget(objectName != nullptr ? objectName : "");
  SetLastError(ERROR_SUCCESS);
  return Handles().Add(std::move(request));
}

bool HttpSendRequestA(HINTERNET request, const char* headers, uint32_t headersLength,
                      void* optional, uint32_t optionalLength) {
  lastResponse.clear();
  const auto r = Lookup<THttpRequest>(request, TInetKind::ikHttpRequest);
  if (r == nullptr) return false;
  if (r->Sent) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  const TConnection& c = *r->Connection;
  uint32_t error = 0;
  if (!r->Socket.Connect(c.Host, c.Port, error)) return Fail(error);
  r->Reader = std::make_unique<TInetReader>(r->Socket);
  std::string text = r->Verb + " " + r->Object + " HTTP/1.0\r\nHost: " + c.HostHeader + "\r\n";
  if (!c.Session->Agent.empty()) text += "User-Agent: " + c.Session->Agent + "\r\n";
  text += HeaderLines(headers, headersLength);
  const bool body = optional != nullptr && optionalLength > 0;
  if (body) text += "Content-Length: " + std::to_string(optionalLength) + "\r\n";
  text += "\r\n";
  if (body) text.append(static_cast<const char*>(optional), optionalLength);
  if (!r->Socket.SendAll(text, error) || !ReadResponseHead(*r, error)) {
    r->Socket.Close();
    return Fail(error);
  }
  r->Sent = true;
  return Succeed();
}

bool HttpQueryInfoA(HINTERNET request, uint32_t infoLevel, void* buffer, uint32_t* bufferLength,
                    uint32_t* index) {
  (void)index;
  const auto r = Lookup<THttpRequest>(request, TInetKind::ikHttpRequest);
  if (r == nullptr) return false;
  if (!r->Sent) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  std::string value;
  switch (infoLevel & 0xFFFF) {
    case HTTP_QUERY_CONTENT_TYPE:
    case HTTP_QUERY_CONTENT_LENGTH: {
      const char* name =
          (infoLevel & 0xFFFF) == HTTP_QUERY_CONTENT_TYPE ? "Content-Type" : "Content-Length";
      const std::string* header = FindHeader(*r, name);
      if (header == nullptr) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
      value = *header;
      break;
    }
    case HTTP_QUERY_STATUS_CODE:
      value = std::to_string(r->StatusCode);
      break;
    case HTTP_QUERY_STATUS_TEXT:
      value = r->StatusText;
      break;
    default:
      return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
  }
  if ((infoLevel & HTTP_QUERY_FLAG_NUMBER) == 0) return CopyAnswer(value, buffer, bufferLength);
  if (bufferLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (!IsDigits(value) || value.size() > 10 || std::stoull(value) > 0xFFFFFFFFull) {
    return Fail(ERROR_HTTP_INVALID_HEADER);
  }
  if (buffer == nullptr || *bufferLength < sizeof(uint32_t)) {
    *bufferLength = sizeof(uint32_t);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  const auto number = static_cast<uint32_t>(std::stoull(value));
  std::memcpy(buffer, &number, sizeof number);
  *bufferLength = sizeof number;
  return Succeed();
}

}  // namespace plat::win
