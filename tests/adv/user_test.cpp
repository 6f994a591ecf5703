// Administrator-defined options: definitions in the store, range limits, the
// disabled-protocols rule and the product locker location.
#include "adv_fixture.h"

#include "adv/user_option_impl.h"
#include "hostctl/exception.h"
#include "hostctl/host.h"

#include <algorithm>
#include <functional>

namespace AdvTest {
namespace {

using HaldenConfigStore::ConfigStoreObjectId;
using HostCtl::Lib::HostCtlException;
using namespace TarnCtl::Adv;
using namespace HostCtl::Adv;

class UserOptionTest : public AdvHostTest {
protected:
    static std::string Message(const std::function<void()>& fn) {
        try {
            fn();
        } catch (const HostCtlException& e) {
            return e.what();
        }
        return "";
    }
    static std::shared_ptr<HaldenConfigStore::ConfigStoreObject> Get(const std::string& key, const std::string& inst,
                                                                     const std::string& group = "advanced_options") {
        return AdvStore()->Get(ConfigStoreObjectId(key, group, "halden", inst));
    }
    UserAdvancedOptionImpl users;
};

TEST_F(UserOptionTest, IntegerRangeLimits) {
    users.AddUserIntegerOption("Retries", "How often", 5, 1, 10, 0);
    auto o = Int("/UserVars/Retries");
    EXPECT_EQ(Message([&] { o->SetValue(11); }), "Value 11 is not in the allowed range [1-10]");
    EXPECT_EQ(Message([&] { o->SetValue(0); }), "Value 0 is not in the allowed range [1-10]");
    EXPECT_FALSE(Get("user_vars", "Retries"));
    o->SetValue(1);
    EXPECT_EQ(Int("/UserVars/Retries")->GetValue(), 1);
    o->SetValue(10);
    EXPECT_EQ(Int("/UserVars/Retries")->GetValue(), 10);
    long v = 0;
    ASSERT_TRUE(Get("user_vars", "Retries"));
    EXPECT_TRUE(Get("user_vars", "Retries")->GetValue("integer_value", &v));
    EXPECT_EQ(v, 10);
    EXPECT_EQ(Message([&] { users.AddUserIntegerOption("Bad", "", 11, 1, 10, 0); }),
              "Value 11 is not in the allowed range [1-10]");
}

TEST_F(UserOptionTest, DefinitionIsStoredAndAudited) {
    users.AddUserIntegerOption("Level", "A level", 2, 0, 7, USER_OPT_HIDDEN | USER_OPT_REBOOT_REQUIRED |
                                                                  USER_OPT_MAINTENANCE_MODE_REQUIRED);
    users.AddUserStringOption("Motto", "A motto", "hello", USER_OPT_HOST_SPECIFIC);
    auto def = Get("user_var_definitions", "Level");
    ASSERT_TRUE(def);
    EXPECT_EQ(def->GetData(),
              R"({"description":"A level","hidden":true,"host_specific":false,"impact":"REBOOT_REQUIRED",)"
              R"("integer_definition":{"integer_default":2,"max":7,"min":0},"option_name":"Level","type":"INTEGER"})");
    auto sdef = Get("user_var_definitions", "Motto");
    ASSERT_TRUE(sdef);
    EXPECT_FALSE(sdef->HasValue("impact"));
    EXPECT_EQ(Message([&] { users.AddUserStringOption("Motto", "", "x", 0); }), "Duplicate user option found");
    EXPECT_EQ(Message([&] { users.AddUserStringOption("ProductLockerLocation", "", "x", 0); }),
              "Duplicate user option found");

    EXPECT_EQ(Int("/UserVars/Level")->GetImpact(), "reboot");
    EXPECT_TRUE(Str("/UserVars/Motto")->IsHostSpecific());
    Str("/UserVars/Motto")->SetValue("carpe diem");
    users.DeleteOption("Motto", false);
    EXPECT_FALSE(Get("user_var_definitions", "Motto"));
    EXPECT_FALSE(Get("user_vars", "Motto"));
    EXPECT_EQ(Message([&] { Str("/UserVars/Motto"); }), "Unable to find option Motto");
    EXPECT_EQ(Message([&] { AdvancedUserStringOptionImpl("Motto").GetValue(); }),
              "Unable to get values for unregistered UserVar Motto");

    auto log = Audit();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].event, "settings.advanced.add");
    EXPECT_EQ(log[0].object, "/UserVars/Level");
    EXPECT_EQ(log[2].event, "settings.advanced.set");
    EXPECT_EQ(Items(log[2]), "value=carpe diem");
    EXPECT_EQ(log[3].event, "settings.advanced.delete");
    EXPECT_EQ(log[3].object, "/UserVars/Motto");
}

