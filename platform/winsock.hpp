// The socket and console services that the four programs call, under their Winsock names.
//
// On Windows this is Winsock 2 itself. On POSIX systems the same operations are provided
// with Winsock's signatures and Winsock's observable behaviour, so that one source of each
// program builds unchanged for both and prints the same texts and error numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#if defined(_WIN32)

// Winsock 2 and msvcrt are the interface: SOCKET, WSAStartup, closesocket, _sleep and
// the rest come from the system's own headers.
#include <stdlib.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mstcpip.h>

// Windows' ws2ipdef.h names the connection time-out option; MinGW-w64's headers do not.
#if !defined(TCP_MAXRT)
#define TCP_MAXRT 5
#endif

#else

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;

// As on Windows, a socket is an unsigned handle: a distinct type from the descriptor that
// the POSIX calls take, which also lets the operations below carry Winsock's signatures.
using SOCKET = std::uintptr_t;
constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
constexpr int SOCKET_ERROR = -1;
constexpr int SD_BOTH = SHUT_RDWR;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAETIMEDOUT = 10060;

// Options that Winsock names and Linux has under other names or units (translated by
// setsockopt and WSAIoctl below), with Winsock's own values.
constexpr int TCP_MAXRT = 5; // DWORD seconds: how long a connection may go unanswered
constexpr DWORD SIO_KEEPALIVE_VALS = 0x98000004;
struct tcp_keepalive {
    ULONG onoff;
    ULONG keepalivetime;     // ms of silence before the first probe
    ULONG keepaliveinterval; // ms between probes
};

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
};

constexpr WORD MAKEWORD(BYTE low, BYTE high)
{
    return static_cast<WORD>(low | high << 8);
}

namespace winsock_detail {

inline int fd(SOCKET s)
{
    return static_cast<int>(s);
}

// The operations below take Winsock's arguments, but lengths as std::size_t: a program
// passes sizeof, and that must choose them over the POSIX calls of the same names.

struct ErrorNumber {
    int posix;
    int winsock;
};

// Winsock's numbers for the errors its socket operations report.
constexpr ErrorNumber error_numbers[] = {
    {EINTR, 10004},           {EBADF, 10038},           {EACCES, 10013},
    {EFAULT, 10014},          {EINVAL, 10022},          {EMFILE, 10024},
    {ENFILE, 10024},          {EAGAIN, 10035},          {EINPROGRESS, 10036},
    {EALREADY, 10037},        {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},        {ENETUNREACH, 10051},
    {ENETRESET, 10052},       {ECONNABORTED, 10053},    {ECONNRESET, 10054},
    {EPIPE, 10054},           {ENOBUFS, 10055},         {ENOMEM, 10055},
    {EISCONN, 10056},         {ENOTCONN, 10057},        {ESHUTDOWN, 10058},
    {ETOOMANYREFS, 10059},    {ETIMEDOUT, 10060},       {ECONNREFUSED, 10061},
    {ELOOP, 10062},           {ENAMETOOLONG, 10063},    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
};

// Linux's option that reports a refused datagram to the next receive. Other POSIX systems
// (the BSDs, macOS) have none: there a receive that no answer comes to waits.
#if defined(IP_RECVERR)
constexpr int REPORT_REFUSED = IP_RECVERR;
#else
constexpr int REPORT_REFUSED = 0;
#endif

inline int socket_type(SOCKET s)
{
    int type = 0;
    socklen_t len = sizeof type;
    return getsockopt(fd(s), SOL_SOCKET, SO_TYPE, &type, &len) == 0 ? type : 0;
}

// A receive on a blocking socket that its time-out (SO_RCVTIMEO) ended: Winsock reports
// WSAETIMEDOUT, where POSIX says EAGAIN as for a socket that would block.
inline void timed_out_as_winsock(SOCKET s, long result)
{
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
        (fcntl(fd(s), F_GETFL) & O_NONBLOCK) == 0)
        errno = ETIMEDOUT;
}

// Windows sends this many keep-alive probes before it gives a connection up.
constexpr int KEEPALIVE_PROBES = 10;

