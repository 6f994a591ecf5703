// A library file may not reach the simulation: with the library's include
// paths this must not compile.
#include "platform/sysinfo.h"
#include "sim/kernel.h"
