// libcalls.so: records the socket and console calls of a program it is preloaded into
// (LD_PRELOAD), for the learner's timelines.
//
// Each call is passed on to libc unchanged, between two readings of the real-time clock,
// the clock that stamps the packets of a capture: a packet that crossed during a call lies
// between its two readings. The call's return address, in the program's own code (the
// platform layer's functions are inlined into main), is kept too: with the program's debug
// information it names the line of main that made the call. The calls are written one a
// line, as they return, to the file that SOCKETS_TP_CALLS names:
//
//   START_NS END_NS NAME RESULT ERRNO OBJECT OFFSET DETAILS...
//
// where DETAILS are the call's arguments as KEY=VALUE, a text in hex, then what was measured
// as it returned: slept=N, the thread's voluntary context switches during the call, and for
// a socket its local= and peer= addresses and its TCP state=. A call that may wait (accept,
// connect, a receive, a console read) is written as it begins, too, with "-" for END_NS: a
// program ended while it waits has that call on its timeline. Last, from= gives the return
// addresses of up to three calls further out in the same object, where there are any.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

long long now_ns()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// The times this thread gave up the processor of its own accord: waiting for a packet, a
// line typed or the end of a pause. A call during which it did so slept; one during which
// it did not ran straight through, whatever crossed meanwhile.
long voluntary_switches()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

// Where a call begins: the clock, and the thread's voluntary switches so far.
struct Start {
    long long ns;
    long switches;
};

Start begin()
{
    const long switches = voluntary_switches();
    return {now_ns(), switches};
}

template <typename F>
F next(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// The sockets seen made: a close of one of them is a closesocket.
bool is_socket[1024];

void mark_socket(long fd, bool on)
{
    if (fd >= 0 && fd < 1024)
        is_socket[fd] = on;
}

std::string hex(const void* data, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out.empty() ? "-" : out;
}

std::string address(const sockaddr* sa)
{
    if (sa == nullptr || sa->sa_family != AF_INET)
        return "-";
    sockaddr_in in{};
    std::memcpy(&in, sa, sizeof in);
    const auto* a = reinterpret_cast<const unsigned char*>(&in.sin_addr);
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", a[0], a[1], a[2], a[3], ntohs(in.sin_port));
    return text;
}

// A socket as the system has it once a call has returned: its own address, its peer's, and
// for TCP the connection's state (TCP_INFO), so that each packet can be given to the
// socket whose addresses it carries.
const char* const kStates[] = {"-",          "ESTABLISHED", "SYN_SENT",  "SYN_RECV",
                               "FIN_WAIT1",  "FIN_WAIT2",   "TIME_WAIT", "CLOSE",
                               "CLOSE_WAIT", "LAST_ACK",    "LISTEN",    "CLOSING"};

std::string socket_now(int fd)
{
    sockaddr_storage own{};
    sockaddr_storage peer{};
    socklen_t size = sizeof own;
    if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&own), &size) != 0 ||
        own.ss_family != AF_INET)
        return "";
    size = sizeof peer;
    const bool connected = getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0;
    std::string out = " local=" + address(reinterpret_cast<sockaddr*>(&own)) +
                      " peer=" + (connected ? address(reinterpret_cast<sockaddr*>(&peer)) : "-");
    tcp_info info{};
    size = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 && info.tcpi_state < 12)
        out += std::string(" state=") + kStates[info.tcpi_state];
    return out;
}

int output()
{
    static int out = -2;
    if (out == -2) {
        const char* path = std::getenv("SOCKETS_TP_CALLS");
        const int opened =
            path != nullptr ? open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
        // Far above the program's own descriptors, which its console shows (a socket's
        // number): the program must number its sockets as it does untraced.
        out = opened >= 0 ? fcntl(opened, F_DUPFD_CLOEXEC, 900) : -1;
        if (opened >= 0)
            next<int (*)(int)>("close")(opened);
    }
    return out;
}

