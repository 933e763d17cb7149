#pragma once
// The sockets under the internet library: TCP connections with time limits,
// and a buffered reader for line-based protocols. Internal to platform/win.

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plat::win {

// A connected TCP socket, non-blocking underneath; every wait is bounded.
// Failures report the internet library's error codes.
class TInetSocket {
 public:
  TInetSocket() = default;
  TInetSocket(const TInetSocket&) = delete;
  TInetSocket& operator=(const TInetSocket&) = delete;
  ~TInetSocket() { Close(); }

  // Resolves host and connects to the first address that answers.
  bool Connect(const std::string& host, uint16_t port, uint32_t& error);
  bool ConnectTo(const sockaddr_storage& address, socklen_t length, uint32_t& error);
  bool SendAll(std::string_view data, uint32_t& error);
  // Up to count bytes: > 0 read, 0 at the end of the stream, -1 on failure.
  int64_t Receive(void* buffer, size_t count, uint32_t& error, int timeoutMs);
  // Bytes that can be read without waiting.
  size_t Readable() const;
  bool PeerAddress(sockaddr_storage& address, socklen_t& length) const;
  bool IsOpen() const { return fd_ >= 0; }
  void Close();

 private:
  int fd_ = -1;
};

// Reads lines and bytes from a socket through one buffer, so that bytes read
// ahead with a line are not lost to the data after it.
class TInetReader {
 public:
  explicit TInetReader(TInetSocket& socket) : socket_(socket) {}

  // A line without its CR LF (or bare LF). False at the end of the stream
  // (error 0 when the stream ended cleanly before any byte of the line), on
  // failure, or when the line exceeds maxLength.
  bool ReadLine(std::string& line, size_t maxLength, uint32_t& error, int timeoutMs);
  // Up to count bytes, the buffered ones first.
  int64_t Read(void* buffer, size_t count, uint32_t& error, int timeoutMs);
  // Waits until a byte can be read: false at the end of the stream (error 0)
  // or on failure.
  bool WaitData(uint32_t& error, int timeoutMs);
  size_t Buffered() const { return buffer_.size() - start_; }
  size_t Readable() const { return Buffered() + socket_.Readable(); }

 private:
  bool Fill(uint32_t& error, int timeoutMs);

  TInetSocket& socket_;
  std::string buffer_;
  size_t start_ = 0;
};

// Splits "host", "host:port", "[v6]" or "[v6]:port"; port stays 0 without.
bool SplitHostPort(const std::string& server, std::string& host, uint16_t& port);

}  // namespace plat::win
