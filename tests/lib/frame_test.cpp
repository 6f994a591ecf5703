// The host frame as a client sees it: exceptions and their texts, kernel
// events riding along, audit records, the result cache, the host object and printing.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <atomic>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "fixture.h"
#include "host/host_impl.h"
#include "hostctl/exception.h"
#include "hostctl/host.h"
#include "hostctl/storage.h"
#include "lib/cache.h"
#include "platform/audit.h"
#include "platform/kevt.h"
#include "platform/printer.h"

namespace {

using HostCtl::Lib::HostCtlException;
using HostCtl::Lib::KevtMessage;

TEST(Exceptions, PlainMessageHasNoEvents) {
    HostCtlException e("x");
    EXPECT_STREQ(e.what(), "x");
    EXPECT_TRUE(e.GetKevtMessage().Empty());
    EXPECT_EQ(e.GetDetailedMessage(), "x");
}

TEST(Exceptions, KernelEventsRideAlongAndShareOneList) {
    KevtMessage kevts;
    {
        TarnCtl::Lib::TarnCtlKevtLib outer;
        {
            TarnCtl::Lib::TarnCtlKevtLib inner;
            TarnCtl::Lib::RaiseKernelEvent("Device busy");
            inner.KevtsToKevtMessage(kevts);
        }
        TarnCtl::Lib::RaiseKernelEvent("after");
    }
    TarnCtl::Lib::RaiseKernelEvent("nobody listens");
    HostCtlException e("Failed to detach", kevts);
    HostCtlException copy = e;
    EXPECT_EQ(copy.GetKevtMessage().Events(), std::vector<std::string>{"Device busy"});
    EXPECT_EQ(e.GetDetailedMessage(), "Failed to detach\nDevice busy");
}

TEST(Exceptions, SubclassTextsAndFields) {
    KevtMessage none;
    EXPECT_STREQ(HostCtl::Lib::OsfsExceptionCannotCreateFile("m", none).what(), "m (Cannot Create File)");
    EXPECT_STREQ(HostCtl::Lib::OsfsExceptionTimedOut("m", none).what(), "m (Operation Timed Out)");
    EXPECT_STREQ(HostCtl::Lib::OsfsExceptionDirectoryNotEmpty("m", none).what(), "m (Directory not Empty)");
    HostCtl::Lib::OsfsExceptionFileAlreadyExists exists("m", none, "f.vmdk");
    EXPECT_STREQ(exists.what(), "m (File Already Exists)");
    EXPECT_EQ(exists.GetFileName(), "f.vmdk");
    EXPECT_STREQ(HostCtl::Lib::NasAuthUserNotSetException().what(), "User not set on host");
    HostCtl::Lib::DpuNumLimitException dpu("a", "b", "c", "d", "e", "too many");
    EXPECT_STREQ(dpu.what(), "too many");
    EXPECT_EQ(dpu.Party(4), "e");
    HostCtl::Lib::Morra::MorraCtlException m("short", "long");
    EXPECT_STREQ(m.what(), "short");
    EXPECT_EQ(m.GetDetailedMessage(), "long");
}

struct OsfsCase {
    TARN_ReturnStatus status;
    const char* suffix;
};

void PrintTo(const OsfsCase& c, std::ostream* os) { *os << std::hex << c.status; }

class OsfsMapping : public ::testing::TestWithParam<OsfsCase> {};

TEST_P(OsfsMapping, ChoosesTheSubclassByStatus) {
    try {
        HostCtl::Lib::ThrowOsfsException("Unable to open f", KevtMessage(), GetParam().status, "f");
    } catch (const HostCtlException& e) {
        EXPECT_EQ(std::string(e.what()), std::string("Unable to open f") + GetParam().suffix);
        if (auto* fault = dynamic_cast<const HostCtl::Lib::OsfsExceptionFileFault*>(&e))
            EXPECT_EQ(fault->GetStatus(), GetParam().status);
    }
}

INSTANTIATE_TEST_SUITE_P(Statuses, OsfsMapping,
                         ::testing::Values(OsfsCase{0x0bad0003, " (File Not Found)"},
                                           OsfsCase{0x0bad0005, " (File Already Exists)"},
                                           OsfsCase{0x0bad0021, " (Operation Timed Out)"},
                                           OsfsCase{0x0bad0056, " (Directory not Empty)"},
                                           OsfsCase{0x0bad0001, " (General File Fault)"}));

TEST(Exceptions, IscsiTexts) {
    EXPECT_STREQ(TarnCtl::Storage::iScsiException(0x80000008, "login").what(),
                 "iScsiException: status(0x80000008): LUN is busy; Message= login");
    EXPECT_STREQ(TarnCtl::Storage::iScsiException(2, "x").what(),
                 "iScsiException: status(0x2): unknown error; Message= x");
    EXPECT_STREQ(TarnCtl::Storage::iScsiException::StatusText(0xc0000004), "That name is too long");
}

TEST(Exceptions, StatusTail) {
    EXPECT_EQ(HostCtl::Lib::StatusTail(0x0bad0004), "; Status(0xbad0004)= Busy");
    EXPECT_STREQ(TARN_ReturnStatusToString(0x0bad0005), "Already exists");
    EXPECT_STREQ(TARN_ReturnStatusToString(0x0bad9999), "Unknown status 0xbad9999");
}

class AuditTest : public TarnTest::HostTest {};

using Items = std::vector<std::pair<std::string, std::string>>;

TEST_F(AuditTest, SuccessCarriesOnlyItsPairsWithoutContext) {
    TarnCtl::Util::EmitAudit::Details::SetAuditContext("root", "", "");
    TarnCtl::Util::EmitAudit::Success("settings.advanced.set", "/Net/Mtu", "value", "9000");
    auto log = Platform::Audit::ReadLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].event, "settings.advanced.set");
    EXPECT_EQ(log[0].user, "root");
    EXPECT_EQ(log[0].object, "/Net/Mtu");
    EXPECT_EQ(log[0].result, 1);
    EXPECT_EQ(log[0].items, (Items{{"value", "9000"}}));
}