// The calls that led to CALLER, in its own object: a program built without optimisation
// (a learner's, with -O0) calls the platform layer's functions out of line, so the line
// of code that made a call is one or two frames further out.
// The walk cost a traced line of the chat about 100 us more here: it is made only where
// SOCKETS_TP_CALLERS is set (scripts/trace and scripts/check set it for a learner's
// program), never for ours, whose calls the layer's functions are inlined into.
std::string callers(const void* caller, const void* base)
{
    static const char* const asked = std::getenv("SOCKETS_TP_CALLERS");
    static const bool wanted = asked != nullptr && asked[0] != '\0';
    if (!wanted)
        return "";
    void* frames[10];
    const int n = backtrace(frames, 10);
    int at = 0;
    while (at < n && frames[at] != caller)
        ++at;
    std::string out;
    for (int i = at + 1; i < n && i <= at + 3; ++i) {
        Dl_info where{};
        if (dladdr(frames[i], &where) == 0 || where.dli_fbase != base)
            break;
        char offset[32];
        std::snprintf(offset, sizeof offset, "%s%lx", out.empty() ? " from=" : ",",
                      reinterpret_cast<unsigned long>(frames[i]) -
                          reinterpret_cast<unsigned long>(base));
        out += offset;
    }
    return out;
}

// One line: a call that returned (END_NS its second reading), or that begins to wait
// (END_NS "-"), so that a call the program never returns from is seen too.
void write_line(long long start, const char* end, const char* name, long result, int error,
                const void* caller, const std::string& details)
{
    const int out = output();
    if (out < 0)
        return;
    Dl_info where{};
    const char* object = "-";
    unsigned long offset = 0;
    if (dladdr(caller, &where) != 0 && where.dli_fname != nullptr) {
        object = where.dli_fname;
        offset = reinterpret_cast<unsigned long>(caller) -
                 reinterpret_cast<unsigned long>(where.dli_fbase);
    }
    // The program itself, by its full path, whatever directory it was started from.
    static char program[4096];
    if (program[0] == '\0') {
        const ssize_t n = readlink("/proc/self/exe", program, sizeof program - 1);
        program[n > 0 ? n : 0] = '\0';
    }
    if (object[0] != '/')
        object = program;
    char head[5000];
    std::snprintf(head, sizeof head, "%lld %s %s %ld %d %s %lx ", start, end, name, result,
                  result < 0 ? error : 0, object, offset);
    const std::string line = head + details + callers(caller, where.dli_fbase) + "\n";
    // libc's own write: this library's, below, records a socket's.
    static auto real_write = next<ssize_t (*)(int, const void*, size_t)>("write");
    ssize_t written = real_write(out, line.data(), line.size());
    (void)written;
}

// One call, written as it returns, with the voluntary switches made during it and, where
// it names a socket (SOCKET), that socket as it is now; errno is left as the call set it.
void record(const Start& start, const char* name, long result, int error, const void* caller,
            const std::string& details, int socket = -1)
{
    const long long end_ns = now_ns();
    const long slept = voluntary_switches() - start.switches;
    const std::string end = std::to_string(end_ns);
    write_line(start.ns, end.c_str(), name, result, error, caller,
               details + " slept=" + std::to_string(slept) + socket_now(socket));
    errno = error;
}

// A call that may wait, as it begins.
void begins(const Start& start, const char* name, const void* caller, const std::string& details)
{
    const int error = errno;
    write_line(start.ns, "-", name, 0, 0, caller, details);
    errno = error;
}

std::string fd_of(int fd)
{
    return "fd=" + std::to_string(fd);
}

} // namespace

// A traced program writes to its console without a buffer, as to a console of Windows,
// also where it is a pipe (scripts/trace's) or a terminal: a learner's program that never
// flushes its output is seen as it writes. Ours set it so themselves.
__attribute__((constructor)) static void console_unbuffered()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

#define CALLER __builtin_return_address(0)

