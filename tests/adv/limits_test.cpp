// Both sides of every limit of the option code: user option definitions
// (name, description, default, flags, range) and kernel options whose kernel
// keeps another value than the one given. Every refusal stores nothing.
#include "adv_fixture.h"

#include "adv/adv_names.h"
#include "adv/user_option_impl.h"
#include "hostctl/exception.h"

#include <functional>

namespace AdvTest {
namespace {

using HaldenConfigStore::ConfigStoreObjectId;
using HostCtl::Lib::HostCtlException;
using TarnCtl::Adv::AdvStore;
using TarnCtl::Adv::UserAdvancedOptionImpl;

struct DefinitionRow {
    const char* what;
    std::function<void(UserAdvancedOptionImpl&)> add;
    const char* name;   // the option the row defines
    const char* error;  // "" when accepted
};

bool Defined(const std::string& name) {
    return AdvStore()->Get(ConfigStoreObjectId("user_var_definitions", "advanced_options", "halden", name)) != nullptr;
}

TEST_F(AdvHostTest, UserOptionDefinitionLimits) {
    const std::string name128(128, 'n'), name129(129, 'n');
    const std::string text511(511, 'd'), text512(512, 'd');
    const DefinitionRow rows[] = {
        {"name of 128", [&](UserAdvancedOptionImpl& u) { u.AddUserIntegerOption(name128, "", 1, 0, 2, 0); },
         name128.c_str(), ""},
        {"name of 129", [&](UserAdvancedOptionImpl& u) { u.AddUserIntegerOption(name129, "", 1, 0, 2, 0); },
         name129.c_str(), "Invalid user option name: "},
        {"empty name", [&](UserAdvancedOptionImpl& u) { u.AddUserIntegerOption("", "", 1, 0, 2, 0); }, "",
         "Invalid user option name: "},
        {"description of 511", [&](UserAdvancedOptionImpl& u) { u.AddUserIntegerOption("D511", text511, 1, 0, 2, 0); },
         "D511", ""},
        {"description of 512", [&](UserAdvancedOptionImpl& u) { u.AddUserIntegerOption("D512", text512, 1, 0, 2, 0); },
         "D512", "Invalid description: longer than 511 characters"},
        {"string default of 511", [&](UserAdvancedOptionImpl& u) { u.AddUserStringOption("S511", "", text511, 0); },
         "S511", ""},
        {"string default of 512", [&](UserAdvancedOptionImpl& u) { u.AddUserStringOption("S512", "", text512, 0); },
         "S512", "Invalid default value: longer than 511 characters"},
        {"all four flags", [&](UserAdvancedOptionImpl& u) { u.AddUserIntegerOption("F15", "", 1, 0, 2, 0xf); }, "F15",
         ""},
        {"flag 16", [&](UserAdvancedOptionImpl& u) { u.AddUserIntegerOption("F16", "", 1, 0, 2, 0x10); }, "F16",
         "Invalid user option flags: 16"},
        {"minimum equals maximum", [&](UserAdvancedOptionImpl& u) { u.AddUserIntegerOption("Eq", "", 3, 3, 3, 0); },
         "Eq", ""},
        {"minimum above maximum", [&](UserAdvancedOptionImpl& u) { u.AddUserIntegerOption("Inv", "", 3, 4, 3, 0); },
         "Inv", "Invalid range [4-3]: minimum above maximum"},
        {"default at minimum", [&](UserAdvancedOptionImpl& u) { u.AddUserIntegerOption("Lo", "", -5, -5, 5, 0); },
         "Lo", ""},
        {"default below minimum", [&](UserAdvancedOptionImpl& u) { u.AddUserIntegerOption("Lo1", "", -6, -5, 5, 0); },
         "Lo1", "Value -6 is not in the allowed range [-5-5]"},
        {"default at maximum", [&](UserAdvancedOptionImpl& u) { u.AddUserIntegerOption("Hi", "", 5, -5, 5, 0); },
         "Hi", ""},
        {"default above maximum", [&](UserAdvancedOptionImpl& u) { u.AddUserIntegerOption("Hi1", "", 6, -5, 5, 0); },
         "Hi1", "Value 6 is not in the allowed range [-5-5]"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        UserAdvancedOptionImpl users;
        std::string error;
        try {
            row.add(users);
        } catch (const HostCtlException& e) {
            error = e.what();
        }
        if (*row.error == '\0') {
            EXPECT_EQ(error, "");
            EXPECT_TRUE(Defined(row.name));
        } else {
            // Name refusals carry the name; the others are exact.
            if (std::string(row.error) == "Invalid user option name: ")
                EXPECT_EQ(error, row.error + std::string(row.name));
            else
                EXPECT_EQ(error, row.error);
            if (*row.name) {
                EXPECT_FALSE(Defined(row.name));
            }
        }
    }
}

TEST_F(AdvHostTest, KernelKeepsItsOwnValueAndThatIsWhatIsStored) {
    // The kernel rounds pipe buffers down to whole pages.
    auto o = Int("/UserObj/UserObjPipeBufferSize");
    o->SetValue(10000);
    EXPECT_EQ(o->GetValue(), 8192);
    EXPECT_EQ(Int("/UserObj/UserObjPipeBufferSize")->GetValue(), 8192);
    auto object = StoreObject("userObj");
    ASSERT_TRUE(object);
    long stored = 0;
    EXPECT_TRUE(object->GetValue(TarnCtl::Adv::GetConfigstoreOptionName("UserObj", "UserObjPipeBufferSize"), &stored))
        << object->GetData();
    EXPECT_EQ(stored, 8192);
    const auto audit = Audit();
    ASSERT_FALSE(audit.empty());
    EXPECT_EQ(Items(audit.back()), "value=8192");

    // Setting what the kernel already keeps is audited as no change.
    o->SetValue(8192 + 4095);
    EXPECT_EQ(Items(Audit().back()), "value=8192,comment=no change");

    // An exact page stays as given; the boundaries of the range too.
    for (long v : {4096L, 12288L, 1048576L}) {
        o->SetValue(v);
        EXPECT_EQ(Int("/UserObj/UserObjPipeBufferSize")->GetValue(), v);
    }
}

}  // namespace
}  // namespace AdvTest