// Linux's options for TCP_MAXRT and for the silence before the first keep-alive probe.
// Other POSIX systems may lack them (the BSDs have no TCP_USER_TIMEOUT; macOS names the
// second TCP_KEEPALIVE): there the option is refused, as Wine refuses TCP_MAXRT, and the
// system's own limits hold.
#if defined(TCP_USER_TIMEOUT)
constexpr int UNANSWERED_LIMIT = TCP_USER_TIMEOUT;
#else
constexpr int UNANSWERED_LIMIT = 0;
#endif
#if defined(TCP_KEEPIDLE)
constexpr int KEEPALIVE_IDLE = TCP_KEEPIDLE;
#else
constexpr int KEEPALIVE_IDLE = 0;
#endif
#if defined(TCP_KEEPINTVL) && defined(TCP_KEEPCNT)
constexpr int KEEPALIVE_INTERVAL = TCP_KEEPINTVL;
constexpr int KEEPALIVE_COUNT = TCP_KEEPCNT;
#else
constexpr int KEEPALIVE_INTERVAL = 0;
constexpr int KEEPALIVE_COUNT = 0;
#endif

inline int seconds_from_ms(ULONG ms)
{
    return static_cast<int>((ms + 999) / 1000);
}

// Winsock's socket. Winsock reports a datagram that the destination port refused (ICMP
// port unreachable) to the socket's next receive; Linux does so only when asked, and it is
// asked once, here, so that nothing stands between a request and its answer.
inline SOCKET open_socket(int af, int type, int protocol)
{
    const int s = ::socket(af, type, protocol);
    if (s < 0)
        return INVALID_SOCKET;
    // cppcheck-suppress knownConditionTrueFalse ; a constant of the system's
    if (type == SOCK_DGRAM && REPORT_REFUSED != 0) {
        const int on = 1;
        ::setsockopt(s, IPPROTO_IP, REPORT_REFUSED, &on, sizeof on);
    }
    return static_cast<SOCKET>(s);
}

} // namespace winsock_detail

// libc's socket has Winsock's arguments but not its result: the programs' calls go to the
// one above.
#define socket(af, type, protocol) winsock_detail::open_socket(af, type, protocol)

inline int WSAStartup(WORD version, WSADATA* data)
{
    // A send to a peer that has gone away fails with an error, as in Winsock; it must
    // never end the process.
    std::signal(SIGPIPE, SIG_IGN);
    data->wVersion = version;
    data->wHighVersion = MAKEWORD(2, 2);
    return 0;
}

inline int WSACleanup()
{
    return 0;
}

inline int WSAGetLastError()
{
    for (const auto& number : winsock_detail::error_numbers)
        if (number.posix == errno)
            return number.winsock;
    return errno;
}

