// The exception family every library operation reports failure with, and the
// kernel event list that rides along with a kernel refusal.
#pragma once

#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostctl/status.h"

namespace HostCtl::Lib {

// Shared handle to the kernel event messages collected during a failed call.
// Copies share one list; a default-constructed message is empty.
class KevtMessage {
public:
    KevtMessage() = default;
    explicit KevtMessage(std::vector<std::string> events);
    bool Empty() const { return !_events || _events->empty(); }
    const std::vector<std::string>& Events() const;
    // One event a line, in the order the kernel raised them.
    std::string ToString() const;

private:
    std::shared_ptr<const std::vector<std::string>> _events;
};

class HostCtlException : public std::exception {
public:
    explicit HostCtlException(const char* message);
    explicit HostCtlException(const std::string& message);
    HostCtlException(const std::string& message, const KevtMessage& kevts);
    ~HostCtlException() override;
    const char* what() const noexcept override;
    // The message, followed by the kernel events (if any) on the next lines.
    std::string GetDetailedMessage() const;
    const KevtMessage& GetKevtMessage() const { return _kevts; }

private:
    std::string _message;
    KevtMessage _kevts;
};

enum class NvdStatus : uint32_t { Success = 0, Failure = 1, NotSupported = 2, Busy = 3 };

class NvdException : public HostCtlException {
public:
    explicit NvdException(NvdStatus status);
};

class CryptoException : public HostCtlException {
public:
    using HostCtlException::HostCtlException;
};

class NasException : public HostCtlException {
public:
    using HostCtlException::HostCtlException;
};

class NasAuthUserNotSetException : public NasException {
public:
    using NasException::NasException;
    NasAuthUserNotSetException() : NasException("User not set on host") {}
};

class NasAuthFlavorNotSupportedException : public NasException {
public:
    using NasException::NasException;
};

class OsfsExceptionCannotCreateFile : public HostCtlException {
public:
    OsfsExceptionCannotCreateFile(const std::string& message, const KevtMessage& kevts);
};

class OsfsExceptionFileNotFound : public HostCtlException {
public:
    OsfsExceptionFileNotFound(const std::string& message, const KevtMessage& kevts);
};

class OsfsExceptionFileAlreadyExists : public HostCtlException {
public:
    OsfsExceptionFileAlreadyExists(const std::string& message, const KevtMessage& kevts,
                                   const std::string& fileName);
    const std::string& GetFileName() const { return _fileName; }

private:
    std::string _fileName;
};

class OsfsExceptionTimedOut : public HostCtlException {
public:
    OsfsExceptionTimedOut(const std::string& message, const KevtMessage& kevts);
};

class OsfsExceptionDirectoryNotEmpty : public HostCtlException {
public:
    OsfsExceptionDirectoryNotEmpty(const std::string& message, const KevtMessage& kevts);
};

class OsfsExceptionFileFault : public HostCtlException {
public:
    OsfsExceptionFileFault(const std::string& message, const KevtMessage& kevts,
                           TARN_ReturnStatus status);
    TARN_ReturnStatus GetStatus() const { return _status; }

private:
    TARN_ReturnStatus _status;
};

// Object-store file system failures: the subclass follows the kernel status.
[[noreturn]] void ThrowOsfsException(const std::string& message, const KevtMessage& kevts,
                                     TARN_ReturnStatus status, const std::string& fileName = "");

class DpuNumLimitException : public HostCtlException {
public:
    DpuNumLimitException(std::string s1, std::string s2, std::string s3, std::string s4,
                         std::string s5, const std::string& message);
    const std::string& Party(int i) const { return _parties[i]; }

private:
    std::string _parties[5];
};

class DpuModeConflictException : public HostCtlException {
public:
    DpuModeConflictException(std::string s1, std::string s2, std::string s3, std::string s4,
                             std::string s5, const std::string& message);
    const std::string& Party(int i) const { return _parties[i]; }

private:
    std::string _parties[5];
};

namespace Morra {
// Leaves the distributed-storage facade; not part of the HostCtlException family.
class MorraCtlException : public std::exception {
public:
    explicit MorraCtlException(const char* message);
    explicit MorraCtlException(const std::string& message);
    MorraCtlException(const std::string& message, const std::string& detail);
    const char* what() const noexcept override;
    const std::string& GetDetailedMessage() const { return _detail; }

private:
    std::string _message;
    std::string _detail;
};
}  // namespace Morra

}  // namespace HostCtl::Lib

namespace HostCtl::Nvme {
enum class NvmeErrorType : uint32_t { Generic = 0, InvalidArgument, NotFound, Busy, Unsupported };

class NvmeException : public HostCtl::Lib::HostCtlException {
public:
    NvmeException(const char* message, NvmeErrorType type);
    NvmeException(std::string&& message, NvmeErrorType type, const std::string& detail1);
    NvmeException(std::string&& message, NvmeErrorType type, const std::string& detail1,
                  const std::string& detail2);
    NvmeErrorType GetErrorType() const { return _type; }
    const std::string& GetDetail1() const { return _detail1; }
    const std::string& GetDetail2() const { return _detail2; }

private:
    NvmeErrorType _type;
    std::string _detail1;
    std::string _detail2;
};
}  // namespace HostCtl::Nvme

namespace TarnCtl::Lib {
// A kernel system-information call failed; carries the kernel status.
class SysinfoException : public HostCtl::Lib::HostCtlException {
public:
    SysinfoException(const std::string& message, TARN_ReturnStatus status,
                     const HostCtl::Lib::KevtMessage& kevts = {});
    TARN_ReturnStatus GetStatus() const { return _status; }

private:
    TARN_ReturnStatus _status;
};
}  // namespace TarnCtl::Lib

namespace TarnCtl::Storage {
class iScsiException : public HostCtl::Lib::HostCtlException {
public:
    iScsiException(unsigned int status, const std::string& message);
    // "Success", "Reboot needed", ... "unknown error".
    static const char* StatusText(unsigned int status);
};
}  // namespace TarnCtl::Storage

namespace TarnCtl::ConfigStoreUtil {
class ConfigFileException : public HostCtl::Lib::HostCtlException {
public:
    using HostCtl::Lib::HostCtlException::HostCtlException;
};
}  // namespace TarnCtl::ConfigStoreUtil

namespace TarnCtl::Network {
class TryAgainException : public std::runtime_error {
public:
    explicit TryAgainException(const std::string& message) : std::runtime_error(message) {}
};
class DontTryAgainException : public std::runtime_error {
public:
    explicit DontTryAgainException(const std::string& message) : std::runtime_error(message) {}
};
}  // namespace TarnCtl::Network
