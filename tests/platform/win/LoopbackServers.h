#pragma once
// Small HTTP and FTP servers for the download tests. Each listens on
// 127.0.0.1 at a port the kernel chooses, serves from a table of files in a
// thread of its own, one connection at a time, and stops by itself: when the
// test drops it, or at the latest when its lifetime runs out. Every wait is a
// short poll, so a test never hangs on a server.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace loopback {

using Clock = std::chrono::steady_clock;

// A socket that closes itself.
class TFd {
 public:
  explicit TFd(int fd = -1) : fd_(fd) {}
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  TFd(TFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  TFd& operator=(TFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  ~TFd() { Reset(); }
  int Get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// A listening socket on 127.0.0.1, port chosen by the kernel.
inline TFd Listen(uint16_t& port) {
  TFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (fd.Get() < 0 || ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(fd.Get(), 4) != 0 ||
      ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return TFd();
  }
  port = ntohs(address.sin_port);
  return fd;
}

inline bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) > 0;
}

// Accepts one connection within timeoutMs.
inline TFd Accept(int listener, int timeoutMs) {
  if (!Readable(listener, timeoutMs)) return TFd();
  return TFd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

inline bool SendAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 2000) <= 0) return false;
    const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads until the buffer holds a line ending ("\r\n") or the terminator; false
// on end, time-out (2 s) or a request too long to be one of ours.
inline bool ReadUntil(int fd, std::string& buffer, const std::string& terminator) {
  while (buffer.find(terminator) == std::string::npos) {
    if (buffer.size() > 65536 || !Readable(fd, 2000)) return false;
    char chunk[4096];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
  }
  return true;
}

// The thread and stop flag shared by both servers.
class TServerThread {
 public:
  TServerThread() = default;
  TServerThread(const TServerThread&) = delete;
  TServerThread& operator=(const TServerThread&) = delete;
  ~TServerThread() { Stop(); }

  template <typename Body>
  void Start(Body body, int lifetimeMs) {
    deadline_ = Clock::now() + std::chrono::milliseconds(lifetimeMs);
    thread_ = std::thread(body);
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool Running() const { return !stop_ && Clock::now() < deadline_; }

 private:
  std::atomic<bool> stop_{false};
  Clock::time_point deadline_;
  std::thread thread_;
};

struct THttpFile {
  int Status = 200;
  std::string Reason = "OK";
  std::string Body;
  bool SendLength = true;
  // When set, the connection is closed after this many bytes of the body
  // (the length header still announcing all of it).
  size_t CutAfter = std::string::npos;
};

class THttpServer {
 public:
  explicit THttpServer(std::map<std::string, THttpFile> files, int lifetimeMs = 20000)
      : files_(std::move(files)), listener_(Listen(port_)) {
    thread_.Start([this] { Run(); }, lifetimeMs);
  }
  ~THttpServer() { thread_.Stop(); }

  uint16_t Port() const { return port_; }
  std::string HostName() const { return "127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Run() {
    while (thread_.Running() && listener_.Get() >= 0) {
      TFd client = Accept(listener_.Get(), 50);
      if (client.Get() >= 0) Serve(client.Get());
    }
  }

  void Serve(int fd) {
    std::string head;
    if (!ReadUntil(fd, head, "\r\n\r\n")) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(head.substr(0, head.find("\r\n\r\n")));
    }
    const size_t first = head.find(' ');
    const size_t second = head.find(' ', first + 1);
    const std::string path = head.substr(first + 1, second - first - 1);
    THttpFile file;
    const auto it = files_.find(path);
    if (it != files_.end()) {
      file = it->second;
    } else {
      file.Status = 404;
      file.Reason = "Not Found";
      file.Body = "<html><body>404 Not Found</body></html>";
    }
    std::string answer = "HTTP/1.0 " + std::to_string(file.Status) + " " + file.Reason + "\r\n";
    if (file.SendLength) answer += "Content-Length: " + std::to_string(file.Body.size()) + "\r\n";
    answer += "Content-Type: application/octet-stream\r\n\r\n";
    answer += file.Body.substr(0, file.CutAfter);
    SendAll(fd, answer);
  }

  std::map<std::string, THttpFile> files_;
  uint16_t port_ = 0;
  TFd listener_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  TServerThread thread_;
};

struct TFtpFile {
  std::string Content;
  size_t CutAfter = std::string::npos;  // data closed early, then 426
  bool AnnounceSize = true;             // answer SIZE
  bool ResetData = false;               // with CutAfter: the data connection is reset, not closed
};

