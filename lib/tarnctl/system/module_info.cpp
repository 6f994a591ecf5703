// Module file metadata. The file is untrusted input: every header field is
// checked against the image size before it is used, with overflow-safe
// arithmetic, and the section is found by name through the section-name table.
#include "system/module_info.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <boost/regex.hpp>

#include "hostctl/exception.h"
#include "platform/hostroot.h"

using HostCtl::Lib::HostCtlException;

namespace TarnCtl::System {

namespace {

const char kSectionName[] = ".tarnmodinfo";

[[noreturn]] void Malformed(const std::string& reason) {
    throw HostCtlException("Malformed module file: " + reason);
}

// True when [offset, offset + length) lies inside an image of `size` bytes.
bool Inside(uint64_t offset, uint64_t length, size_t size) {
    return offset <= size && length <= size - offset;
}

template <typename T>
T ReadAt(const uint8_t* data, uint64_t offset) {
    T v;
    std::memcpy(&v, data + offset, sizeof(T));
    return v;
}

}  // namespace

const HostCtl::System::ModuleParam* ModuleFileInfo::FindParameter(const std::string& name) const {
    for (const auto& p : parameters)
        if (p.name == name) return &p;
    return nullptr;
}

std::string ModuleFileInfo::Fact(const std::string& key) const {
    auto it = facts.find(key);
    return it == facts.end() ? std::string() : it->second;
}

std::vector<std::string> ReadModInfoSection(const uint8_t* data, size_t size) {
    if (!data || size < sizeof(Elf64_Ehdr) || std::memcmp(data, ELFMAG, SELFMAG) != 0 ||
        data[EI_CLASS] != ELFCLASS64 || data[EI_DATA] != ELFDATA2LSB)
        throw HostCtlException("Not a valid 64-bit ELF file");
    const auto eh = ReadAt<Elf64_Ehdr>(data, 0);
    if (eh.e_shnum == 0 || eh.e_shentsize < sizeof(Elf64_Shdr))
        Malformed("no section headers");
    if (!Inside(eh.e_shoff, static_cast<uint64_t>(eh.e_shnum) * eh.e_shentsize, size))
        Malformed("section headers out of bounds");
    if (eh.e_shstrndx == SHN_UNDEF || eh.e_shstrndx >= eh.e_shnum)
        Malformed("no section name table");
    auto header = [&](unsigned index) {
        return ReadAt<Elf64_Shdr>(data, eh.e_shoff + static_cast<uint64_t>(index) * eh.e_shentsize);
    };
    const Elf64_Shdr names = header(eh.e_shstrndx);
    if (names.sh_type == SHT_NOBITS || !Inside(names.sh_offset, names.sh_size, size))
        Malformed("section name table out of bounds");
    const char* nameTable = reinterpret_cast<const char*>(data + names.sh_offset);
    for (unsigned i = 0; i < eh.e_shnum; ++i) {
        const Elf64_Shdr sh = header(i);
        // The name must end inside the table: compare at most what is left.
        if (sh.sh_name >= names.sh_size) continue;
        uint64_t left = names.sh_size - sh.sh_name;
        if (left < sizeof(kSectionName) || std::memcmp(nameTable + sh.sh_name, kSectionName, sizeof(kSectionName)) != 0)
            continue;
        if (sh.sh_type == SHT_NOBITS || !Inside(sh.sh_offset, sh.sh_size, size))
            Malformed("section .tarnmodinfo out of bounds");
        std::vector<std::string> entries;
        const char* p = reinterpret_cast<const char*>(data + sh.sh_offset);
        const char* end = p + sh.sh_size;
        while (p < end) {
            const char* nul = static_cast<const char*>(std::memchr(p, '\0', static_cast<size_t>(end - p)));
            const char* stop = nul ? nul : end;
            if (stop > p) entries.emplace_back(p, stop);
            p = stop + 1;
        }
        return entries;
    }
    throw HostCtlException("No .tarnmodinfo section in module file");
}

ModuleFileInfo ParseModInfoEntries(const std::vector<std::string>& entries) {
    static const boost::regex param("param_([a-zA-Z0-9_]+?):(.+)");
    static const boost::regex description("param_desc_(.+?)=(.+)");
    static const boost::regex nspace("ns(Required|Provides)=(.+)#(.+)");
    static const boost::regex fact("(.+)=(.+)");
    ModuleFileInfo info;
    std::map<std::string, std::string> descriptions;
    for (const auto& entry : entries) {
        boost::smatch m;
        if (boost::regex_match(entry, m, param)) {
            info.parameters.push_back({m[1].str(), m[2].str(), ""});
        } else if (boost::regex_match(entry, m, description)) {
            descriptions[m[1].str()] = m[2].str();
        } else if (boost::regex_match(entry, m, nspace)) {
            HostCtl::System::ModuleNamespace ns{m[2].str(), m[3].str()};
            if (m[1].str() == "Required")
                info.requiredNamespaces.push_back(ns);
            else
                info.providedNamespace = ns;
        } else if (boost::regex_match(entry, m, fact)) {
            info.facts[m[1].str()] = m[2].str();
        } else {
            throw HostCtlException("Unknown data in module info '" + entry + "'");
        }
    }
    // A description may come before or after its parameter's declaration.
    for (auto& p : info.parameters)
        if (auto it = descriptions.find(p.name); it != descriptions.end()) p.description = it->second;
    return info;
}

ModuleFileInfo ReadModuleHeader(const std::string& hostPath) {
    std::string real = Platform::HostPath(hostPath);
    int fd = ::open(real.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw HostCtlException("Failed to open module file " + hostPath + " for reading: " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw HostCtlException("Failed to fstat module file " + hostPath + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) < sizeof(Elf64_Ehdr))
        throw HostCtlException("Not a valid 64-bit ELF file");
    size_t size = static_cast<size_t>(st.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED)
        throw HostCtlException("Failed to mmap module " + hostPath + ": " + std::strerror(errno));
    struct Unmapper {
        void* p;
        size_t n;
        ~Unmapper() { ::munmap(p, n); }
    } unmapper{map, size};
    return ParseModInfoEntries(ReadModInfoSection(static_cast<const uint8_t*>(map), size));
}

}  // namespace TarnCtl::System