TEST_F(AuditTest, FailureLeadsWithReasonAndContextFollows) {
    TarnCtl::Util::EmitAudit::Details::SetAuditContext("admin", "10.0.0.9", "op-17");
    TarnCtl::Util::EmitAudit::Failure("e", "r", "o");
    std::string v = "1";
    TarnCtl::Util::EmitAudit::Failure("e2", "bad", "o2", "value", v, "comment", "no change");
    TarnCtl::Util::EmitAudit::Details::SetAuditContext("root", "", "");
    auto log = Platform::Audit::ReadLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].result, 0);
    EXPECT_EQ(log[0].user, "admin");
    EXPECT_EQ(log[0].items, (Items{{"reason", "r"}, {"ip", "10.0.0.9"}, {"opID", "op-17"}}));
    EXPECT_EQ(log[1].items, (Items{{"reason", "bad"}, {"value", "1"}, {"comment", "no change"},
                                   {"ip", "10.0.0.9"}, {"opID", "op-17"}}));
}

// A cache that counts how often it computes.
class CountingCache : public TarnCtl::Lib::TarnCtlCache<int> {
public:
    std::atomic<int> populated{0};

protected:
    void _Populate(unsigned long key) override {
        ++populated;
        _cache.erase(key);
        _cache[key] = std::make_shared<std::vector<int>>(std::vector<int>{static_cast<int>(populated.load())});
    }
};

TEST(Cache, OffUntilEnabledPerThreadAndComputedOncePerEntry) {
    CountingCache cache;
    CountingCache::List out;
    EXPECT_FALSE(cache.Get(out));
    EXPECT_FALSE(out);
    cache.Enable();
    ASSERT_TRUE(cache.Get(out));
    ASSERT_TRUE(cache.Get(out));
    EXPECT_EQ(cache.populated, 1);
    // Another thread has no entry of its own.
    std::thread([&] {
        CountingCache::List mine;
        EXPECT_FALSE(cache.Get(mine));
        cache.Enable();
        EXPECT_TRUE(cache.Get(mine));
        cache.Disable();
    }).join();
    EXPECT_EQ(cache.populated, 2);
    cache.Disable();
    EXPECT_FALSE(cache.Get(out));
}

TEST(Cache, GlobalEntryWinsForEveryThread) {
    CountingCache cache;
    cache.Enable();
    CountingCache::List mine;
    ASSERT_TRUE(cache.Get(mine));
    cache.SetGlobal(true);
    std::vector<std::thread> threads;
    std::atomic<int> hits{0};
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            CountingCache::List l;
            if (cache.Get(l) && (*l)[0] == 2)
                ++hits;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(hits, 4);
    EXPECT_EQ(cache.populated, 2);  // the global list is computed once for all
    CountingCache::List again;
    ASSERT_TRUE(cache.Get(again));
    EXPECT_EQ((*again)[0], 2);
    cache.SetGlobal(false);
    ASSERT_TRUE(cache.Get(again));
    EXPECT_EQ((*again)[0], 1);  // back to this thread's own list
}