// libc's own functions, with its signatures and C's varargs: checked as C is, not as the
// programs' C++.
// NOLINTBEGIN
extern "C" {

int socket(int domain, int type, int protocol)
{
    static auto real = next<int (*)(int, int, int)>("socket");
    const Start start = begin();
    const int r = real(domain, type, protocol);
    const int e = errno;
    if (domain == AF_INET) {
        mark_socket(r, true);
        const int kind = type & 0xf;
        record(start, "socket", r, e, CALLER,
               kind == SOCK_STREAM  ? "type=SOCK_STREAM"
               : kind == SOCK_DGRAM ? "type=SOCK_DGRAM"
                                    : "type=" + std::to_string(type),
               r);
    }
    return r;
}

int bind(int fd, const sockaddr* addr, socklen_t len)
{
    static auto real = next<int (*)(int, const sockaddr*, socklen_t)>("bind");
    const Start start = begin();
    const int r = real(fd, addr, len);
    record(start, "bind", r, errno, CALLER, fd_of(fd) + " addr=" + address(addr), fd);
    return r;
}

int listen(int fd, int backlog)
{
    static auto real = next<int (*)(int, int)>("listen");
    const Start start = begin();
    const int r = real(fd, backlog);
    record(start, "listen", r, errno, CALLER, fd_of(fd) + " backlog=" + std::to_string(backlog),
           fd);
    return r;
}

int accept(int fd, sockaddr* addr, socklen_t* len)
{
    static auto real = next<int (*)(int, sockaddr*, socklen_t*)>("accept");
    const Start start = begin();
    begins(start, "accept", CALLER, fd_of(fd));
    const int r = real(fd, addr, len);
    mark_socket(r, true);
    record(start, "accept", r, errno, CALLER,
           fd_of(fd) + " addr=" + (r >= 0 ? address(addr) : "-") + " new=" + std::to_string(r), r);
    return r;
}

int connect(int fd, const sockaddr* addr, socklen_t len)
{
    static auto real = next<int (*)(int, const sockaddr*, socklen_t)>("connect");
    const Start start = begin();
    begins(start, "connect", CALLER, fd_of(fd) + " addr=" + address(addr));
    const int r = real(fd, addr, len);
    record(start, "connect", r, errno, CALLER, fd_of(fd) + " addr=" + address(addr), fd);
    return r;
}

ssize_t send(int fd, const void* buf, size_t len, int flags)
{
    static auto real = next<ssize_t (*)(int, const void*, size_t, int)>("send");
    const Start start = begin();
    const ssize_t r = real(fd, buf, len, flags);
    record(start, "send", r, errno, CALLER, fd_of(fd) + " len=" + std::to_string(len), fd);
    return r;
}

ssize_t recv(int fd, void* buf, size_t len, int flags)
{
    static auto real = next<ssize_t (*)(int, void*, size_t, int)>("recv");
    const Start start = begin();
    begins(start, "recv", CALLER, fd_of(fd) + " len=" + std::to_string(len));
    const ssize_t r = real(fd, buf, len, flags);
    record(start, "recv", r, errno, CALLER, fd_of(fd) + " len=" + std::to_string(len), fd);
    return r;
}

ssize_t sendto(int fd, const void* buf, size_t len, int flags, const sockaddr* to, socklen_t tolen)
{
    static auto real =
        next<ssize_t (*)(int, const void*, size_t, int, const sockaddr*, socklen_t)>("sendto");
    const Start start = begin();
    const ssize_t r = real(fd, buf, len, flags, to, tolen);
    record(start, "sendto", r, errno, CALLER,
           fd_of(fd) + " len=" + std::to_string(len) + " addr=" + address(to), fd);
    return r;
}

ssize_t recvfrom(int fd, void* buf, size_t len, int flags, sockaddr* from, socklen_t* fromlen)
{
    static auto real =
        next<ssize_t (*)(int, void*, size_t, int, sockaddr*, socklen_t*)>("recvfrom");
    const Start start = begin();
    begins(start, "recvfrom", CALLER, fd_of(fd) + " len=" + std::to_string(len));
    const ssize_t r = real(fd, buf, len, flags, from, fromlen);
    record(start, "recvfrom", r, errno, CALLER,
           fd_of(fd) + " len=" + std::to_string(len) + " addr=" + (r >= 0 ? address(from) : "-"),
           fd);
    return r;
}

int setsockopt(int fd, int level, int name, const void* value, socklen_t len)
{
    static auto real = next<int (*)(int, int, int, const void*, socklen_t)>("setsockopt");
    const Start start = begin();
    const int r = real(fd, level, name, value, len);
    const int e = errno;
    std::string shown = "-";
    if (len == sizeof(int)) {
        int v = 0;
        std::memcpy(&v, value, sizeof v);
        shown = std::to_string(v);
    } else if (len == sizeof(timeval)) {
        timeval v{};
        std::memcpy(&v, value, sizeof v);
        shown = std::to_string(v.tv_sec * 1000 + v.tv_usec / 1000) + "ms";
    }
    record(start, "setsockopt", r, e, CALLER,
           fd_of(fd) + " level=" + std::to_string(level) + " option=" + std::to_string(name) +
               " value=" + shown,
           fd);
    return r;
}

int shutdown(int fd, int how)
{
    static auto real = next<int (*)(int, int)>("shutdown");
    const Start start = begin();
    const int r = real(fd, how);
    record(start, "shutdown", r, errno, CALLER, fd_of(fd) + " how=" + std::to_string(how), fd);
    return r;
}

int close(int fd)
{
    static auto real = next<int (*)(int)>("close");
    const bool was_socket = fd >= 0 && fd < 1024 && is_socket[fd];
    const Start start = begin();
    const int r = real(fd);
    const int e = errno;
    if (was_socket || fd < 0 || fd >= 1024) {
        mark_socket(fd, false);
        record(start, "close", r, e, CALLER, fd_of(fd));
    }
    return r;
}

// What a learner's program may call where ours call Winsock's operations: a socket read
// and written as a file, and the resolver.
ssize_t read(int fd, void* buf, size_t len)
{
    static auto real = next<ssize_t (*)(int, void*, size_t)>("read");
    const bool on_socket = fd >= 0 && fd < 1024 && is_socket[fd];
    const Start start = begin();
    if (on_socket)
        begins(start, "read", CALLER, fd_of(fd) + " len=" + std::to_string(len));
    const ssize_t r = real(fd, buf, len);
    if (on_socket)
        record(start, "read", r, errno, CALLER, fd_of(fd) + " len=" + std::to_string(len), fd);
    return r;
}

ssize_t write(int fd, const void* buf, size_t len)
{
    static auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
    const bool on_socket = fd >= 0 && fd < 1024 && is_socket[fd];
    const Start start = begin();
    const ssize_t r = real(fd, buf, len);
    if (on_socket)
        record(start, "write", r, errno, CALLER, fd_of(fd) + " len=" + std::to_string(len), fd);
    return r;
}

int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** found)
{
    static auto real =
        next<int (*)(const char*, const char*, const addrinfo*, addrinfo**)>("getaddrinfo");
    const Start start = begin();
    const int r = real(node, service, hints, found);
    record(start, "getaddrinfo", r, errno, CALLER,
           std::string("node=") + hex(node, node != nullptr ? std::strlen(node) : 0) +
               " addr=" + (r == 0 && *found != nullptr ? address((*found)->ai_addr) : "-"));
    return r;
}

