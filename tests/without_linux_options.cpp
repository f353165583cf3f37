// A program as built where the system has none of Linux's own options (the BSDs, macOS: no
// IP_RECVERR, no TCP_USER_TIMEOUT, TCP_KEEPIDLE, TCP_KEEPINTVL or TCP_KEEPCNT): it must
// compile, and the time client's receive with no server then waits rather than failing.
#include <netinet/in.h>
#include <netinet/tcp.h>
#undef IP_RECVERR
#undef TCP_USER_TIMEOUT
#undef TCP_KEEPIDLE
#undef TCP_KEEPINTVL
#undef TCP_KEEPCNT
// The program itself (PROGRAM, its main's source), built so.
// NOLINTNEXTLINE(bugprone-suspicious-include)
#include PROGRAM
