// Behaviour of the kernel client against the simulated kernel: message
// selection, kernel events, instance paths and marks, lists, records, undo of
// refused calls, fault injection, and state shared between processes.
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "fixture.h"
#include "platform/boot.h"
#include "platform/configstore.h"
#include "platform/hostroot.h"
#include "platform/sysinfo.h"
#include "sim/kernel.h"
#include "sim/profile.h"

namespace {

using TarnCtl::Lib::SysinfoException;
using TarnCtl::Util::Sysinfo;
using TarnCtl::Util::SysinfoUtil;

// Nodes of a test-only kernel module, so no domain's model interferes.
constexpr const char* kMod = "ktest";
constexpr uint32_t kPlain = 1;   // plain record storage
constexpr uint32_t kAction = 2;  // Set(status, key): writes a record, then returns `status`

struct Rec {
    uint32_t a;
    uint32_t b;
    char name[16];
};

const TarnSim::NodeRegistration kActionNode(kMod, kAction, {
    .set = [](TarnSim::Call& c) -> TARN_ReturnStatus {
        int64_t status = 0;
        std::string key;
        if (!c.InputInt(0, &status) || !c.InputText(1, &key))
            return TARN_MISSING_PARAMETER;
        Rec r{7, 8, "written"};
        c.state.Put(kMod, kPlain, {key}, r);
        c.state.SetAreaValue("ktest", key, "touched");
        if (status != 0) {
            TarnSim::RaiseEvent("first event for " + key);
            TarnSim::RaiseEvent("second event");
        }
        return static_cast<TARN_ReturnStatus>(status);
    },
});

class KernelTest : public TarnTest::HostTest {
protected:
    static void PutPlain(const std::vector<std::string>& path, uint32_t a) {
        Sysinfo s(kPlain);
        s.SetModule(kMod);
        for (const auto& k : path)
            s.AddInstancePath(k);
        Rec r{a, a * 2, "rec"};
        s.SetStruct(&r, sizeof r);
    }
    static TARN_ReturnStatus RunAction(TARN_ReturnStatus status, const std::string& key,
                                       bool throwOn = false) {
        Sysinfo s(kAction);
        s.SetModule(kMod);
        s.SetThrowOnError(throwOn);
        s.AddInput(static_cast<long>(status));
        s.AddInput(key);
        return s.Set();
    }
};

// ---- Failure messages ----------------------------------------------------------

struct MessageCase {
    const char* label;
    const char* perStatus;  // set for TARN_BUSY, or null
    const char* fallback;   // default message, or null
    TARN_ReturnStatus status;
    const char* expected;
};

TEST_F(KernelTest, FailureMessageFollowsPerStatusThenDefaultThenStatusText) {
    const MessageCase cases[] = {
        {"per-status wins", "Device is busy", "Cannot change it", TARN_BUSY, "Device is busy"},
        {"other status uses default", "Device is busy", "Cannot change it", TARN_EXISTS,
         "Cannot change it"},
        {"no default: status text", "Device is busy", nullptr, TARN_EXISTS, "Already exists"},
        {"nothing set: status text", nullptr, nullptr, TARN_BUSY, "Busy"},
        {"unknown code", nullptr, nullptr, 0x0bad0999, "Unknown status 0xbad0999"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Sysinfo s(kAction);
        s.SetModule(kMod);
        if (c.perStatus)
            s.SetMessageForError(TARN_BUSY, c.perStatus);
        if (c.fallback)
            s.SetDefaultErrorMessage(c.fallback);
        s.AddInput(static_cast<long>(c.status));
        s.AddInput("k");
        try {
            s.Set();
            FAIL() << "no exception";
        } catch (const SysinfoException& e) {
            EXPECT_STREQ(e.what(), c.expected);
            EXPECT_EQ(e.GetStatus(), c.status);
        }
        EXPECT_EQ(s.MessageFor(c.status), c.expected);
    }
}

TEST_F(KernelTest, ExceptionCarriesTheKernelEventsRaisedDuringTheCall) {
    try {
        RunAction(TARN_BUSY, "dev1", true);
        FAIL() << "no exception";
    } catch (const SysinfoException& e) {
        ASSERT_EQ(e.GetKevtMessage().Events().size(), 2u);
        EXPECT_EQ(e.GetKevtMessage().Events()[0], "first event for dev1");
        EXPECT_EQ(e.GetKevtMessage().Events()[1], "second event");
    }
}

TEST_F(KernelTest, ThrowOffReturnsTheStatusAndThrowStatusThrowsTheSame) {
    EXPECT_EQ(RunAction(TARN_NOT_FOUND, "x"), TARN_NOT_FOUND);
    Sysinfo s(kPlain);
    s.SetDefaultErrorMessage("Unable to read the thing");
    TARN_ReturnStatus st = TARN_BUSY;
    try {
        s.ThrowStatus(st, {});
        FAIL();
    } catch (const SysinfoException& e) {
        EXPECT_STREQ(e.what(), "Unable to read the thing");
        EXPECT_EQ(e.GetStatus(), TARN_BUSY);
    }
}

TEST_F(KernelTest, VerboseThrowNamesTheNodeAndStatus) {
    Sysinfo s(KSI_NODE_system_version);
    s.SetVerboseThrow(true);
    s.SetDefaultErrorMessage("Unable to read");
    s.SetInstance("a");
    TARN_ReturnStatus st = TARN_BUSY;
    try {
        s.ThrowStatus(st, {});
        FAIL();
    } catch (const SysinfoException& e) {
        EXPECT_STREQ(e.what(), "Unable to read (node /system/version/a); Status(0xbad0004)= Busy");
    }
}

// ---- Refused calls change nothing ------------------------------------------------

TEST_F(KernelTest, RefusedCallLeavesNoRecordAndNoAreaValue) {
    EXPECT_EQ(RunAction(TARN_BUSY, "dev1"), TARN_BUSY);
    Rec r{};
    Sysinfo get(kPlain);
    get.SetModule(kMod);
    get.SetThrowOnError(false);
    get.SetInstance("dev1");
    EXPECT_EQ(get.Get(&r, sizeof r), TARN_NOT_FOUND);
    TarnSim::WithState([](TarnSim::KernelState& s) { EXPECT_FALSE(s.HasAreaValue("ktest", "dev1")); });

    EXPECT_EQ(RunAction(TARN_OK, "dev1"), TARN_OK);
    EXPECT_EQ(get.Get(&r, sizeof r), TARN_OK);
    EXPECT_EQ(r.a, 7u);
    EXPECT_STREQ(r.name, "written");
}

TEST_F(KernelTest, SetWithoutHandlerIsNotSupported) {
    Sysinfo s(kPlain);
    s.SetModule(kMod);
    s.SetThrowOnError(false);
    s.AddInput("x");
    EXPECT_EQ(s.Set(), TARN_NOT_SUPPORTED);
}

// ---- Records, instance paths, marks, lists ---------------------------------------------

TEST_F(KernelTest, RecordReadFillsShortBuffersAndZeroesLongOnes) {
    PutPlain({"d"}, 5);
    uint32_t first = 0;
    Sysinfo s(kPlain);
    s.SetModule(kMod);
    s.SetInstance("d");
    s.Get(&first, sizeof first);
    EXPECT_EQ(first, 5u);
    char big[sizeof(Rec) + 8];
    std::memset(big, 0x5a, sizeof big);
    s.Get(big, sizeof big);
    for (size_t i = sizeof(Rec); i < sizeof big; ++i)
        EXPECT_EQ(big[i], 0);
}

TEST_F(KernelTest, IntegerAndTextKeysAddressTheSameInstance) {
    PutPlain({"hbx1", "3"}, 11);
    Rec r{};
    Sysinfo s(kPlain);
    s.SetModule(kMod);
    s.SetInstance("hbx1");
    s.AddInstancePath(3L);
    s.Get(&r, sizeof r);
    EXPECT_EQ(r.a, 11u);
}

TEST_F(KernelTest, MarkWalksSiblingsBelowOneParent) {
    PutPlain({"dev", "p", "1"}, 1);
    PutPlain({"dev", "p", "2"}, 2);
    Sysinfo s(kPlain);
    s.SetModule(kMod);
    s.SetInstance("dev");
    s.AddInstancePath("p");
    s.SetMark();
    Rec r{};
    for (long i : {1L, 2L}) {
        s.SetMarkInstance(i);
        ASSERT_EQ(s.Instance().size(), 3u);
        s.Get(&r, sizeof r);
        EXPECT_EQ(r.a, static_cast<uint32_t>(i));
    }
    s.RemoveInstancePath();
    EXPECT_EQ(s.Instance().size(), 2u);
    EXPECT_TRUE(s.IsValidInstance(2L));
    EXPECT_FALSE(s.IsValidInstance(3L));
}

TEST_F(KernelTest, MarkWalksTextKeysOfAnyLengthAndKind) {
    const std::string longer(40, 'q');
    PutPlain({"dev", longer}, 1);
    PutPlain({"dev", "s"}, 2);
    PutPlain({"dev", longer + "r"}, 3);
    PutPlain({"dev", "9"}, 4);
    Sysinfo s(kPlain);
    s.SetModule(kMod);
    s.SetInstance("dev");
    s.SetMark();
    // Long after short and short after long, a number between texts: each
    // step addresses exactly its own key.
    struct Step {
        std::string text;
        long number;  // used when text is empty
        uint32_t record;
    } steps[] = {{longer, 0, 1}, {"s", 0, 2}, {longer + "r", 0, 3}, {"", 9, 4}, {"s", 0, 2}, {longer, 0, 1}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.text.empty() ? std::to_string(step.number) : step.text);
        if (step.text.empty())
            s.SetMarkInstance(step.number);
        else
            s.SetMarkInstance(step.text);
        ASSERT_EQ(s.Instance().size(), 2u);
        EXPECT_EQ(s.Instance().back().AsText(), step.text.empty() ? std::to_string(step.number) : step.text);
        Rec r{};
        s.Get(&r, sizeof r);
        EXPECT_EQ(r.a, step.record);
    }
    // A path grown below the mark is cut back to it first.
    s.AddInstancePath("deeper");
    s.SetMarkInstance("s");
    ASSERT_EQ(s.Instance().size(), 2u);
    Rec r{};
    s.Get(&r, sizeof r);
    EXPECT_EQ(r.a, 2u);
}

TEST_F(KernelTest, ListsGiveDirectChildrenInNaturalOrder) {
    for (const char* k : {"10", "2", "1"})
        PutPlain({"bus", k}, 1);
    PutPlain({"bus", "2", "deeper"}, 1);  // not a direct child
    PutPlain({"other", "7"}, 1);
    Sysinfo s(kPlain);
    s.SetModule(kMod);
    s.SetInstance("bus");
    std::vector<std::string> names;
    s.List(names);
    EXPECT_EQ(names, (std::vector<std::string>{"1", "2", "10"}));
    std::vector<long> numbers;
    s.List(numbers);
    EXPECT_EQ(numbers, (std::vector<long>{1, 2, 10}));
    s.ResetInstance();
    s.List(names);
    EXPECT_EQ(names, (std::vector<std::string>{"bus", "other"}));
}

TEST_F(KernelTest, ParameterListHelpersListAndSearch) {
    // A core-kernel id outside the node table, so no domain's model answers it.
    uint32_t node = 0x7e57;
    std::unique_ptr<KSI_ParamListInt, void (*)(KSI_ParamListInt*)> path(
        SysinfoUtil::GetStringParamList({"grp"}), KSI_ParamListDestroy);
    for (long i : {4L, 9L}) {
        std::unique_ptr<KSI_ParamListInt, void (*)(KSI_ParamListInt*)> p(
            SysinfoUtil::GetStringParamList({"grp"}), KSI_ParamListDestroy);
        SysinfoUtil::AddToParamList(p.get(), i);
        int64_t v = i;
        ASSERT_EQ(KSI_SetStruct(nullptr, node, p.get(), &v, sizeof v), TARN_OK);
    }
    EXPECT_EQ(SysinfoUtil::GetIntegerInstanceList(node, path.get()), (std::vector<long>{4, 9}));
    EXPECT_TRUE(SysinfoUtil::IsValidInstance(node, "9", path.get()));
    EXPECT_FALSE(SysinfoUtil::IsValidInstance(node, "5", path.get()));
    std::unique_ptr<KSI_ParamListInt, void (*)(KSI_ParamListInt*)> list(
        SysinfoUtil::GetInstanceList(node, path.get()), KSI_ParamListDestroy);
    EXPECT_EQ(SysinfoUtil::GetNamedStringFromInstanceList(list.get(), "4"), "4");
    EXPECT_EQ(SysinfoUtil::GetNamedStringFromInstanceList(list.get(), "5"), "");

    std::unique_ptr<KSI_ParamListInt, void (*)(KSI_ParamListInt*)> missing(
        SysinfoUtil::GetStringParamList({"nope"}), KSI_ParamListDestroy);
    int64_t v;
    try {
        SysinfoUtil::SysinfoGet(node, &v, sizeof v, missing.get());
        FAIL();
    } catch (const SysinfoException& e) {
        EXPECT_EQ(e.GetStatus(), TARN_NOT_FOUND);
        EXPECT_STREQ(e.what(), "Not found");
    }
}

// ---- Fault injection ------------------------------------------------------------------

TEST_F(KernelTest, FaultFailsTheGivenNumberOfCallsThenRecovers) {
    PutPlain({"d"}, 1);
    TarnSim::InjectFault({kMod, kPlain, "", TARN_BUSY, 2});
    Sysinfo s(kPlain);
    s.SetModule(kMod);
    s.SetThrowOnError(false);
    s.SetInstance("d");
    Rec r{};
    EXPECT_EQ(s.Get(&r, sizeof r), TARN_BUSY);
    EXPECT_EQ(s.Get(&r, sizeof r), TARN_BUSY);
    EXPECT_EQ(s.Get(&r, sizeof r), TARN_OK);
    EXPECT_TRUE(TarnSim::Faults().empty());
}

TEST_F(KernelTest, FaultAtOneInstanceSparesTheOthers) {
    PutPlain({"a"}, 1);
    PutPlain({"b"}, 2);
    TarnSim::InjectFault({kMod, kPlain, "b", TARN_INVALID_STATE, 1});
    Rec r{};
    Sysinfo s(kPlain);
    s.SetModule(kMod);
    s.SetThrowOnError(false);
    s.SetInstance("a");
    EXPECT_EQ(s.Get(&r, sizeof r), TARN_OK);
    s.SetInstance("b");
    EXPECT_EQ(s.Get(&r, sizeof r), TARN_INVALID_STATE);
    EXPECT_EQ(s.Get(&r, sizeof r), TARN_OK);
}

TEST_F(KernelTest, FaultOnSetLeavesStateUntouchedAndIsConsumed) {
    TarnSim::InjectFault({kMod, kAction, "", TARN_NO_MEMORY, 1});
    EXPECT_EQ(RunAction(TARN_OK, "k1"), TARN_NO_MEMORY);
    TarnSim::WithState([](TarnSim::KernelState& s) { EXPECT_FALSE(s.HasAreaValue("ktest", "k1")); });
    EXPECT_EQ(RunAction(TARN_OK, "k1"), TARN_OK);
}

TEST_F(KernelTest, FaultsAreSharedBetweenProcesses) {
    PutPlain({"d"}, 1);
    // Injected by one process (as `hostctl sim fault` does), consumed by others.
    ASSERT_EQ(TarnTest::RunInChild([] { TarnSim::InjectFault({kMod, kPlain, "d", TARN_BUSY, 3}); }), 0);
    auto get = [] {
        Rec r{};
        Sysinfo s(kPlain);
        s.SetModule(kMod);
        s.SetThrowOnError(false);
        s.SetInstance("d");
        return s.Get(&r, sizeof r);
    };
    EXPECT_EQ(TarnTest::RunInChild([&] { _exit(get() == TARN_BUSY ? 0 : 1); }), 0);
    EXPECT_EQ(get(), TARN_BUSY);
    EXPECT_EQ(get(), TARN_BUSY);
    EXPECT_EQ(get(), TARN_OK);
    EXPECT_EQ(TarnTest::RunInChild([&] { _exit(get() == TARN_OK ? 0 : 1); }), 0);
}

// ---- One kernel across processes ---------------------------------------------------------

TEST_F(KernelTest, ConcurrentProcessesLoseNoWrite) {
    constexpr int kPerChild = 150;
    std::vector<pid_t> kids;
    for (int c = 0; c < 2; ++c) {
        pid_t pid = fork();
        if (pid == 0) {
            for (int i = 0; i < kPerChild; ++i)
                PutPlain({"c" + std::to_string(c), std::to_string(i)}, static_cast<uint32_t>(i));
            _exit(0);
        }
        kids.push_back(pid);
    }
    for (pid_t p : kids) {
        int st;
        waitpid(p, &st, 0);
        ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    }
    for (int c = 0; c < 2; ++c) {
        Sysinfo s(kPlain);
        s.SetModule(kMod);
        s.SetInstance("c" + std::to_string(c));
        std::vector<long> keys;
        s.List(keys);
        EXPECT_EQ(keys.size(), static_cast<size_t>(kPerChild));
    }
}

TEST_F(KernelTest, EachHostRootHasItsOwnKernel) {
    PutPlain({"only-here"}, 1);
    std::string first = Platform::HostRoot();
    std::string second = TarnTest::MakeFreshRoot();
    Sysinfo s(kPlain);
    s.SetModule(kMod);
    s.SetThrowOnError(false);
    s.SetInstance("only-here");
    Rec r{};
    EXPECT_EQ(s.Get(&r, sizeof r), TARN_NOT_FOUND);
    Platform::SetHostRoot(first);
    EXPECT_EQ(s.Get(&r, sizeof r), TARN_OK);
    TarnTest::RemoveTree(second);
}

// ---- Profiles and boot --------------------------------------------------------------------

TEST_F(KernelTest, FreshRootBootsFromTheBuiltInProfile) {
    TarnSim::WithState([](TarnSim::KernelState& s) {
        EXPECT_EQ(s.GetAreaValue("host", "name"), "tarnhost01");
    });
}

TEST_F(KernelTest, InitFromProfileResetsKernelAndStore) {
    PutPlain({"old"}, 1);
    auto store = HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
    auto obj = std::make_shared<HaldenConfigStore::ConfigStoreObject>(
        HaldenConfigStore::ConfigStoreObjectId("k", "g", "halden"));
    obj->SetValue("v", 1);
    store->Write(obj);
    TarnSim::InjectFault({kMod, kPlain, "", TARN_BUSY, 5});

    TarnSim::Profile::InitHost(R"({"host": {"name": "lab7"}})");
    TarnSim::WithState([](TarnSim::KernelState& s) {
        EXPECT_EQ(s.GetAreaValue("host", "name"), "lab7");
        EXPECT_FALSE(s.Has(kMod, kPlain, {"old"}));
    });
    EXPECT_TRUE(TarnSim::Faults().empty());
    EXPECT_EQ(store->Get(obj->GetConfigStoreObjectId()), nullptr);
}

TEST_F(KernelTest, InvalidProfileIsRefusedAndChangesNothing) {
    PutPlain({"kept"}, 1);
    try {
        TarnSim::Profile::InitHost("[1, 2]");
        FAIL();
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Invalid profile: the top level must be a JSON object");
    }
    EXPECT_THROW(TarnSim::Profile::InitHost("{\"host\": "), HostCtl::Lib::HostCtlException);
    TarnSim::WithState([](TarnSim::KernelState& s) { EXPECT_TRUE(s.Has(kMod, kPlain, {"kept"})); });
}

std::vector<std::string> gBootLog;
const Platform::Boot::Step kLate("ktest.late", 900, [] {
    auto store = HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
    gBootLog.push_back(std::string("late boot=") + (store->IsBoot() ? "1" : "0"));
});
const Platform::Boot::Step kEarly("ktest.early", 100, [] {
    gBootLog.push_back("early");
    throw HostCtl::Lib::HostCtlException("early step broke");
});

TEST_F(KernelTest, RebootResetsKernelKeepsFaultsAndRunsStepsInOrder) {
    PutPlain({"volatile"}, 1);
    TarnSim::InjectFault({kMod, kPlain, "", TARN_BUSY, 1});
    gBootLog.clear();
    TarnSim::Profile::Reboot();
    EXPECT_EQ(gBootLog, (std::vector<std::string>{"early", "late boot=1"}));
    auto store = HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
    EXPECT_FALSE(store->IsBoot());
    TarnSim::WithState([](TarnSim::KernelState& s) { EXPECT_FALSE(s.Has(kMod, kPlain, {"volatile"})); });
    EXPECT_EQ(TarnSim::Faults().size(), 1u);
}

TEST_F(KernelTest, GeneratedProfileHoldsEveryAreaAndBootsAHost) {
    TarnSim::GenerateOptions o;
    o.values["seed"] = 42;
    std::string text = TarnSim::Profile::Generate(o);
    EXPECT_NE(text.find("\"tarnhost-gen42\""), std::string::npos);
    TarnSim::Profile::InitHost(text);
    TarnSim::WithState([](TarnSim::KernelState& s) {
        EXPECT_EQ(s.GetAreaValue("host", "name"), "tarnhost-gen42");
    });
}

// ---- Node table -------------------------------------------------------------------------

TEST(KsiNodes, TableHasUniqueIdsAndNamesFollowPaths) {
    unsigned n = 0;
    const KsiNodeEntry* t = KsiNodeTable(&n);
    ASSERT_GT(n, 100u);
    std::set<uint32_t> ids;
    for (unsigned i = 0; i < n; ++i) {
        EXPECT_TRUE(ids.insert(t[i].id).second) << t[i].path;
        std::string name = std::string(t[i].path).substr(1);
        for (char& c : name)
            if (c == '/')
                c = '_';
        EXPECT_EQ(name, t[i].name);
        EXPECT_EQ(KsiNodeById(t[i].id), &t[i]);
    }
    EXPECT_EQ(KsiNodeById(12345), nullptr);
    uint32_t id = 0;
    EXPECT_TRUE(TarnSim::ResolveNode("storage_scsifw_devices", &id));
    EXPECT_EQ(id, KSI_NODE_storage_scsifw_devices);
    EXPECT_TRUE(TarnSim::ResolveNode("/storage/scsifw/devices", &id));
    EXPECT_EQ(id, KSI_NODE_storage_scsifw_devices);
    EXPECT_FALSE(TarnSim::ResolveNode("no_such_node", &id));
}

}  // namespace
