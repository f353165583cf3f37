// The time client as built where the system has no IP_RECVERR (the BSDs, macOS): it must
// compile, and with no server its receive waits rather than failing.
#include <netinet/in.h>
#undef IP_RECVERR
// The program itself, built so. NOLINTNEXTLINE(bugprone-suspicious-include)
#include "time_service/client/main.cpp"
