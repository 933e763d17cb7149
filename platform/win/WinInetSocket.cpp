#include "platform/win/WinInetSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/win/WinInet.h"

namespace plat::win {

namespace {

uint32_t ErrorOfErrno(int error) {
  switch (error) {
    case ETIMEDOUT:
    case EAGAIN:
      return ERROR_INTERNET_TIMEOUT;
    case ECONNRESET:
      return ERROR_INTERNET_CONNECTION_RESET;
    case EPIPE:
    case ECONNABORTED:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    default:
      return ERROR_INTERNET_CANNOT_CONNECT;
  }
}

// Waits for events on fd; false with the error set on a time-out or failure.
bool Wait(int fd, short events, int timeoutMs, uint32_t& error) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int n = ::poll(&p, 1, timeoutMs);
    if (n > 0) return true;
    if (n == 0) {
      error = ERROR_INTERNET_TIMEOUT;
      return false;
    }
    if (errno != EINTR) {
      error = ErrorOfErrno(errno);
      return false;
    }
  }
}

}  // namespace

bool SplitHostPort(const std::string& server, std::string& host, uint16_t& port) {
  port = 0;
  std::string rest;
  if (!server.empty() && server[0] == '[') {
    const size_t close = server.find(']');
    if (close == std::string::npos) return false;
    host = server.substr(1, close - 1);
    rest = server.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') return false;
  } else {
    const size_t colon = server.find(':');
    // More than one colon: a bare IPv6 address, which carries no port.
    if (colon == std::string::npos || server.find(':', colon + 1) != std::string::npos) {
      host = server;
      return !host.empty();
    }
    host = server.substr(0, colon);
    rest = server.substr(colon);
  }
  if (host.empty()) return false;
  if (rest.empty()) return true;
  const std::string digits = rest.substr(1);
  if (digits.empty() || digits.size() > 5) return false;
  uint32_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

bool TInetSocket::Connect(const std::string& host, uint16_t port, uint32_t& error) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr) {
    error = ERROR_INTERNET_NAME_NOT_RESOLVED;
    return false;
  }
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> guard(found, ::freeaddrinfo);
  error = ERROR_INTERNET_CANNOT_CONNECT;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    sockaddr_storage address{};
    std::memcpy(&address, a->ai_addr, a->ai_addrlen);
    if (ConnectTo(address, a->ai_addrlen, error)) return true;
  }
  return false;
}

bool TInetSocket::ConnectTo(const sockaddr_storage& address, socklen_t length, uint32_t& error) {
  Close();
  const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error = ERROR_INTERNET_CANNOT_CONNECT;
    return false;
  }
  fd_ = fd;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    if (errno != EINPROGRESS) {
      error = ERROR_INTERNET_CANNOT_CONNECT;
      Close();
      return false;
    }
    if (!Wait(fd, POLLOUT, kConnectTimeoutMs, error)) {
      Close();
      return false;
    }
    int result = 0;
    socklen_t size = sizeof result;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &size) != 0 || result != 0) {
      error = ERROR_INTERNET_CANNOT_CONNECT;
      Close();
      return false;
    }
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return true;
}

bool TInetSocket::SendAll(std::string_view data, uint32_t& error) {
  if (fd_ < 0) {
    error = ERROR_INTERNET_CONNECTION_ABORTED;
    return false;
  }
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!Wait(fd_, POLLOUT, kIoTimeoutMs, error)) return false;
      continue;
    }
    error = ErrorOfErrno(n < 0 ? errno : EPIPE);
    return false;
  }
  return true;
}

int64_t TInetSocket::Receive(void* buffer, size_t count, uint32_t& error, int timeoutMs) {
  if (fd_ < 0) {
    error = ERROR_INTERNET_CONNECTION_ABORTED;
    return -1;
  }
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer, count, 0);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!Wait(fd_, POLLIN, timeoutMs, error)) return -1;
      continue;
    }
    error = ErrorOfErrno(errno);
    return -1;
  }
}

size_t TInetSocket::Readable() const {
  if (fd_ < 0) return 0;
  int available = 0;
  if (::ioctl(fd_, FIONREAD, &available) != 0 || available < 0) return 0;
  return static_cast<size_t>(available);
}

bool TInetSocket::PeerAddress(sockaddr_storage& address, socklen_t& length) const {
  length = sizeof address;
  return fd_ >= 0 && ::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0;
}

void TInetSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TInetReader::Fill(uint32_t& error, int timeoutMs) {
  if (start_ == buffer_.size() || start_ > 65536) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  char chunk[8192];
  const int64_t n = socket_.Receive(chunk, sizeof chunk, error, timeoutMs);
  if (n <= 0) {
    if (n == 0) error = 0;
    return false;
  }
  buffer_.append(chunk, static_cast<size_t>(n));
  return true;
}

bool TInetReader::ReadLine(std::string& line, size_t maxLength, uint32_t& error, int timeoutMs) {
  size_t scanned = 0;  // bytes after start_ known to hold no line end
  for (;;) {
    const size_t end = buffer_.find('\n', start_ + scanned);
    if (end != std::string::npos) {
      size_t stop = end;
      if (stop > start_ && buffer_[stop - 1] == '\r') --stop;
      if (stop - start_ > maxLength) {
        error = ERROR_HTTP_INVALID_SERVER_RESPONSE;
        return false;
      }
      line.assign(buffer_, start_, stop - start_);
      start_ = end + 1;
      return true;
    }
    scanned = Buffered();
    if (scanned > maxLength + 1) {
      error = ERROR_HTTP_INVALID_SERVER_RESPONSE;
      return false;
    }
    if (!Fill(error, timeoutMs)) {
      // A stream that ends inside a line was cut off.
      if (error == 0 && scanned > 0) error = ERROR_INTERNET_CONNECTION_ABORTED;
      return false;
    }
  }
}

bool TInetReader::WaitData(uint32_t& error, int timeoutMs) {
  return Buffered() > 0 || Fill(error, timeoutMs);
}

int64_t TInetReader::Read(void* buffer, size_t count, uint32_t& error, int timeoutMs) {
  if (count == 0) return 0;
  if (Buffered() == 0) {
    buffer_.clear();
    start_ = 0;
    return socket_.Receive(buffer, count, error, timeoutMs);
  }
  const size_t n = std::min(count, Buffered());
  std::memcpy(buffer, buffer_.data() + start_, n);
  start_ += n;
  return static_cast<int64_t>(n);
}

}  // namespace plat::win
