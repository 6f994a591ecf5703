// Module file metadata: the parser's view of the real module files against
// binutils' readelf, malformed and truncated files refused with their exact
// messages, and the order in which entries are classified.
#include <elf.h>

#include <cstring>
#include <sstream>

#include "hostctl/exception.h"
#include "modules_fixture.h"
#include "system/module_impl.h"
#include "system/module_info.h"

using HostCtl::Lib::HostCtlException;
using TarnCtl::System::ModuleImpl;
using TarnCtl::System::ParseModInfoEntries;
using TarnCtl::System::ReadModInfoSection;

namespace {

const std::vector<std::string> kModuleFiles = {"cbrc_filter_2", "fc_qlx.o", "ipmi_si",   "iscsi_sw",
                                               "nic_e1g",       "nic_tg10", "nic_tg25",  "nvme_tarn",
                                               "sas_mpt3",      "sata_ahci", "tarn_hid", "usb_storage"};

class ElfTest : public ModTest::ModulesHostTest {
protected:
    std::string ModulePath(const std::string& file) const { return Real("/usr/lib/quillon/tarnmod/" + file); }

    // readelf's string dump of the section, one entry a line.
    static std::vector<std::string> ReadelfStrings(const std::string& path) {
        std::string out = ModTest::Run({"readelf", "-p", ".tarnmodinfo", path});
        std::vector<std::string> entries;
        std::istringstream in(out);
        std::string line;
        while (std::getline(in, line)) {
            size_t open = line.find('[');
            size_t close = line.find("]  ", open == std::string::npos ? 0 : open);
            if (open == std::string::npos || close == std::string::npos) continue;
            entries.push_back(line.substr(close + 3));
        }
        return entries;
    }

    struct Section {
        unsigned index = 0;
        uint64_t offset = 0, size = 0;
    };
    // readelf's section table entry of .tarnmodinfo.
    static Section ReadelfSection(const std::string& path) {
        std::string out = ModTest::Run({"readelf", "-S", "-W", path});
        std::istringstream in(out);
        std::string line;
        while (std::getline(in, line)) {
            if (line.find(" .tarnmodinfo ") == std::string::npos) continue;
            Section s;
            std::string rest = line.substr(line.find('[') + 1);
            s.index = static_cast<unsigned>(std::stoul(rest));
            std::istringstream fields(line.substr(line.find(']') + 1));
            std::string name, type, addr, off, size;
            fields >> name >> type >> addr >> off >> size;
            s.offset = std::stoull(off, nullptr, 16);
            s.size = std::stoull(size, nullptr, 16);
            return s;
        }
        ADD_FAILURE() << "readelf shows no .tarnmodinfo in " << path;
        return {};
    }

    static std::vector<std::string> Parse(const std::string& image) {
        return ReadModInfoSection(reinterpret_cast<const uint8_t*>(image.data()), image.size());
    }

    static std::string Refusal(const std::string& image) {
        try {
            Parse(image);
        } catch (const HostCtlException& e) {
            return e.what();
        }
        return "(accepted)";
    }