inline int bind(SOCKET s, const sockaddr* name, std::size_t namelen)
{
    using namespace winsock_detail;
    // Winsock binds a server's port again while connections of an earlier run linger in
    // TIME_WAIT; a port that another socket listens on still fails. For TCP, SO_REUSEADDR
    // gives Linux the same rule. (For UDP it would let two sockets share a port: not set.)
    if (socket_type(s) == SOCK_STREAM) {
        const int on = 1;
        setsockopt(fd(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    return ::bind(fd(s), name, static_cast<socklen_t>(namelen));
}

inline int listen(SOCKET s, int backlog)
{
    return ::listen(winsock_detail::fd(s), backlog);
}

inline SOCKET accept(SOCKET s, sockaddr* addr, socklen_t* addrlen)
{
    const int c = ::accept(winsock_detail::fd(s), addr, addrlen);
    return c < 0 ? INVALID_SOCKET : static_cast<SOCKET>(c);
}

inline int connect(SOCKET s, const sockaddr* name, std::size_t namelen)
{
    return ::connect(winsock_detail::fd(s), name, static_cast<socklen_t>(namelen));
}

inline int send(SOCKET s, const char* buf, std::size_t len, int flags)
{
    return static_cast<int>(
        ::send(winsock_detail::fd(s), static_cast<const void*>(buf), len, flags));
}

inline int recv(SOCKET s, char* buf, std::size_t len, int flags)
{
    const ssize_t n = ::recv(winsock_detail::fd(s), static_cast<void*>(buf), len, flags);
    winsock_detail::timed_out_as_winsock(s, n);
    return static_cast<int>(n);
}

inline int sendto(SOCKET s, const char* buf, std::size_t len, int flags, const sockaddr* to,
                  std::size_t tolen)
{
    return static_cast<int>(::sendto(winsock_detail::fd(s), static_cast<const void*>(buf), len,
                                     flags, to, static_cast<socklen_t>(tolen)));
}

inline int recvfrom(SOCKET s, char* buf, std::size_t len, int flags, sockaddr* from, int* fromlen)
{
    using namespace winsock_detail;
    // Winsock fails at once (WSAEINVAL) on a socket that was never bound, instead of
    // waiting for ever on one that nothing can reach.
    sockaddr_in local{};
    socklen_t local_len = sizeof local;
    if (getsockname(fd(s), reinterpret_cast<sockaddr*>(&local), &local_len) == 0 &&
        local.sin_port == 0) {
        errno = EINVAL;
        return SOCKET_ERROR;
    }
    socklen_t from_len = fromlen != nullptr ? static_cast<socklen_t>(*fromlen) : 0;
    const ssize_t n = ::recvfrom(fd(s), static_cast<void*>(buf), len, flags, from,
                                 fromlen != nullptr ? &from_len : nullptr);
    if (fromlen != nullptr)
        *fromlen = static_cast<int>(from_len);
    timed_out_as_winsock(s, n);
    // A refused datagram shows in Winsock as a reset connection.
    if (n < 0 && errno == ECONNREFUSED && socket_type(s) == SOCK_DGRAM)
        errno = ECONNRESET;
    return static_cast<int>(n);
}

namespace winsock_detail {

// Winsock's numbers for the resolver's failures. A name that does not resolve, or that
// has no IPv4 address (glibc's EAI_NODATA and EAI_ADDRFAMILY), is WSAHOST_NOT_FOUND, as
// on Windows.
constexpr ErrorNumber resolver_errors[] = {
    {EAI_AGAIN, 11002},    {EAI_FAIL, 11003},    {EAI_MEMORY, 8},       {EAI_FAMILY, 10047},
    {EAI_SOCKTYPE, 10044}, {EAI_SERVICE, 10109}, {EAI_BADFLAGS, 10022},
};
constexpr int WSAHOST_NOT_FOUND = 11001;

inline int resolver_error(int eai)
{
    if (eai == EAI_SYSTEM)
        return WSAGetLastError();
    for (const auto& number : resolver_errors)
        if (number.posix == eai)
            return number.winsock;
    return WSAHOST_NOT_FOUND;
}

// Winsock's getaddrinfo: 0, or Winsock's error number, which WSAGetLastError then gives
// too (no errno value comes near Winsock's numbers, so it passes through unchanged).
inline int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                       addrinfo** result)
{
    const int eai = ::getaddrinfo(node, service, hints, result);
    if (eai != 0)
        errno = resolver_error(eai);
    return eai != 0 ? errno : 0;
}

} // namespace winsock_detail

// libc's getaddrinfo has Winsock's signature but reports errors of its own: the programs'
// calls go to the one above.
#define getaddrinfo winsock_detail::getaddrinfo

// Winsock's options, in Winsock's units: SO_RCVTIMEO in DWORD milliseconds, TCP_MAXRT in
// DWORD seconds (Linux's TCP_USER_TIMEOUT, which also bounds the connection's set-up).
// Any other option is Linux's own.
inline int setsockopt(SOCKET s, int level, int optname, const char* optval, std::size_t optlen)
{
    using namespace winsock_detail;
    DWORD value = 0;
    if (optlen >= sizeof value)
        std::memcpy(&value, optval, sizeof value);
    if (level == SOL_SOCKET && optname == SO_RCVTIMEO) {
        const timeval wait{static_cast<time_t>(value / 1000),
                           static_cast<suseconds_t>(value % 1000) * 1000};
        return ::setsockopt(fd(s), level, optname, &wait, sizeof wait);
    }
    if (level == IPPROTO_TCP && optname == TCP_MAXRT) {
        const unsigned int ms = value * 1000U;
        // cppcheck-suppress knownConditionTrueFalse ; a constant of the system's
        if (UNANSWERED_LIMIT == 0) {
            errno = ENOPROTOOPT;
            return SOCKET_ERROR;
        }
        return ::setsockopt(fd(s), level, UNANSWERED_LIMIT, &ms, sizeof ms);
    }
    return ::setsockopt(fd(s), level, optname, static_cast<const void*>(optval),
                        static_cast<socklen_t>(optlen));
}

// Winsock's control of a socket; of its codes, the keep-alive values: probes after
// keepalivetime ms of silence, every keepaliveinterval ms, and Windows' count of them.
inline int WSAIoctl(SOCKET s, DWORD code, void* in, std::size_t inlen, void* /*out*/,
                    DWORD /*outlen*/, DWORD* returned, void* /*overlapped*/, void* /*routine*/)
{
    using namespace winsock_detail;
    tcp_keepalive values{};
    if (code != SIO_KEEPALIVE_VALS || in == nullptr || inlen < sizeof values) {
        errno = EINVAL;
        return SOCKET_ERROR;
    }
    std::memcpy(&values, in, sizeof values);
    const int on = values.onoff != 0 ? 1 : 0;
    const int idle = seconds_from_ms(values.keepalivetime);
    const int interval = seconds_from_ms(values.keepaliveinterval);
    if (returned != nullptr)
        *returned = 0;
    // cppcheck-suppress knownConditionTrueFalse ; a constant of the system's
    const bool timed = KEEPALIVE_IDLE != 0 && KEEPALIVE_INTERVAL != 0 && KEEPALIVE_COUNT != 0;
    const bool set =
        ::setsockopt(fd(s), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
        (on == 0 ||
         (timed && ::setsockopt(fd(s), IPPROTO_TCP, KEEPALIVE_IDLE, &idle, sizeof idle) == 0 &&
          ::setsockopt(fd(s), IPPROTO_TCP, KEEPALIVE_INTERVAL, &interval, sizeof interval) == 0 &&
          ::setsockopt(fd(s), IPPROTO_TCP, KEEPALIVE_COUNT, &KEEPALIVE_PROBES,
                       sizeof KEEPALIVE_PROBES) == 0));
    return set ? 0 : SOCKET_ERROR;
}

inline int shutdown(SOCKET s, int how)
{
    return ::shutdown(winsock_detail::fd(s), how);
}

inline int closesocket(SOCKET s)
{
    return ::close(winsock_detail::fd(s));
}

// msvcrt's name for the pause, which the programs call on both platforms.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
inline void _sleep(unsigned long milliseconds)
{
    timespec pause{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

#endif

// The programs' time value: a signed 32-bit count of seconds since 1970, as msvcrt's
// 32-bit time_t, also where the platform's own time_t is wider.
using time32 = std::int32_t;

inline time32 time(time32* timer)
{
    // The low 32 bits of the clock: the value wraps in 2038, as the 32-bit runtime's does.
    const auto now = static_cast<time32>(static_cast<std::uint32_t>(std::time(nullptr)));
    if (timer != nullptr)
        *timer = now;
    return now;
}

inline const char* ctime(const time32* timer)
{
    // Widened with its sign. Where the runtime cannot format a value (before 1970 in
    // msvcrt), the text is empty rather than a null pointer.
    const std::time_t wide = *timer;
    const char* text = std::ctime(&wide);
    return text != nullptr ? text : "";
}

namespace winsock_detail {
// Every text reaches the console when it is written, also through a pipe and also when
// it does not end a line (a prompt), before the program blocks in its next call.
static const int console_unbuffered = std::setvbuf(stdout, nullptr, _IONBF, 0);
} // namespace winsock_detail
