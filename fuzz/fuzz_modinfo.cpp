// libFuzzer harness for the module file metadata parser. Each input is read as
// a whole image, and also laid over a valid built-in module image (XOR, then
// cut to a length the input chooses) so that mutations reach past the header
// checks without a corpus. The parser may refuse only with HostCtlException;
// what it returns must lie inside the image.
#include <elf.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "hostctl/exception.h"
#include "system/module_info.h"

namespace {

// A minimal ELF64 image: header, ".tarnmodinfo" data, name table, three
// section headers (null, .tarnmodinfo, .shstrtab).
std::string Template() {
    const std::string info = std::string("version=1.0") + '\0' + "param_max_vfs:array of int" + '\0' +
                             "param_desc_max_vfs=VFs per port" + '\0' + "nsRequired=tarn_net_core#4.0" + '\0';
    const std::string names = std::string("\0.tarnmodinfo\0.shstrtab\0", 24);
    std::string image(sizeof(Elf64_Ehdr), '\0');
    Elf64_Ehdr h{};
    std::memcpy(h.e_ident, ELFMAG, SELFMAG);
    h.e_ident[EI_CLASS] = ELFCLASS64;
    h.e_ident[EI_DATA] = ELFDATA2LSB;
    h.e_ident[EI_VERSION] = EV_CURRENT;
    h.e_type = ET_REL;
    h.e_machine = EM_X86_64;
    h.e_version = EV_CURRENT;
    h.e_ehsize = sizeof(Elf64_Ehdr);
    h.e_shentsize = sizeof(Elf64_Shdr);
    h.e_shnum = 3;
    h.e_shstrndx = 2;
    size_t infoAt = image.size();
    image += info;
    size_t namesAt = image.size();
    image += names;
    h.e_shoff = image.size();
    Elf64_Shdr sh[3]{};
    sh[1].sh_name = 1;
    sh[1].sh_type = SHT_PROGBITS;
    sh[1].sh_offset = infoAt;
    sh[1].sh_size = info.size();
    sh[2].sh_name = 14;
    sh[2].sh_type = SHT_STRTAB;
    sh[2].sh_offset = namesAt;
    sh[2].sh_size = names.size();
    image.append(reinterpret_cast<const char*>(sh), sizeof(sh));
    std::memcpy(image.data(), &h, sizeof(h));
    return image;
}

void Check(const std::string& image) {
    try {
        auto entries = TarnCtl::System::ReadModInfoSection(reinterpret_cast<const uint8_t*>(image.data()),
                                                           image.size());
        size_t total = 0;
        for (const auto& e : entries) {
            if (e.empty() || e.find('\0') != std::string::npos) std::abort();
            total += e.size() + 1;
        }
        if (total > image.size() + 1) std::abort();
        TarnCtl::System::ParseModInfoEntries(entries);
    } catch (const HostCtl::Lib::HostCtlException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string base = Template();
    Check(std::string(reinterpret_cast<const char*>(data), size));
    std::string overlay = base;
    for (size_t i = 0; i < size; ++i) overlay[i % overlay.size()] ^= static_cast<char>(data[i]);
    if (size > 0 && data[0] & 1) overlay.resize(overlay.size() - (data[size - 1] % overlay.size()));
    Check(overlay);
    return 0;
}
