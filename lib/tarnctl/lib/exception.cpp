// The exception family and the kernel event list they carry.
#include "hostctl/exception.h"

#include <cstdio>

namespace HostCtl::Lib {

KevtMessage::KevtMessage(std::vector<std::string> events)
    : _events(std::make_shared<const std::vector<std::string>>(std::move(events))) {}

const std::vector<std::string>& KevtMessage::Events() const {
    static const std::vector<std::string> none;
    return _events ? *_events : none;
}

std::string KevtMessage::ToString() const {
    std::string text;
    for (const auto& e : Events()) {
        if (!text.empty())
            text += '\n';
        text += e;
    }
    return text;
}

HostCtlException::HostCtlException(const char* message) : _message(message ? message : "") {}
HostCtlException::HostCtlException(const std::string& message) : _message(message) {}
HostCtlException::HostCtlException(const std::string& message, const KevtMessage& kevts)
    : _message(message), _kevts(kevts) {}
HostCtlException::~HostCtlException() = default;

const char* HostCtlException::what() const noexcept { return _message.c_str(); }

std::string HostCtlException::GetDetailedMessage() const {
    if (_kevts.Empty())
        return _message;
    return _message + "\n" + _kevts.ToString();
}

static const char* NvdStatusText(NvdStatus status) {
    switch (status) {
        case NvdStatus::Success: return "Persistent memory: success";
        case NvdStatus::NotSupported: return "Persistent memory: operation not supported";
        case NvdStatus::Busy: return "Persistent memory: device busy";
        default: return "Persistent memory: operation failed";
    }
}

NvdException::NvdException(NvdStatus status) : HostCtlException(NvdStatusText(status)) {}

OsfsExceptionCannotCreateFile::OsfsExceptionCannotCreateFile(const std::string& m, const KevtMessage& k)
    : HostCtlException(m + " (Cannot Create File)", k) {}
OsfsExceptionFileNotFound::OsfsExceptionFileNotFound(const std::string& m, const KevtMessage& k)
    : HostCtlException(m + " (File Not Found)", k) {}
OsfsExceptionFileAlreadyExists::OsfsExceptionFileAlreadyExists(const std::string& m, const KevtMessage& k,
                                                               const std::string& fileName)
    : HostCtlException(m + " (File Already Exists)", k), _fileName(fileName) {}
OsfsExceptionTimedOut::OsfsExceptionTimedOut(const std::string& m, const KevtMessage& k)
    : HostCtlException(m + " (Operation Timed Out)", k) {}
OsfsExceptionDirectoryNotEmpty::OsfsExceptionDirectoryNotEmpty(const std::string& m, const KevtMessage& k)
    : HostCtlException(m + " (Directory not Empty)", k) {}
OsfsExceptionFileFault::OsfsExceptionFileFault(const std::string& m, const KevtMessage& k,
                                               TARN_ReturnStatus status)
    : HostCtlException(m + " (General File Fault)", k), _status(status) {}

void ThrowOsfsException(const std::string& message, const KevtMessage& kevts, TARN_ReturnStatus status,
                        const std::string& fileName) {
    switch (status) {
        case 0x0bad0003: throw OsfsExceptionFileNotFound(message, kevts);
        case 0x0bad0005: throw OsfsExceptionFileAlreadyExists(message, kevts, fileName);
        case 0x0bad0021: throw OsfsExceptionTimedOut(message, kevts);
        case 0x0bad0056: throw OsfsExceptionDirectoryNotEmpty(message, kevts);
        default: throw OsfsExceptionFileFault(message, kevts, status);
    }
}

DpuNumLimitException::DpuNumLimitException(std::string s1, std::string s2, std::string s3,
                                           std::string s4, std::string s5, const std::string& message)
    : HostCtlException(message),
      _parties{std::move(s1), std::move(s2), std::move(s3), std::move(s4), std::move(s5)} {}

DpuModeConflictException::DpuModeConflictException(std::string s1, std::string s2, std::string s3,
                                                   std::string s4, std::string s5,
                                                   const std::string& message)
    : HostCtlException(message),
      _parties{std::move(s1), std::move(s2), std::move(s3), std::move(s4), std::move(s5)} {}

namespace Morra {
MorraCtlException::MorraCtlException(const char* message) : _message(message ? message : "") {}
MorraCtlException::MorraCtlException(const std::string& message) : _message(message) {}
MorraCtlException::MorraCtlException(const std::string& message, const std::string& detail)
    : _message(message), _detail(detail) {}
const char* MorraCtlException::what() const noexcept { return _message.c_str(); }
}  // namespace Morra

}  // namespace HostCtl::Lib

namespace HostCtl::Nvme {
NvmeException::NvmeException(const char* message, NvmeErrorType type)
    : HostCtlException(message), _type(type) {}
NvmeException::NvmeException(std::string&& message, NvmeErrorType type, const std::string& detail1)
    : HostCtlException(message), _type(type), _detail1(detail1) {}
NvmeException::NvmeException(std::string&& message, NvmeErrorType type, const std::string& detail1,
                             const std::string& detail2)
    : HostCtlException(message), _type(type), _detail1(detail1), _detail2(detail2) {}
}  // namespace HostCtl::Nvme

namespace TarnCtl::Lib {
SysinfoException::SysinfoException(const std::string& message, TARN_ReturnStatus status,
                                   const HostCtl::Lib::KevtMessage& kevts)
    : HostCtlException(message, kevts), _status(status) {}
}  // namespace TarnCtl::Lib

namespace TarnCtl::Storage {

const char* iScsiException::StatusText(unsigned int status) {
    switch (status) {
        case 0: return "Success";
        case 1: return "Reboot needed";
        case 3: return "Reset needed";
        case 0x80000001: return "Not supported";
        case 0x80000002: return "Resource allocation failure";
        case 0x80000003: return "Would remove last discovery method";
        case 0x80000004: return "General OS-specific failure";
        case 0x80000005: return "Waited too long for resource";
        case 0x80000008: return "LUN is busy";
        case 0x80000009: return "Command to target timed out";
        case 0x8000000a: return "Feature not enabled";
        case 0x80000100: return "SCSI Check condition";
        case 0x80000101: return "SCSI Busy";
        case 0x80000103: return "SCSI Task set full";
        case 0x80000104: return "SCSI ACA Active status";
        case 0x80000105: return "SCSI Task aborted status";
        case 0x8fffffff: return "iscsimgt library internal unknown error";
        case 0xc0000000: return "Invalid parameter";
        case 0xc0000002: return "bad object for this function";
        case 0xc0000003: return "No such target or LUN";
        case 0xc0000004: return "That name is too long";
        default: return "unknown error";
    }
}

static std::string ComposeIscsi(unsigned int status, const std::string& message) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", status);
    return std::string("iScsiException: status(") + hex + "): " + iScsiException::StatusText(status) +
           "; Message= " + message;
}

iScsiException::iScsiException(unsigned int status, const std::string& message)
    : HostCtlException(ComposeIscsi(status, message)) {}

}  // namespace TarnCtl::Storage