// The program's own pause (msvcrt's _sleep is a nanosleep on Linux).
int nanosleep(const timespec* pause, timespec* left)
{
    static auto real = next<int (*)(const timespec*, timespec*)>("nanosleep");
    const Start start = begin();
    const int r = real(pause, left);
    record(start, "sleep", r, errno, CALLER,
           "ms=" + std::to_string(pause->tv_sec * 1000 + pause->tv_nsec / 1000000));
    return r;
}

// The console: what the program writes to standard output, and what it reads of its input.

int printf(const char* format, ...)
{
    va_list args;
    va_list again;
    va_start(args, format);
    va_copy(again, args);
    char text[4096];
    const int size = std::vsnprintf(text, sizeof text, format, again);
    va_end(again);
    const Start start = begin();
    const int r = std::vfprintf(stdout, format, args);
    va_end(args);
    const std::size_t shown = size < 0 ? 0 : std::min<std::size_t>(size, sizeof text - 1);
    record(start, "write", r, errno, CALLER, "text=" + hex(text, shown));
    return r;
}

int puts(const char* s)
{
    static auto real = next<int (*)(const char*)>("puts");
    const Start start = begin();
    const int r = real(s);
    record(start, "write", r, errno, CALLER, "text=" + hex(s, std::strlen(s)) + "0a");
    return r;
}

