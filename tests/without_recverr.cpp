// The time client as built where the system has none of Linux's own options (the BSDs,
// macOS: no IP_RECVERR, no TCP_USER_TIMEOUT, no TCP_KEEPIDLE): it must compile, and with
// no server its receive waits rather than failing.
#include <netinet/in.h>
#include <netinet/tcp.h>
#undef IP_RECVERR
#undef TCP_USER_TIMEOUT
#undef TCP_KEEPIDLE
// The program itself, built so. NOLINTNEXTLINE(bugprone-suspicious-include)
#include "time_service/client/main.cpp"
