// winsock2.h for a learner's Winsock program built on Linux (scripts/trace --build): the
// project's platform layer gives the operations, with Winsock's behaviour and error numbers,
// and this header adds the names that such a program commonly uses beside them. What the
// layer does not give stops the build with a message that says so.
#pragma once
#if !defined(__cplusplus)
#error "a Winsock source is built as C++ against this folder: scripts/trace --build does so"
#endif

#include "platform/winsock.hpp"

#include <cstdlib>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>

typedef struct sockaddr SOCKADDR;
typedef struct sockaddr* PSOCKADDR;
typedef struct sockaddr* LPSOCKADDR;
typedef struct sockaddr_in SOCKADDR_IN;
typedef struct sockaddr_in* PSOCKADDR_IN;
typedef struct sockaddr_in* LPSOCKADDR_IN;
typedef struct in_addr IN_ADDR;
typedef struct hostent HOSTENT;
typedef struct hostent* PHOSTENT;
typedef struct hostent* LPHOSTENT;
typedef struct servent SERVENT;
typedef WSADATA* LPWSADATA;
typedef int BOOL;
typedef long LONG;
typedef unsigned int UINT;
typedef char CHAR;
typedef unsigned short u_short;
typedef unsigned long u_long;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef struct addrinfo ADDRINFOA;
typedef struct addrinfo* PADDRINFOA;

#if !defined(TRUE)
#define TRUE 1
#define FALSE 0
#endif

constexpr int SD_RECEIVE = SHUT_RD;
constexpr int SD_SEND = SHUT_WR;

// Winsock's error numbers, as WSAGetLastError gives them here too.
constexpr int WSAEINTR = 10004, WSAEBADF = 10009, WSAEACCES = 10013, WSAEFAULT = 10014,
              WSAEINVAL = 10022, WSAEMFILE = 10024, WSAEWOULDBLOCK = 10035,
              WSAEINPROGRESS = 10036, WSAEALREADY = 10037, WSAENOTSOCK = 10038,
              WSAEDESTADDRREQ = 10039, WSAEPROTOTYPE = 10041, WSAENOPROTOOPT = 10042,
              WSAEPROTONOSUPPORT = 10043, WSAESOCKTNOSUPPORT = 10044, WSAEOPNOTSUPP = 10045,
              WSAEPFNOSUPPORT = 10046, WSAEAFNOSUPPORT = 10047, WSAEADDRINUSE = 10048,
              WSAEADDRNOTAVAIL = 10049, WSAENETDOWN = 10050, WSAENETUNREACH = 10051,
              WSAENETRESET = 10052, WSAECONNABORTED = 10053, WSAECONNRESET = 10054,
              WSAENOBUFS = 10055, WSAEISCONN = 10056, WSAENOTCONN = 10057,
              WSAESHUTDOWN = 10058, WSAETOOMANYREFS = 10059, WSAECONNREFUSED = 10061,
              WSAELOOP = 10062, WSAENAMETOOLONG = 10063, WSAEHOSTDOWN = 10064,
              WSAEHOSTUNREACH = 10065, WSANOTINITIALISED = 10093, WSATRY_AGAIN = 11002,
              WSANO_RECOVERY = 11003, WSANO_DATA = 11004;
using winsock_detail::WSAHOST_NOT_FOUND;

// Winsock's accept takes the address's length as an int.
inline SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen)
{
    socklen_t len = addrlen != nullptr ? static_cast<socklen_t>(*addrlen) : 0;
    const SOCKET r = accept(s, addr, addrlen != nullptr ? &len : nullptr);
    if (addrlen != nullptr)
        *addrlen = static_cast<int>(len);
    return r;
}

// windows.h's pause, in milliseconds.
inline void Sleep(DWORD milliseconds)
{
    _sleep(milliseconds);
}

// Winsock's own names for what the project's layer does not give: a build that uses one
// stops here, with the reason, rather than with the system's calls of the same name.
#define WINSOCK_NOT_HERE(name)                                                                 \
    "the project's Winsock for Linux does not provide " name ": the exercise's programs do "  \
    "not use it (see docs/your-own-program.md)"
[[gnu::error(WINSOCK_NOT_HERE("select"))]] int winsock_select(...);
[[gnu::error(WINSOCK_NOT_HERE("ioctlsocket"))]] int ioctlsocket(...);
[[gnu::error(WINSOCK_NOT_HERE("WSAAsyncSelect"))]] int WSAAsyncSelect(...);
[[gnu::error(WINSOCK_NOT_HERE("WSAEventSelect"))]] int WSAEventSelect(...);
[[gnu::error(WINSOCK_NOT_HERE("WSASend"))]] int WSASend(...);
[[gnu::error(WINSOCK_NOT_HERE("WSARecv"))]] int WSARecv(...);
[[gnu::error(WINSOCK_NOT_HERE("WSASocket"))]] int WSASocketA(...);
[[gnu::error(WINSOCK_NOT_HERE("CreateThread"))]] int CreateThread(...);
[[gnu::error(WINSOCK_NOT_HERE("_beginthread"))]] int _beginthread(...);
#define select winsock_select
#define WSASocket WSASocketA