TEST_F(UserOptionTest, UpdateKeepsStoredValuesInRange) {
    users.AddUserIntegerOption("Width", "", 5, 0, 100, 0);
    Int("/UserVars/Width")->SetValue(50);
    EXPECT_EQ(Message([&] { users.UpdateUserIntegerOption("Width", "", 5, 0, 10, 0); }),
              "Value 50 is not in the allowed range [0-10]");
    users.UpdateUserIntegerOption("Width", "Wider", 5, 0, 60, 0);
    auto o = Int("/UserVars/Width");
    EXPECT_EQ(o->GetMaximum(), 60);
    EXPECT_EQ(o->GetValue(), 50);
    EXPECT_EQ(o->GetDescription(), "Wider");
    EXPECT_EQ(Message([&] { users.UpdateUserStringOption("Width", "", "x", 0); }),
              "Invalid type: user option Width is an integer option");
}

TEST_F(UserOptionTest, DisabledProtocolsRule) {
    struct Case {
        const char* value;
        bool accepted;
    } cases[] = {
        {"sslv3,tlsv1,tlsv1.1", true},
        {"TLSv1.1, SSLv3, TLSv1", true},
        {"tlsv1.1 tlsv1 sslv3 tlsv1.3", true},
        {"sslv3,tlsv1,tlsv1.1,TLSv1.3", true},
        {"sslv3,tlsv1", false},
        {"sslv3,tlsv1,tlsv1.1,tlsv1.2", false},
        {"sslv3,tlsv1,tlsv1.1,tlsv2", false},
        {"", false},
    };
    const std::string refusal = "sslv3, tlsv1, tlsv1.1 must be disabled. Optionally tlsv1.3 can be be disabled";
    for (const auto& c : cases) {
        auto o = Str("/UserVars/HaldenVPsDisabledProtocols");
        std::string before = o->GetValue();
        std::string m = Message([&] { o->SetValue(c.value); });
        auto last = Audit().back();
        if (c.accepted) {
            EXPECT_EQ(m, "") << c.value;
            EXPECT_EQ(Str("/UserVars/HaldenVPsDisabledProtocols")->GetValue(), c.value);
            EXPECT_EQ(last.result, 1);
        } else {
            EXPECT_EQ(m, refusal) << c.value;
            EXPECT_EQ(Str("/UserVars/HaldenVPsDisabledProtocols")->GetValue(), before) << c.value;
            EXPECT_EQ(last.event, "settings.advanced.set");
            EXPECT_EQ(last.result, 0);
            EXPECT_EQ(Items(last), "reason=" + refusal + ",value=" + c.value);
        }
    }
}

TEST_F(UserOptionTest, ProductLockerLocation) {
    auto o = Str("/UserVars/ProductLockerLocation");
    o->SetValue("/kdfs/volumes/datastore1/tools/repo");
    auto locker = Get("product_locker", "", "system");
    ASSERT_TRUE(locker);
    EXPECT_EQ(locker->GetData(), R"({"datastore_name":"datastore1","path":"/tools/repo"})");
    EXPECT_FALSE(Get("user_vars", "ProductLockerLocation"));
    EXPECT_EQ(Str("/UserVars/ProductLockerLocation")->GetValue(), "/kdfs/volumes/datastore1/tools/repo");

    o->SetValue("/kdfs/volumes/datastore1");
    EXPECT_EQ(Get("product_locker", "", "system")->GetData(), R"({"path":"/kdfs/volumes/datastore1"})");

    o->SetValue(o->GetDefaultValue());
    EXPECT_FALSE(Get("product_locker", "", "system"));
    EXPECT_EQ(Str("/UserVars/ProductLockerLocation")->GetValue(), "/locker/packages/tools");
    EXPECT_TRUE(Audit().empty());
}

TEST_F(UserOptionTest, ListingShowsBuiltInAndDefinedOptions) {
    users.AddUserIntegerOption("Secret", "", 1, 0, 1, USER_OPT_HIDDEN);
    auto branch = HostCtl::HostFactory::GetHost()->GetAdvancedOptions()->GetBranchByName("UserVars");
    auto names = [](const auto& list) {
        std::vector<std::string> out;
        for (const auto& o : list) out.push_back(o->GetOptionName());
        return out;
    };
    auto visible = names(branch->GetOptions(false));
    auto all = names(branch->GetOptions(true));
    EXPECT_EQ(std::count(visible.begin(), visible.end(), "Secret"), 0);
    EXPECT_EQ(std::count(all.begin(), all.end(), "Secret"), 1);
    EXPECT_EQ(std::count(all.begin(), all.end(), "ProductLockerLocation"), 1);
    EXPECT_EQ(Message([&] { users.DeleteOption("ProductLockerLocation", false); }),
              "Unable to delete built-in user option ProductLockerLocation");
}

}  // namespace
}  // namespace AdvTest