TEST(Host, OneHostObjectForAllThreads) {
    const HostCtl::Host* host = HostCtl::HostFactory::GetHost();
    std::set<const void*> seen;
    std::mutex m;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            std::lock_guard<std::mutex> lock(m);
            seen.insert(HostCtl::HostFactory::GetHost());
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(seen, std::set<const void*>{host});
}

TEST(Host, AccessorsHandOutIndependentObjects) {
    auto a = HostCtl::HostFactory::GetHost()->GetStorageInfo();
    auto b = HostCtl::HostFactory::GetHost()->GetStorageInfo();
    EXPECT_NE(a.get(), b.get());
    a.reset();
    EXPECT_FALSE(b->GetName().empty());
}

class PrintTest : public TarnTest::HostTest {};

TEST_F(PrintTest, JsonIsValidAndSmartNicComesLast) {
    std::ostringstream out;
    TarnCtl::Lib::ObjectPrinter printer(out, TarnCtl::Lib::ObjectPrinter::Format::Json);
    TarnCtl::HostImpl::Print(&printer);
    rapidjson::Document d;
    ASSERT_FALSE(d.Parse(out.str().c_str()).HasParseError()) << out.str();
    ASSERT_TRUE(d.IsObject());
    EXPECT_STREQ(d["type"].GetString(), "Host");
    std::string last;
    for (auto it = d.MemberBegin(); it != d.MemberEnd(); ++it)
        last = it->name.GetString();
    EXPECT_EQ(last, "smart_nic_info");
    EXPECT_FALSE(d.HasMember("clock_device_info"));
    ASSERT_TRUE(d.HasMember("storage_info"));
    EXPECT_STREQ(d["storage_info"]["type"].GetString(), "Storage Info");
}

TEST(Printer, JsonKeysAreSnakeCaseAndNumbersStayNumbers) {
    std::ostringstream out;
    TarnCtl::Lib::ObjectPrinter p(out, TarnCtl::Lib::ObjectPrinter::Format::Json);
    p.SetType("Disk");
    p.BeginObject();
    p.Print("Size", static_cast<uint64_t>(4096), false, "bytes");
    p.Print("Queue Flags", static_cast<uint32_t>(255), true, nullptr);
    p.Print("Offset", static_cast<int64_t>(-3));
    p.Print("Is SSD", true);
    p.Print("Display Name", std::string("Disk \"A\""));
    {
        TarnCtl::Lib::ObjectPrinter::VectorPrinterHelper list("Other Partitions", &p);
    }
    p.SetType("Partition Info");
    p.BeginObject();
    p.EndObject();
    p.SetType("Partition Info");
    p.BeginObject();
    p.EndObject();
    p.EndObject();
    EXPECT_EQ(out.str(),
              "{\"type\":\"Disk\",\"size\":4096,\"queue_flags\":255,\"offset\":-3,\"is_ssd\":true,"
              "\"display_name\":\"Disk \\\"A\\\"\",\"other_partitions\":[],"
              "\"partition_info\":{\"type\":\"Partition Info\"},\"partition_info_2\":{\"type\":\"Partition Info\"}}\n");
}

TEST(Printer, TextLayoutListsAndNumbers) {
    std::ostringstream out;
    TarnCtl::Lib::ObjectPrinter p(out);
    p.SetType("Disk");
    p.BeginObject();
    p.Print("Size", static_cast<uint64_t>(4096), false, "bytes");
    p.Print("Flags", static_cast<uint32_t>(255), true, nullptr);
    p.Print("Offset", static_cast<int64_t>(-3));
    p.Print("SSD", true);
    {
        TarnCtl::Lib::ObjectPrinter::VectorPrinterHelper list("Partitions", &p);
    }
    p.EndObject();
    EXPECT_EQ(out.str(),
              "Disk {\n   Size: 4096 bytes\n   Flags: 0xff\n   Offset: -3\n   SSD: true\n"
              "   Partitions: [\n   ]\n}\n");
}

}  // namespace
