#include "harness.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace harness {

namespace {

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// A deadline `timeout` from now. Wine takes seconds to start a program where Linux takes
// milliseconds, so under Wine every deadline is four times as far.
Clock::time_point after(Seconds timeout)
{
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(timeout * (on_wine() ? 4 : 1));
}

int remaining_ms(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool write_file(const char* path, const std::string& text)
{
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

bool wait_readable(int fd, Clock::time_point deadline)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, remaining_ms(deadline)) > 0;
}

// From here on, the given system calls of this process and of the programs it runs fail
// as when the process has no descriptor left; socket only for IPv4, so that a process may
// still reach a local service (as Wine's programs reach their wineserver).
bool refuse(const std::vector<long>& calls)
{
    constexpr auto number = offsetof(seccomp_data, nr);
    constexpr auto family = offsetof(seccomp_data, args);
    const sock_filter refused = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EMFILE);
    std::vector<sock_filter> filter;
    for (const long call : calls) {
        const auto nr = static_cast<unsigned>(call);
        filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, number));
        if (call == SYS_socket) {
            filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, nr, 0, 3));
            filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, family));
            filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_INET, 0, 1));
        } else {
            filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, nr, 0, 1));
        }
        filter.push_back(refused);
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

} // namespace

void enter_private_network()
{
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0) {
        write_file("/proc/self/setgroups", "deny");
        if (!write_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !write_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            fail("cannot map this user into the new user namespace");
    } else if (unshare(CLONE_NEWNET) != 0) {
        std::fprintf(stderr,
                     "This machine refuses a private network namespace (user namespaces: %s).\n"
                     "The tests need one to own ports 37 and 1609 without touching the host's.\n",
                     std::strerror(errno));
        std::exit(2);
    }
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq lo{};
    std::strcpy(lo.ifr_name, "lo");
    if (s < 0 || ioctl(s, SIOCGIFFLAGS, &lo) != 0)
        fail("cannot read the loopback's flags");
    lo.ifr_flags = static_cast<short>(lo.ifr_flags | IFF_UP);
    if (ioctl(s, SIOCSIFFLAGS, &lo) != 0)
        fail("cannot bring the loopback up");
    close(s);
    // What a program under test leaves running becomes this process's to end.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

namespace {

bool is_upper(char c)
{
    return std::isupper(static_cast<unsigned char>(c)) != 0;
}

bool is_digit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The end of a decimal integer that starts at `at`, or npos if none does.
size_t number_end(const std::string& text, size_t at)
{
    size_t end = at < text.size() && text[at] == '-' ? at + 1 : at;
    const size_t digits = end;
    while (end < text.size() && is_digit(text[end]))
        ++end;
    return end == digits ? std::string::npos : end;
}

} // namespace

std::string folded(const std::string& console)
{
    if (!on_wine())
        return console;
    std::string out;
    for (size_t i = 0; i < console.size(); ++i) {
        if (console[i] == '\r' && i + 1 < console.size() && console[i + 1] == '\n')
            continue;
        out += console[i];
        // msvcrt writes ctime's day of the month with a leading zero, glibc with a blank:
        // "Thu Jan 01 ..." becomes "Thu Jan  1 ...".
        const size_t day = out.size();
        if (day >= 9 && out[day - 1] == '0' && out[day - 2] == ' ' && out[day - 6] == ' ' &&
            is_upper(out[day - 9]) && is_upper(out[day - 5]) && i + 2 < console.size() &&
            is_digit(console[i + 1]) && console[i + 2] == ' ')
            out[day - 1] = ' ';
    }
    return out;
}

size_t count_of(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

bool on_wine()
{
    const char* programs = std::getenv("PROGRAMS");
    return programs != nullptr && std::strcmp(programs, "windows") == 0;
}

std::vector<std::string> program_command(const std::string& name)
{
    // PROGRAM_DIR: the programs as a user got them (installed, or unpacked from the zip).
    const char* given = std::getenv("PROGRAM_DIR");
    if (on_wine())
        return {WINE, (given != nullptr ? given : WINDOWS_PROGRAM_DIR) + ("/" + name + ".exe")};
    return {(given != nullptr ? given : NATIVE_PROGRAM_DIR) + ("/" + name)};
}

namespace {

// Wine starts service processes of its own (services.exe, winedevice.exe, ...) that leave
// their parent; this process adopts them (see enter_private_network) and ends them here.
void stop_orphans()
{
    const std::string list = "/proc/self/task/" + std::to_string(getpid()) + "/children";
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        std::vector<pid_t> children;
        std::ifstream file(list);
        for (pid_t pid = 0; file >> pid;)
            children.push_back(pid);
        if (children.empty() || Clock::now() >= deadline)
            return;
        for (const pid_t pid : children)
            kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Under Wine, the sockets of a Windows program live in its wineserver process. So that
// they live in this test's network namespace, each test process has a Wine prefix of its
// own, made from the template that was prepared once for the run, and its own
// wineserver, started here and stopped by its id when the test ends. A second machine
// has a prefix and a wineserver of its own, started in its namespace.
class WineServer {
  public:
    // `options`: where the wineserver runs (host), and which system calls fail there.
    WineServer(const std::string& prefix_template, Options options)
    {
        // Beside the template, on its file system, where its files can be linked (/tmp may
        // be another, a tmpfs).
        std::string dir = prefix_template + "-test-XXXXXX";
        if (mkdtemp(dir.data()) == nullptr)
            fail("mkdtemp");
        dir_ = dir;
        prefix_ = dir_ + "/prefix";
        // The system's files are linked, not copied; the registry, which Wine writes, is.
        Program copy({"/bin/sh", "-c",
                      "cp -al \"$0\" \"$1\" && cp --remove-destination \"$0\"/*.reg \"$1\"/",
                      prefix_template, prefix_});
        if (copy.wait_exit(Seconds(60)) != 0)
            throw std::runtime_error("cannot copy the Wine prefix " + prefix_template);
        struct stat st {};
        stat(prefix_.c_str(), &st);
        char socket[128];
        std::snprintf(socket, sizeof socket, "/tmp/.wine-%u/server-%lx-%lx/socket", getuid(),
                      static_cast<unsigned long>(st.st_dev), static_cast<unsigned long>(st.st_ino));
        options.env["WINEPREFIX"] = prefix_;
        server_ =
            std::make_unique<Program>(std::vector<std::string>{WINESERVER, "-f", "-p5"}, options);
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (access(socket, F_OK) != 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    ~WineServer()
    {
        server_.reset();
        Program({"rm", "-rf", dir_}).wait_exit(Seconds(30));
    }

    const std::string& prefix() const { return prefix_; }

  private:
    std::string dir_;
    std::string prefix_;
    std::unique_ptr<Program> server_;
};

// The second machines' wineservers, by the id that names each machine.
std::map<pid_t, std::unique_ptr<WineServer>> host_wine_servers;

void start_wine_server_once(const Options& options)
{
    if (!on_wine())
        return;
    // The system calls that a test makes fail, it makes fail where Wine makes them.
    static const struct Main {
        WineServer server;
        explicit Main(const Options& options)
            : server(WINE_PREFIX_TEMPLATE, [&] {
                  Options own;
                  own.refused_calls = options.refused_calls;
                  return own;
              }())
        {
            setenv("WINEPREFIX", server.prefix().c_str(), 1);
            setenv("WINEDEBUG", "-all", 1);
        }
        Main(const Main&) = delete;
        Main& operator=(const Main&) = delete;
        ~Main() { stop_orphans(); }
    } main(options);
}

} // namespace

Program::Program(const std::string& name, const Options& options)
{
    start_wine_server_once(options);
    const auto there = host_wine_servers.find(options.host);
    if (options.host > 0 && there != host_wine_servers.end()) {
        Options on_host = options;
        on_host.env["WINEPREFIX"] = there->second->prefix();
        start(program_command(name), on_host);
        return;
    }
    start(program_command(name), options);
}

Program::Program(std::vector<std::string> command, const Options& options)
{
    start(std::move(command), options);
}

void Program::start(std::vector<std::string> command, const Options& options)
{
    int in[2];
    int out[2];
    int err[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 ||
        (options.own_errors && pipe2(err, O_CLOEXEC) != 0))
        fail("pipe");
    command.insert(command.end(), options.args.begin(), options.args.end());
    const std::string host_network = "/proc/" + std::to_string(options.host) + "/ns/net";
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (auto& word : command)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0)
        fail("fork");
    if (pid_ == 0) {
        // Nothing that a test starts outlives it, and it starts with the signal dispositions
        // that a shell gives it (the test itself ignores SIGPIPE).
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        signal(SIGPIPE, SIG_DFL);
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        if (options.own_errors)
            dup2(err[1], STDERR_FILENO);
        // The program sees only its console: its first socket gets the lowest number.
        syscall(SYS_close_range, 3U, ~0U, 0U);
        if (options.host > 0) {
            const int net = open(host_network.c_str(), O_RDONLY);
            if (net < 0 || setns(net, CLONE_NEWNET) != 0)
                _exit(124);
            close(net);
        }
        for (const auto& [key, value] : options.env)
            setenv(key.c_str(), value.c_str(), 1);
        if (options.unprivileged && unshare(CLONE_NEWUSER) != 0)
            _exit(126);
        if (!options.refused_calls.empty() && !refuse(options.refused_calls))
            _exit(125);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_fd_ = out[0];
    if (options.own_errors) {
        close(err[1]);
        err_fd_ = err[0];
    }
}

Program::~Program()
{
    if (pid_ > 0 && status_ == kTimedOut) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (in_ >= 0)
        close(in_);
    if (out_fd_ >= 0)
        close(out_fd_);
    if (err_fd_ >= 0)
        close(err_fd_);
}

void Program::type(const std::string& text) const
{
    // A program that has ended no longer reads: what is typed then is lost, as on a console.
    if (in_ >= 0 && write(in_, text.data(), text.size()) < 0 && errno != EPIPE)
        fail("cannot type into the program's standard input");
}

void Program::end_input()
{
    if (in_ >= 0)
        close(in_);
    in_ = -1;
}

namespace {

// Appends what the pipe `fd` holds by the deadline to `into`; false when nothing came, and
// once the pipe has ended (it is then closed, and `fd` is -1).
bool read_pipe(int& fd, std::string& into, Clock::time_point deadline)
{
    if (fd < 0 || !wait_readable(fd, deadline))
        return false;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) {
        close(fd);
        fd = -1;
        return false;
    }
    into.append(buf, static_cast<size_t>(n));
    return true;
}

} // namespace

bool Program::read_some(Clock::time_point deadline)
{
    return read_pipe(out_fd_, out_, deadline);
}

bool Program::wait_for(const std::string& text, Seconds timeout, size_t count)
{
    const auto deadline = after(timeout);
    while (count_of(folded(out_), text) < count)
        if (!read_some(deadline) && (out_fd_ < 0 || Clock::now() >= deadline))
            return false;
    return true;
}

int Program::wait_exit(Seconds timeout)
{
    const auto deadline = after(timeout);
    while (status_ == kTimedOut) {
        int raw = 0;
        rusage usage{};
        const pid_t done = wait4(pid_, &raw, WNOHANG, &usage);
        if (done == pid_) {
            peak_kib_ = usage.ru_maxrss;
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
            break;
        }
        if (Clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            status_ = 1000 + SIGKILL;
            return kTimedOut;
        }
        if (!read_some(std::min(deadline, Clock::now() + std::chrono::milliseconds(20))))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    while (read_some(Clock::now() + std::chrono::milliseconds(200))) {
    }
    // What the program wrote there is all in the pipe by now; what Wine's helpers might
    // still hold open is not waited for.
    while (read_pipe(err_fd_, err_, Clock::now() + std::chrono::milliseconds(200))) {
    }
    return status_;
}

namespace {

void run_or_fail(const std::vector<std::string>& command, pid_t host = 0)
{
    Options options;
    options.host = host;
    Program step(command, options);
    if (step.wait_exit(Seconds(10)) != 0) {
        std::string line;
        for (const auto& word : command)
            line += word + " ";
        throw std::runtime_error("failed: " + line + step.console());
    }
}

bool link_running(const char* name)
{
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq link{};
    std::snprintf(link.ifr_name, sizeof link.ifr_name, "%s", name);
    const bool running =
        s >= 0 && ioctl(s, SIOCGIFFLAGS, &link) == 0 && (link.ifr_flags & IFF_RUNNING) != 0;
    close(s);
    return running;
}

} // namespace

SecondHost::SecondHost()
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        fail("pipe");
    pid_ = fork();
    if (pid_ < 0)
        fail("fork");
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const char made = unshare(CLONE_NEWNET) == 0 ? '1' : '0';
        if (write(ready[1], &made, 1) != 1)
            _exit(1);
        // Holds no pipe of the test's programs open.
        syscall(SYS_close_range, 3U, ~0U, 0U);
        for (;;)
            pause();
    }
    close(ready[1]);
    char made = '0';
    if (!wait_readable(ready[0], after(Seconds(5))) || read(ready[0], &made, 1) != 1 ||
        made != '1') {
        close(ready[0]);
        throw std::runtime_error("cannot make the second host's network namespace");
    }
    close(ready[0]);

    // One cable between the two, an Ethernet interface at each end.
    const std::string there = std::to_string(pid_);
    run_or_fail(
        {"/bin/ip", "link", "add", "eth0", "type", "veth", "peer", "name", "eth0", "netns", there});
    run_or_fail({"/bin/ip", "address", "add", std::string(kThisHost) + "/24", "dev", "eth0"});
    run_or_fail({"/bin/ip", "link", "set", "eth0", "up"});
    run_or_fail({"/bin/ip", "address", "add", std::string(kSecondHost) + "/24", "dev", "eth0"},
                pid_);
    run_or_fail({"/bin/ip", "link", "set", "eth0", "up"}, pid_);
    run_or_fail({"/bin/ip", "link", "set", "lo", "up"}, pid_);
    if (on_wine()) {
        start_wine_server_once({});
        Options options;
        options.host = pid_;
        options.env["WINEDEBUG"] = "-all";
        host_wine_servers[pid_] = std::make_unique<WineServer>(WINE_PREFIX_TEMPLATE, options);
    }
    // A veth pair carries once both of its ends are up.
    const auto deadline = after(Seconds(5));
    while (!link_running("eth0")) {
        if (Clock::now() >= deadline)
            throw std::runtime_error("the cable to the second host does not come up");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

Options SecondHost::client_of(const std::string& server) const
{
    Options options = in_zone("UTC");
    options.host = pid_;
    options.args = {server};
    return options;
}

SecondHost::~SecondHost()
{
    host_wine_servers.erase(pid_);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

void fall_silent(const char* address, pid_t host)
{
    run_or_fail({"/bin/ip", "route", "add", "blackhole", std::string(address) + "/32"}, host);
}

void lay_over(const std::string& path, const std::string& content)
{
    static const bool own_mounts =
        unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!own_mounts)
        fail("cannot make a private mount namespace");
    char file[] = "/tmp/lay-over-XXXXXX";
    const int fd = mkstemp(file);
    const bool written =
        fd >= 0 && fchmod(fd, 0644) == 0 &&
        write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    if (fd >= 0)
        close(fd);
    // The mount holds the file; its name is not needed beyond it.
    const bool laid = written && mount(file, path.c_str(), nullptr, MS_BIND, nullptr) == 0;
    unlink(file);
    if (!laid)
        fail("cannot lay a file over " + path);
}

void know_this_host()
{
    lay_over("/etc/nsswitch.conf", "hosts: files\n");
    lay_over("/etc/hosts", std::string("127.0.0.1 localhost\n") + kThisHost + " " + kThisHostName +
                               "\n" + kIpv6OnlyHost + "\n");
}

bool matches(const std::string& pattern, const std::string& raw_console,
             std::vector<std::string>* captured)
{
    const std::string console = folded(raw_console);
    size_t p = 0;
    size_t c = 0;
    while (p < pattern.size()) {
        if (pattern.compare(p, 3, "{N}") == 0) {
            const size_t end = number_end(console, c);
            if (end == std::string::npos)
                return false;
            if (captured != nullptr)
                captured->push_back(console.substr(c, end - c));
            c = end;
            p += 3;
        } else if (pattern.compare(p, 3, "{T}") == 0) {
            if (console.size() < c + 25 || console[c + 24] != '\n')
                return false;
            if (captured != nullptr)
                captured->push_back(console.substr(c, 25));
            c += 25;
            p += 3;
        } else {
            if (c >= console.size() || console[c] != pattern[p])
                return false;
            ++c;
            ++p;
        }
    }
    return c == console.size();
}

Options in_zone(const char* zone)
{
    Options options;
    options.env["TZ"] = zone;
    return options;
}

std::time_t seconds_now()
{
    return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
}

std::vector<std::string> calendar_lines(long first, long last, const char* zone)
{
    const char* own = std::getenv("TZ");
    const std::string saved = own != nullptr ? own : "";
    setenv("TZ", zone, 1);
    tzset();
    std::vector<std::string> lines;
    for (long t = first; t <= last; ++t) {
        const std::time_t value = t;
        lines.emplace_back(std::ctime(&value));
    }
    if (own != nullptr)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    return lines;
}

Socket::~Socket()
{
    reset();
}

Socket& Socket::operator=(Socket&& other) noexcept
{
    if (this != &other) {
        reset();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void Socket::reset(bool abortive)
{
    if (fd_ < 0)
        return;
    if (abortive) {
        const linger hard{1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    close(fd_);
    fd_ = -1;
}

namespace {

sockaddr_in loopback(unsigned short port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

} // namespace

Socket tcp_listen(unsigned short port)
{
    Socket s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in a = loopback(port);
    if (!s || bind(s.fd(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
        listen(s.fd(), 5) != 0)
        fail("cannot listen on port " + std::to_string(port));
    return s;
}

Socket tcp_accept(const Socket& listener, Seconds timeout)
{
    if (!wait_readable(listener.fd(), after(timeout)))
        return Socket();
    return Socket(accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC));
}

Socket tcp_connect(unsigned short port, Seconds timeout)
{
    const auto deadline = after(timeout);
    const sockaddr_in a = loopback(port);
    for (;;) {
        Socket s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (connect(s.fd(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
            return s;
        if (Clock::now() >= deadline)
            return Socket();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string read_exactly(const Socket& s, size_t size, Seconds timeout)
{
    const auto deadline = after(timeout);
    std::string bytes;
    while (bytes.size() < size && wait_readable(s.fd(), deadline)) {
        char buf[4096];
        const ssize_t n = recv(s.fd(), buf, std::min(sizeof buf, size - bytes.size()), 0);
        if (n <= 0)
            break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    return bytes;
}

bool wait_closed(const Socket& s, Seconds timeout)
{
    const auto deadline = after(timeout);
    while (wait_readable(s.fd(), deadline)) {
        char buf[4096];
        if (recv(s.fd(), buf, sizeof buf, 0) <= 0)
            return true;
    }
    return false;
}

void send_all(const Socket& s, const std::string& bytes)
{
    if (send(s.fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(bytes.size()))
        fail("send");
}

Socket udp_socket(unsigned short port, bool all_interfaces)
{
    Socket s(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = loopback(port);
    if (all_interfaces)
        a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!s || bind(s.fd(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
        fail("cannot bind UDP port " + std::to_string(port));
    return s;
}

void send_datagram(const Socket& s, unsigned short port, const std::string& bytes)
{
    const sockaddr_in a = loopback(port);
    if (sendto(s.fd(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&a),
               sizeof a) != static_cast<ssize_t>(bytes.size()))
        fail("sendto");
}

bool receive_datagram(const Socket& s, std::string& bytes, Seconds timeout,
                      unsigned short* from_port)
{
    if (!wait_readable(s.fd(), after(timeout)))
        return false;
    std::string buf(65536, '\0');
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n =
        recvfrom(s.fd(), buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0)
        return false;
    bytes = buf.substr(0, static_cast<size_t>(n));
    if (from_port != nullptr)
        *from_port = ntohs(from.sin_port);
    return true;
}

unsigned short local_port(const Socket& s)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(s.fd(), reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

bool wait_bound(Transport transport, unsigned short port, Seconds timeout)
{
    // The tables list this network namespace's sockets; a TCP socket counts once it
    // listens (state 0A).
    const char* path = transport == Transport::Udp ? "/proc/net/udp" : "/proc/net/tcp";
    char local[32];
    std::snprintf(local, sizeof local, ":%04X 00000000:0000 %s", port,
                  transport == Transport::Udp ? "07" : "0A");
    const auto deadline = after(timeout);
    for (;;) {
        std::ifstream table(path);
        for (std::string line; std::getline(table, line);)
            if (line.find(local) != std::string::npos)
                return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace harness
