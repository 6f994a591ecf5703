// The control case: the same include paths do reach the platform interfaces.
#include "platform/exec.h"
#include "platform/sysinfo.h"
