// windows.h, as far as a learner's Winsock program uses it beside winsock2.h: Sleep and the
// types.
#pragma once
#include "winsock2.h"
