// Texts of the kernel status codes.
#include <cstdio>
#include <string>

#include "hostctl/status.h"

const char* TARN_ReturnStatusToString(TARN_ReturnStatus status) {
    switch (status) {
        case TARN_OK: return "Success";
        case TARN_FAILURE: return "Failure";
        case TARN_WOULD_BLOCK: return "Would block";
        case TARN_NOT_FOUND: return "Not found";
        case TARN_BUSY: return "Busy";
        case TARN_EXISTS: return "Already exists";
        case TARN_LIMIT_EXCEEDED: return "Limit exceeded";
        case TARN_ALREADY_ENABLED: return "Already enabled";
        case TARN_BAD_PARAM: return "Bad parameter";
        case TARN_NO_MEMORY: return "Out of memory";
        case TARN_NOT_SUPPORTED: return "Not supported";
        case TARN_TIMEOUT: return "Timeout";
        case TARN_NO_PERMISSION: return "Permission denied";
        case TARN_INVALID_STATE: return "Invalid state";
        case TARN_NOT_EMPTY: return "Not empty";
        case TARN_MODULE_NOT_LOADED: return "Module not loaded";
        case TARN_MISSING_PARAMETER: return "Missing parameter";
        default: break;
    }
    // Unknown codes: one static buffer per thread keeps the C-string contract.
    static thread_local char buffer[40];
    std::snprintf(buffer, sizeof buffer, "Unknown status 0x%x", status);
    return buffer;
}

namespace HostCtl::Lib {

std::string StatusHex(TARN_ReturnStatus status) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%x", status);
    return buffer;
}

std::string StatusTail(TARN_ReturnStatus status) {
    return "; Status(" + StatusHex(status) + ")= " + TARN_ReturnStatusToString(status);
}

}  // namespace HostCtl::Lib