size_t fwrite(const void* data, size_t size, size_t count, FILE* stream)
{
    static auto real = next<size_t (*)(const void*, size_t, size_t, FILE*)>("fwrite");
    const Start start = begin();
    const size_t r = real(data, size, count, stream);
    if (stream == stdout)
        record(start, "write", static_cast<long>(r), errno, CALLER,
               "text=" + hex(data, size * count));
    return r;
}

char* fgets(char* s, int size, FILE* stream)
{
    static auto real = next<char* (*)(char*, int, FILE*)>("fgets");
    const Start start = begin();
    if (stream == stdin)
        begins(start, "read", CALLER, "text=-");
    char* r = real(s, size, stream);
    if (stream == stdin)
        record(start, "read", r != nullptr ? static_cast<long>(std::strlen(s)) : 0, errno, CALLER,
               "text=" + (r != nullptr ? hex(s, std::strlen(s)) : std::string("-")));
    return r;
}

int getc(FILE* stream)
{
    static auto real = next<int (*)(FILE*)>("getc");
    const Start start = begin();
    const int r = real(stream);
    if (stream == stdin) {
        const unsigned char c = static_cast<unsigned char>(r);
        record(start, "read", r == EOF ? 0 : 1, errno, CALLER,
               "text=" + (r == EOF ? std::string("-") : hex(&c, 1)));
    }
    return r;
}

// A learner's console calls beside printf and fgets, as C compilers and learners write them.

// Under optimisation glibc's stdio.h defines putchar and getchar inline (the program's own
// calls reach the symbols all the same): these take the symbols' names by label.
int recorded_putchar(int c) __asm__("putchar");
int recorded_getchar() __asm__("getchar");

int recorded_putchar(int c)
{
    static auto real = next<int (*)(int)>("putchar");
    const Start start = begin();
    const int r = real(c);
    const unsigned char byte = static_cast<unsigned char>(c);
    record(start, "write", r, errno, CALLER, "text=" + hex(&byte, 1));
    return r;
}

int fputs(const char* s, FILE* stream)
{
    static auto real = next<int (*)(const char*, FILE*)>("fputs");
    const Start start = begin();
    const int r = real(s, stream);
    if (stream == stdout)
        record(start, "write", r, errno, CALLER, "text=" + hex(s, std::strlen(s)));
    return r;
}

int recorded_getchar()
{
    static auto real = next<int (*)()>("getchar");
    const Start start = begin();
    begins(start, "read", CALLER, "text=-");
    const int r = real();
    const unsigned char c = static_cast<unsigned char>(r);
    record(start, "read", r == EOF ? 0 : 1, errno, CALLER,
           "text=" + (r == EOF ? std::string("-") : hex(&c, 1)));
    return r;
}

unsigned int sleep(unsigned int seconds)
{
    static auto real = next<unsigned int (*)(unsigned int)>("sleep");
    const Start start = begin();
    const unsigned int r = real(seconds);
    record(start, "sleep", 0, 0, CALLER, "ms=" + std::to_string(seconds * 1000UL));
    return r;
}

int usleep(useconds_t us)
{
    static auto real = next<int (*)(useconds_t)>("usleep");
    const Start start = begin();
    const int r = real(us);
    record(start, "sleep", r, errno, CALLER, "ms=" + std::to_string(us / 1000));
    return r;
}

} // extern "C"
// NOLINTEND