    template <typename T>
    static void Patch(std::string& image, size_t offset, T value) {
        std::memcpy(image.data() + offset, &value, sizeof(T));
    }
    static Elf64_Ehdr Header(const std::string& image) {
        Elf64_Ehdr h;
        std::memcpy(&h, image.data(), sizeof(h));
        return h;
    }
    static size_t SectionHeaderAt(const std::string& image, unsigned index) {
        Elf64_Ehdr h = Header(image);
        return h.e_shoff + static_cast<size_t>(index) * h.e_shentsize;
    }
};

TEST_F(ElfTest, EveryModuleFileMatchesReadelf) {
    ModuleImpl::GetAllModuleNames();  // first use of the host installs the files
    for (const auto& file : kModuleFiles) {
        SCOPED_TRACE(file);
        std::string image = ModTest::ReadFile(ModulePath(file));
        ASSERT_FALSE(image.empty());
        std::vector<std::string> expected = ReadelfStrings(ModulePath(file));
        ASSERT_GE(expected.size(), 4u);
        EXPECT_EQ(Parse(image), expected);
        EXPECT_NE(ModTest::Run({"readelf", "-h", ModulePath(file)}).find("ELF64"), std::string::npos);
    }
}

TEST_F(ElfTest, MetadataOfANicDriver) {
    ModuleImpl m("nic_tg10");
    auto params = m.GetParameters();
    ASSERT_EQ(params.size(), 4u);
    EXPECT_EQ(params[0].name, "max_vfs");
    EXPECT_EQ(params[0].type, "array of int");
    EXPECT_EQ(params[0].description, "Number of virtual functions per port (0 = SR-IOV off)");
    EXPECT_EQ(params[2].name, "interrupt_mode");
    EXPECT_EQ(params[2].description, "Interrupt mode: 0=legacy, 1=MSI, 2=MSI-X");
    EXPECT_EQ(params[3].type, "byte");
    EXPECT_EQ(m.GetFileVersion(), "4.2.8-1tarn");
    EXPECT_EQ(m.GetLicense(), "ThirdParty:BSD");
    EXPECT_EQ(m.GetNamespace().name, "tarn_nic_tg");
    EXPECT_EQ(m.GetNamespace().version, "1.0");
    auto required = m.GetRequiredNamespaces();
    ASSERT_EQ(required.size(), 1u);
    EXPECT_EQ(required[0].name, "tarn_net_core");
    EXPECT_EQ(required[0].version, "4.0");
    EXPECT_EQ(m.GetFilePath(), "/usr/lib/quillon/tarnmod/nic_tg10");
}

TEST_F(ElfTest, ObjectSuffixIsFoundAndNamespacesAccumulate) {
    ModuleImpl m("fc_qlx");
    EXPECT_EQ(m.GetName(), "fc_qlx");
    EXPECT_EQ(m.GetFileName(), "fc_qlx.o");
    EXPECT_EQ(m.GetFilePath(), "/usr/lib/quillon/tarnmod/fc_qlx.o");
    auto required = m.GetRequiredNamespaces();
    ASSERT_EQ(required.size(), 2u);
    EXPECT_EQ(required[1].name, "tarn_scsi_mid");
    EXPECT_EQ(required[1].version, "2.1");
}

TEST_F(ElfTest, TruncatedFilesAreRefusedAtEveryLength) {
    ModuleImpl::GetAllModuleNames();
    std::string image = ModTest::ReadFile(ModulePath("nic_tg10"));
    Section s = ReadelfSection(ModulePath("nic_tg10"));
    Elf64_Ehdr h = Header(image);
    for (size_t len = 0; len < image.size(); ++len) {
        SCOPED_TRACE(len);
        std::string cut = image.substr(0, len);
        std::string why = Refusal(cut);
        if (len < sizeof(Elf64_Ehdr)) {
            EXPECT_EQ(why, "Not a valid 64-bit ELF file");
        } else {
            ASSERT_LT(len, h.e_shoff + static_cast<size_t>(h.e_shnum) * h.e_shentsize);
            EXPECT_EQ(why, "Malformed module file: section headers out of bounds");
        }
    }
    // The section itself ends well before the headers: a cut just inside it is
    // caught by the header check already, so check the section bound directly.
    EXPECT_LT(s.offset + s.size, h.e_shoff);
}

TEST_F(ElfTest, SectionBoundIsExact) {
    ModuleImpl::GetAllModuleNames();
    std::string image = ModTest::ReadFile(ModulePath("nic_tg10"));
    Section s = ReadelfSection(ModulePath("nic_tg10"));
    size_t sizeField = SectionHeaderAt(image, s.index) + offsetof(Elf64_Shdr, sh_size);
    std::string exact = image, over = image;
    Patch<uint64_t>(exact, sizeField, image.size() - s.offset);
    Patch<uint64_t>(over, sizeField, image.size() - s.offset + 1);
    EXPECT_NO_THROW(Parse(exact));
    EXPECT_EQ(Refusal(over), "Malformed module file: section .tarnmodinfo out of bounds");
    // An offset + size that wraps around 64 bits is out of bounds, not small.
    std::string wrap = image;
    Patch<uint64_t>(wrap, sizeField, UINT64_MAX - s.offset + 2);
    EXPECT_EQ(Refusal(wrap), "Malformed module file: section .tarnmodinfo out of bounds");
}

TEST_F(ElfTest, CorruptedHeadersAreRefused) {
    ModuleImpl::GetAllModuleNames();
    const std::string image = ModTest::ReadFile(ModulePath("nic_tg10"));
    Section s = ReadelfSection(ModulePath("nic_tg10"));
    Elf64_Ehdr h = Header(image);
    size_t strtab = SectionHeaderAt(image, h.e_shstrndx);
    size_t mine = SectionHeaderAt(image, s.index);
    struct Case {
        const char* what;
        std::function<void(std::string&)> corrupt;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"bad magic", [](std::string& i) { i[1] = 'X'; }, "Not a valid 64-bit ELF file"},
        {"32-bit class", [](std::string& i) { i[EI_CLASS] = ELFCLASS32; }, "Not a valid 64-bit ELF file"},
        {"big endian", [](std::string& i) { i[EI_DATA] = ELFDATA2MSB; }, "Not a valid 64-bit ELF file"},
        {"no section headers", [](std::string& i) { Patch<uint16_t>(i, offsetof(Elf64_Ehdr, e_shnum), 0); },
         "Malformed module file: no section headers"},
        {"short header entries",
         [](std::string& i) { Patch<uint16_t>(i, offsetof(Elf64_Ehdr, e_shentsize), sizeof(Elf64_Shdr) - 1); },
         "Malformed module file: no section headers"},
        {"headers past the end", [&](std::string& i) { Patch<uint64_t>(i, offsetof(Elf64_Ehdr, e_shoff), i.size()); },
         "Malformed module file: section headers out of bounds"},
        {"header offset wraps",
         [](std::string& i) { Patch<uint64_t>(i, offsetof(Elf64_Ehdr, e_shoff), UINT64_MAX - 10); },
         "Malformed module file: section headers out of bounds"},
        {"too many headers", [](std::string& i) { Patch<uint16_t>(i, offsetof(Elf64_Ehdr, e_shnum), 0xfeff); },
         "Malformed module file: section headers out of bounds"},
        {"name table index out of range",
         [&](std::string& i) { Patch<uint16_t>(i, offsetof(Elf64_Ehdr, e_shstrndx), h.e_shnum); },
         "Malformed module file: no section name table"},
        {"name table undefined", [](std::string& i) { Patch<uint16_t>(i, offsetof(Elf64_Ehdr, e_shstrndx), 0); },
         "Malformed module file: no section name table"},
        {"name table past the end",
         [&](std::string& i) { Patch<uint64_t>(i, strtab + offsetof(Elf64_Shdr, sh_offset), i.size()); },
         "Malformed module file: section name table out of bounds"},
        {"name table without bits",
         [&](std::string& i) { Patch<uint32_t>(i, strtab + offsetof(Elf64_Shdr, sh_type), SHT_NOBITS); },
         "Malformed module file: section name table out of bounds"},
        {"section past the end",
         [&](std::string& i) { Patch<uint64_t>(i, mine + offsetof(Elf64_Shdr, sh_offset), i.size() + 1); },
         "Malformed module file: section .tarnmodinfo out of bounds"},
        {"section without bits",
         [&](std::string& i) { Patch<uint32_t>(i, mine + offsetof(Elf64_Shdr, sh_type), SHT_NOBITS); },
         "Malformed module file: section .tarnmodinfo out of bounds"},
        {"section renamed",
         [&](std::string& i) {
             Elf64_Shdr names;
             std::memcpy(&names, i.data() + strtab, sizeof(names));
             uint32_t name;
             std::memcpy(&name, i.data() + mine + offsetof(Elf64_Shdr, sh_name), sizeof(name));
             i[names.sh_offset + name + 1] = 'X';
         },
         "No .tarnmodinfo section in module file"},
        {"name offset at the table's last byte",
         [&](std::string& i) {
             Elf64_Shdr names;
             std::memcpy(&names, i.data() + strtab, sizeof(names));
             Patch<uint32_t>(i, mine + offsetof(Elf64_Shdr, sh_name), static_cast<uint32_t>(names.sh_size - 1));
         },
         "No .tarnmodinfo section in module file"},
        {"name offset past the table",
         [&](std::string& i) { Patch<uint32_t>(i, mine + offsetof(Elf64_Shdr, sh_name), UINT32_MAX); },
         "No .tarnmodinfo section in module file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bad = image;
        c.corrupt(bad);
        EXPECT_EQ(Refusal(bad), c.message);
    }
}

TEST_F(ElfTest, EntriesSplitAtNulAndSkipEmptyOnes) {
    // A section whose last entry has no terminating NUL still yields it.
    ModuleImpl::GetAllModuleNames();
    std::string image = ModTest::ReadFile(ModulePath("cbrc_filter_2"));
    Section s = ReadelfSection(ModulePath("cbrc_filter_2"));
    std::string body = std::string("a=1") + '\0' + '\0' + "b=2" + '\0' + "c=3";
    std::string patched = image;
    ASSERT_GE(s.size, body.size());
    std::memcpy(patched.data() + s.offset, body.data(), body.size());
    Patch<uint64_t>(patched, SectionHeaderAt(image, s.index) + offsetof(Elf64_Shdr, sh_size), body.size());
    EXPECT_EQ(Parse(patched), (std::vector<std::string>{"a=1", "b=2", "c=3"}));
}

TEST_F(ElfTest, ModuleFileProblemsReachTheCaller) {
    ModuleImpl::GetAllModuleNames();
    ModTest::WriteFile(ModulePath("nic_e1g"), std::string("\x7f" "ELF", 4));
    EXPECT_THROW(
        {
            try {
                ModuleImpl("nic_e1g").GetParameters();
            } catch (const HostCtlException& e) {
                EXPECT_STREQ(e.what(), "Not a valid 64-bit ELF file");
                throw;
            }
        },
        HostCtlException);
    try {
        ModuleImpl("/usr/lib/quillon/tarnmod/none").GetParameters();
        ADD_FAILURE() << "a missing file was read";
    } catch (const HostCtlException& e) {
        EXPECT_STREQ(e.what(),
                     "Failed to open module file /usr/lib/quillon/tarnmod/none for reading: No such file or directory");
    }
}

struct EntryCase {
    std::vector<std::string> entries;
    const char* expect;  // summary of the classification, or the refusal
};

std::string Summary(const TarnCtl::System::ModuleFileInfo& info) {
    std::string s;
    for (const auto& p : info.parameters) s += "P(" + p.name + "|" + p.type + "|" + p.description + ")";
    if (!info.providedNamespace.name.empty())
        s += "N(" + info.providedNamespace.name + "|" + info.providedNamespace.version + ")";
    for (const auto& r : info.requiredNamespaces) s += "R(" + r.name + "|" + r.version + ")";
    for (const auto& [k, v] : info.facts) s += "F(" + k + "|" + v + ")";
    return s;
}

TEST(ModInfoEntries, PatternOrderDecides) {
    const std::vector<EntryCase> cases = {
        {{"param_max_vfs:array of int"}, "P(max_vfs|array of int|)"},
        {{"param_desc_max_vfs=VFs: 0=off", "param_max_vfs:array of int"}, "P(max_vfs|array of int|VFs: 0=off)"},
        // A description with a colon is still a description, not a parameter.
        {{"param_x:int", "param_desc_x=a:b"}, "P(x|int|a:b)"},
        // The parameter name stops at the first ':'; the type takes the rest.
        {{"param_a:b:c"}, "P(a|b:c|)"},
        {{"nsProvides=tarn_api#2.0"}, "N(tarn_api|2.0)"},
        {{"nsRequired=a#b#c"}, "R(a#b|c)"},
        {{"version=1.0", "license=GPL"}, "F(license|GPL)F(version|1.0)"},
        // A fact's key runs to the last '='.
        {{"alias=pci=8086"}, "F(alias=pci|8086)"},
        {{"param_a-b:int=1"}, "F(param_a-b:int|1)"},
        {{"param_desc_undeclared=text"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expect);
        EXPECT_EQ(Summary(ParseModInfoEntries(c.entries)), c.expect);
    }
}

TEST(ModInfoEntries, UnmatchedEntriesAreRefused) {
    for (const std::string entry : {"justtext", "param_x:", "=value", "key=", "nsRequired=nohash", "param_a-b:int"}) {
        SCOPED_TRACE(entry);
        try {
            ParseModInfoEntries({"version=1", entry});
            if (entry == "nsRequired=nohash") continue;  // a plain fact
            ADD_FAILURE() << "accepted";
        } catch (const HostCtlException& e) {
            EXPECT_EQ(std::string(e.what()), "Unknown data in module info '" + entry + "'");
        }
    }
    EXPECT_EQ(Summary(ParseModInfoEntries({"nsRequired=nohash"})), "F(nsRequired|nohash)");
}

}  // namespace