// Files by absolute path ("/pub/setup/files.1"); a directory exists when a
// file lies below it. With a user name set, only that user and password log
// in; otherwise anyone does.
class TFtpServer {
 public:
  explicit TFtpServer(std::map<std::string, TFtpFile> files, std::string user = {},
                      std::string password = {}, int lifetimeMs = 20000)
      : files_(std::move(files)),
        user_(std::move(user)),
        password_(std::move(password)),
        listener_(Listen(port_)) {
    thread_.Start([this] { Run(); }, lifetimeMs);
  }
  ~TFtpServer() { thread_.Stop(); }

  uint16_t Port() const { return port_; }
  std::string HostName() const { return "127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> Commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }

 private:
  void Run() {
    while (thread_.Running() && listener_.Get() >= 0) {
      TFd client = Accept(listener_.Get(), 50);
      if (client.Get() >= 0) Serve(client.Get());
    }
  }

  bool DirectoryExists(const std::string& dir) const {
    if (dir == "/") return true;
    for (const auto& [path, file] : files_) {
      if (path.compare(0, dir.size() + 1, dir + "/") == 0) return true;
    }
    return false;
  }

  static std::string Join(const std::string& cwd, const std::string& name) {
    std::string path =
        !name.empty() && name[0] == '/' ? name : (cwd == "/" ? "" : cwd) + "/" + name;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
  }

  void Serve(int fd) {
    if (!SendAll(fd, "220 Loopback FTP ready\r\n")) return;
    std::string buffer;
    std::string cwd = "/";
    std::string user;
    bool loggedIn = false;
    TFd passive;
    while (thread_.Running()) {
      if (buffer.find("\r\n") == std::string::npos) {
        if (!Readable(fd, 50)) continue;
        if (!ReadUntil(fd, buffer, "\r\n")) return;
      }
      const size_t end = buffer.find("\r\n");
      const std::string line = buffer.substr(0, end);
      buffer.erase(0, end + 2);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.push_back(line);
      }
      const size_t space = line.find(' ');
      const std::string verb = line.substr(0, space);
      const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
      std::string reply;
      if (verb == "USER") {
        user = arg;
        reply = "331 Password required";
      } else if (verb == "PASS") {
        loggedIn = user_.empty() || (user == user_ && arg == password_);
        reply = loggedIn ? "230 Logged in" : "530 Login incorrect.";
      } else if (verb == "QUIT") {
        SendAll(fd, "221 Bye\r\n");
        return;
      } else if (!loggedIn) {
        reply = "530 Please login with USER and PASS.";
      } else if (verb == "CWD") {
        const std::string dir = Join(cwd, arg);
        if (DirectoryExists(dir)) {
          cwd = dir;
          reply = "250 Directory changed";
        } else {
          reply = "550 " + arg + ": No such directory";
        }
      } else if (verb == "PWD") {
        reply = "257 \"" + cwd + "\" is the current directory";
      } else if (verb == "TYPE") {
        reply = "200 Type set";
      } else if (verb == "SIZE") {
        const auto it = files_.find(Join(cwd, arg));
        reply = it != files_.end() && it->second.AnnounceSize
                    ? "213 " + std::to_string(it->second.Content.size())
                    : "550 " + arg + ": No such file";
      } else if (verb == "PASV") {
        uint16_t port = 0;
        passive = Listen(port);
        reply = "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
                std::to_string(port % 256) + ")";
      } else if (verb == "RETR") {
        const auto it = files_.find(Join(cwd, arg));
        if (it == files_.end()) {
          reply = "550 " + arg + ": No such file";
        } else if (passive.Get() < 0) {
          reply = "425 Use PASV first";
        } else {
          TFd data = Accept(passive.Get(), 2000);
          passive.Reset();
          if (data.Get() < 0) {
            reply = "425 Cannot open data connection";
          } else {
            const TFtpFile& file = it->second;
            SendAll(fd, "150 Opening BINARY mode data connection\r\n");
            const bool sent = SendAll(data.Get(), file.Content.substr(0, file.CutAfter));
            if (file.ResetData) {
              // Closing with a zero linger time sends a reset instead of an end.
              const linger reset{1, 0};
              ::setsockopt(data.Get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            }
            data.Reset();
            reply = sent && file.CutAfter == std::string::npos
                        ? "226 Transfer complete"
                        : "426 Connection closed; transfer aborted";
          }
        }
      } else {
        reply = "502 Command not implemented";
      }
      if (!SendAll(fd, reply + "\r\n")) return;
    }
  }

  std::map<std::string, TFtpFile> files_;
  std::string user_;
  std::string password_;
  uint16_t port_ = 0;
  TFd listener_;
  mutable std::mutex mutex_;
  std::vector<std::string> commands_;
  TServerThread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound, then closed).
inline uint16_t ClosedPort() {
  uint16_t port = 0;
  TFd fd = Listen(port);
  return port;
}

}  // namespace loopback
