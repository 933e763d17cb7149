#pragma once
// The internet library of the virtual Windows (its "WININET.DLL"): the entry
// points a setup program uses to fetch files from HTTP and FTP servers,
// carried over our own sockets.
//
// Rules of this implementation:
//  1. Handles form a tree: session (InternetOpenA), connection
//     (InternetConnectA), file or request (FtpOpenFileA, HttpOpenRequestA).
//     A handle keeps what it stands on alive until it is closed itself.
//  2. Every call is synchronous and bounded in time: connecting gives up
//     after kConnectTimeoutMs, a read or write that makes no progress after
//     kIoTimeoutMs (ERROR_INTERNET_TIMEOUT).
//  3. HTTP: a request goes out as HTTP/1.0 when it is sent; a body is read up
//     to its Content-Length, or to the end of the connection without one. A
//     body that ends before its announced length is an error
//     (ERROR_INTERNET_CONNECTION_ABORTED), never a silently short file.
//  4. FTP: the connection logs in at once; files are fetched in passive mode
//     (PASV, or EPSV over IPv6), the data connection always going to the
//     address of the control connection, never to one the server names. A
//     transfer counts as complete only when the data ends and the server
//     confirms it (2xx); anything else fails the read with the server's reply
//     kept as the last response. A data connection that fails takes the
//     control connection with it (made again on its next use), so the reply
//     still to come on the transfer is never read as the answer to a later
//     command.
//  5. The last error of the calling thread (GetLastError) holds the reason of
//     a failure; the last server response of the thread is read with
//     InternetGetLastResponseInfoA. It is the response of the last call only:
//     a call that opens, connects or sends starts without one, a read or
//     query on a file or request gives that transfer's own last reply. A
//     failure with no answer from the server leaves it empty, never holding
//     the reply of an earlier exchange.
//  6. A server name may carry a port ("host:8080" or "[::1]:8080"); it is
//     used when the port argument is 0.

#include <cstdint>
#include <string>

namespace plat::win {

using HINTERNET = void*;
using INTERNET_PORT = uint16_t;

inline constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_FTP_PORT = 21;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;

inline constexpr uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr uint32_t INTERNET_OPEN_TYPE_DIRECT = 1;

inline constexpr uint32_t INTERNET_SERVICE_FTP = 1;
inline constexpr uint32_t INTERNET_SERVICE_HTTP = 3;

inline constexpr uint32_t GENERIC_READ = 0x80000000u;
inline constexpr uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr uint32_t FTP_TRANSFER_TYPE_ASCII = 1;
inline constexpr uint32_t FTP_TRANSFER_TYPE_BINARY = 2;

inline constexpr uint32_t INTERNET_FLAG_RELOAD = 0x80000000u;
inline constexpr uint32_t INTERNET_FLAG_EXISTING_CONNECT = 0x20000000u;
inline constexpr uint32_t INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000u;

inline constexpr uint32_t HTTP_QUERY_CONTENT_TYPE = 1;
inline constexpr uint32_t HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr uint32_t HTTP_QUERY_STATUS_CODE = 19;
inline constexpr uint32_t HTTP_QUERY_STATUS_TEXT = 20;
inline constexpr uint32_t HTTP_QUERY_FLAG_NUMBER = 0x20000000u;

// Error codes of the library (and the system codes it uses).
inline constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr uint32_t ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr uint32_t ERROR_INTERNET_EXTENDED_ERROR = 12003;
inline constexpr uint32_t ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr uint32_t ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr uint32_t ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr uint32_t ERROR_INTERNET_LOGIN_FAILURE = 12015;
inline constexpr uint32_t ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
inline constexpr uint32_t ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
inline constexpr uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr uint32_t ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr uint32_t ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr uint32_t ERROR_FTP_TRANSFER_IN_PROGRESS = 12110;
inline constexpr uint32_t ERROR_HTTP_HEADER_NOT_FOUND = 12150;
inline constexpr uint32_t ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr uint32_t ERROR_HTTP_INVALID_HEADER = 12153;
inline constexpr uint32_t ERROR_HTTP_INVALID_QUERY_REQUEST = 12154;

inline constexpr int kConnectTimeoutMs = 15000;
inline constexpr int kIoTimeoutMs = 30000;

// The entry points, with the library's argument lists. Strings are
// zero-terminated; nullptr stands for an absent one.

// The thread's last server response. False with ERROR_INSUFFICIENT_BUFFER and
// *bufferLength set to the size needed (with the terminating zero) when the
// buffer is too small; otherwise the text is copied with its zero and
// *bufferLength is its length.
bool InternetGetLastResponseInfoA(uint32_t* error, char* buffer, uint32_t* bufferLength);
HINTERNET InternetOpenA(const char* agent, uint32_t accessType, const char* proxy,
                        const char* proxyBypass, uint32_t flags);
HINTERNET InternetConnectA(HINTERNET internet, const char* serverName, INTERNET_PORT serverPort,
                           const char* userName, const char* password, uint32_t service,
                           uint32_t flags, uintptr_t context);
bool FtpSetCurrentDirectoryA(HINTERNET connect, const char* directory);
bool InternetCloseHandle(HINTERNET handle);
// The bytes the file still holds when the server announced its size, else
// the bytes that can be read without waiting (0 only at the end).
bool InternetQueryDataAvailable(HINTERNET file, uint32_t* bytesAvailable, uint32_t flags,
                                uintptr_t context);
// Fills the buffer unless the end comes first; *bytesRead 0 means the end.
bool InternetReadFile(HINTERNET file, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead);
HINTERNET FtpOpenFileA(HINTERNET connect, const char* fileName, uint32_t access, uint32_t flags,
                       uintptr_t context);
HINTERNET HttpOpenRequestA(HINTERNET connect, const char* verb, const char* objectName,
                           const char* version, const char* referrer, const char** acceptTypes,
                           uint32_t flags, uintptr_t context);
// headersLength 0xFFFFFFFF: headers is zero-terminated.
bool HttpSendRequestA(HINTERNET request, const char* headers, uint32_t headersLength,
                      void* optional, uint32_t optionalLength);
// With HTTP_QUERY_FLAG_NUMBER the value is stored as a uint32_t (4 bytes).
bool HttpQueryInfoA(HINTERNET request, uint32_t infoLevel, void* buffer, uint32_t* bufferLength,
                    uint32_t* index);

// Function types of the entry points, for callers that load them by name.
using TInternetGetLastResponseInfoA = decltype(&InternetGetLastResponseInfoA);
using TInternetOpenA = decltype(&InternetOpenA);
using TInternetConnectA = decltype(&InternetConnectA);
using TFtpSetCurrentDirectoryA = decltype(&FtpSetCurrentDirectoryA);
using TInternetCloseHandle = decltype(&InternetCloseHandle);
using TInternetQueryDataAvailable = decltype(&InternetQueryDataAvailable);
using TInternetReadFile = decltype(&InternetReadFile);
using TFtpOpenFileA = decltype(&FtpOpenFileA);
using THttpOpenRequestA = decltype(&HttpOpenRequestA);
using THttpSendRequestA = decltype(&HttpSendRequestA);
using THttpQueryInfoA = decltype(&HttpQueryInfoA);

}  // namespace plat::win
