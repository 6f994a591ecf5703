// Fault injection as tests of other domains use it: which kernel calls a
// fault hits, the skip/count window, program and store faults, refusals, and
// that the faults are one state shared by every process of the host.
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "fixture.h"
#include "hostctl/exception.h"
#include "platform/configstore.h"
#include "platform/exec.h"
#include "platform/misc.h"
#include "platform/sysinfo.h"
#include "sim/faults.h"
#include "sim/kernel.h"
#include "sim_edits.h"

namespace {

using HaldenConfigStore::ConfigStoreException;
using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using TarnCtl::Util::Sysinfo;
using TarnSim::KernelOp;

// A module of plain records only, so no domain's model interferes.
constexpr const char* kMod = "kfault";
constexpr uint32_t kNode = 1;

class FaultTest : public TarnTest::HostTest {
protected:
    void SetUp() override {
        TarnTest::HostTest::SetUp();
        uint32_t v = 5;
        Sysinfo s(kNode);
        s.SetModule(kMod);
        s.SetInstance("d");
        s.SetStruct(&v, sizeof v);
    }
    static TARN_ReturnStatus GetAt(const char* instance, uint32_t* out) {
        Sysinfo s(kNode);
        s.SetModule(kMod);
        s.SetThrowOnError(false);
        s.SetInstance(instance);
        return s.Get(out, sizeof *out);
    }
    static TARN_ReturnStatus SetAt(const char* instance, uint32_t v) {
        Sysinfo s(kNode);
        s.SetModule(kMod);
        s.SetThrowOnError(false);
        s.SetInstance(instance);
        return s.SetStruct(&v, sizeof v);
    }
    static TARN_ReturnStatus Call(KernelOp op, const char* instance = "d") {
        uint32_t v = 5;
        if (op == KernelOp::Get)
            return GetAt(instance, &v);
        if (op == KernelOp::Set)
            return SetAt(instance, v);
        Sysinfo s(kNode);
        s.SetModule(kMod);
        s.SetThrowOnError(false);
        std::vector<std::string> keys;
        return s.List(keys);
    }
    static TarnSim::Fault KernelFault(KernelOp op, unsigned skip, unsigned count) {
        return TarnTest::KernelFault(kNode, TARN_BUSY, {.module = kMod, .op = op, .skip = skip, .count = count});
    }
    static std::shared_ptr<HaldenConfigStore::ConfigStore> Store() {
        return HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
    }
    static std::shared_ptr<ConfigStoreObject> Obj(const std::string& key, long value) {
        auto o = std::make_shared<ConfigStoreObject>(ConfigStoreObjectId(key, "faults", "halden"));
        o->SetValue("value", value);
        return o;
    }
    static long StoredValue(const std::string& key) {
        auto o = Store()->Get(ConfigStoreObjectId(key, "faults", "halden"));
        long v = -1;
        if (o)
            o->GetValue("value", &v);
        return v;
    }
    static int RunChild(const std::function<int()>& fn) {
        pid_t pid = fork();
        if (pid == 0)
            _exit(fn());
        int st = 0;
        waitpid(pid, &st, 0);
        return WIFEXITED(st) ? WEXITSTATUS(st) : 100;
    }
};

// ---- Kernel faults -------------------------------------------------------------------

struct OpCase {
    KernelOp faultOp;
    KernelOp call;
    bool fails;
};

TEST_F(FaultTest, AFaultHitsOnlyTheOperationItTargets) {
    const OpCase cases[] = {
        {KernelOp::Any, KernelOp::Get, true},   {KernelOp::Any, KernelOp::Set, true},
        {KernelOp::Any, KernelOp::List, true},  {KernelOp::Get, KernelOp::Get, true},
        {KernelOp::Get, KernelOp::Set, false},  {KernelOp::Get, KernelOp::List, false},
        {KernelOp::Set, KernelOp::Get, false},  {KernelOp::Set, KernelOp::Set, true},
        {KernelOp::Set, KernelOp::List, false}, {KernelOp::List, KernelOp::Get, false},
        {KernelOp::List, KernelOp::Set, false}, {KernelOp::List, KernelOp::List, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(TarnSim::KernelOpName(c.faultOp)) + " fault, " +
                     TarnSim::KernelOpName(c.call) + " call");
        TarnSim::ClearFaults();
        TarnSim::InjectFault(KernelFault(c.faultOp, 0, 1));
        EXPECT_EQ(Call(c.call), c.fails ? TARN_BUSY : TARN_OK);
        // A fault that did not fire is still pending, untouched.
        auto pending = TarnSim::Faults();
        ASSERT_EQ(pending.size(), c.fails ? 0u : 1u);
        if (!c.fails) {
            EXPECT_EQ(pending[0].count, 1u);
            EXPECT_EQ(pending[0].skip, 0u);
        }
    }
}

TEST_F(FaultTest, SkipLetsKCallsPassThenCountFailThenItIsGone) {
    TarnSim::InjectFault(KernelFault(KernelOp::Get, 2, 3));
    std::vector<TARN_ReturnStatus> seen;
    for (int i = 0; i < 7; ++i)
        seen.push_back(Call(KernelOp::Get));
    EXPECT_EQ(seen, (std::vector<TARN_ReturnStatus>{TARN_OK, TARN_OK, TARN_BUSY, TARN_BUSY, TARN_BUSY,
                                                    TARN_OK, TARN_OK}));
    EXPECT_TRUE(TarnSim::Faults().empty());
}

TEST_F(FaultTest, SetStructCountsAsSetAndSkippedCallsStillChangeTheKernel) {
    TarnSim::InjectFault(KernelFault(KernelOp::Set, 1, 1));
    EXPECT_EQ(SetAt("e", 9), TARN_OK);
    EXPECT_EQ(SetAt("f", 10), TARN_BUSY);
    uint32_t got = 0;
    EXPECT_EQ(GetAt("e", &got), TARN_OK);
    EXPECT_EQ(got, 9u);
    EXPECT_EQ(GetAt("f", &got), TARN_NOT_FOUND);
}

TEST_F(FaultTest, InstanceFaultCountsOnlyCallsAtItsInstance) {
    auto f = KernelFault(KernelOp::Get, 1, 1);
    f.instance = "d";
    TarnSim::InjectFault(f);
    EXPECT_EQ(Call(KernelOp::Get, "other"), TARN_NOT_FOUND);  // neither skipped nor failed
    EXPECT_EQ(Call(KernelOp::Get, "d"), TARN_OK);              // the skipped one
    EXPECT_EQ(Call(KernelOp::Get, "other"), TARN_NOT_FOUND);
    EXPECT_EQ(Call(KernelOp::Get, "d"), TARN_BUSY);
    EXPECT_EQ(Call(KernelOp::Get, "d"), TARN_OK);
}

TEST_F(FaultTest, TheSkipWindowIsSharedBetweenProcesses) {
    TarnSim::InjectFault(KernelFault(KernelOp::Get, 1, 1));
    // The child's call uses up the skip; the parent's next call fails.
    EXPECT_EQ(RunChild([] { return Call(KernelOp::Get) == TARN_OK ? 0 : 1; }), 0);
    EXPECT_EQ(Call(KernelOp::Get), TARN_BUSY);
    EXPECT_EQ(RunChild([] { return Call(KernelOp::Get) == TARN_OK ? 0 : 1; }), 0);
}

TEST_F(FaultTest, TwoFaultsOnOneCallFireOldestFirst) {
    auto a = KernelFault(KernelOp::Get, 0, 1);
    a.status = TARN_NO_MEMORY;
    TarnSim::InjectFault(a);
    TarnSim::InjectFault(KernelFault(KernelOp::Any, 0, 1));
    EXPECT_EQ(Call(KernelOp::Get), TARN_NO_MEMORY);
    EXPECT_EQ(Call(KernelOp::Get), TARN_BUSY);
    EXPECT_EQ(Call(KernelOp::Get), TARN_OK);
}

// ---- Program faults -----------------------------------------------------------------

TEST_F(FaultTest, ProgramExitFaultFailsTheRunWithoutRunningIt) {
    HostCtl::Misc::WriteHostFileAtomic("/etc/init.d/ntpd", "#!/bin/sh\n", 0755);
    TarnSim::ProgramFault f;
    f.program = "/bin/chkconfig";
    f.exitStatus = 3;
    f.skip = 1;
    TarnSim::InjectProgramFault(f);
    std::string out, err;
    EXPECT_EQ(TarnCtl::Util::RunShellCmd(0, "/bin/chkconfig ntpd on", "", out, err), 0);
    EXPECT_EQ(TarnCtl::Util::RunShellCmd(0, "/bin/chkconfig ntpd off", "", out, err), 3);
    EXPECT_EQ(err, "/bin/chkconfig: failed (injected exit status 3)\n");
    // The failed run changed nothing: the service is still enabled.
    EXPECT_EQ(TarnCtl::Util::RunShellCmd(0, "/bin/chkconfig ntpd", "", out, err), 0);
    // ... and was recorded like any run.
    EXPECT_NE(TarnTest::ReadHost("/var/log/tarnctl-exec.log").find("exec: /bin/chkconfig ntpd off"),
              std::string::npos);
    EXPECT_TRUE(TarnSim::AllFaults().programs.empty());
}

TEST_F(FaultTest, ProgramFaultSparesOtherPrograms) {
    HostCtl::Misc::WriteHostFileAtomic("/etc/init.d/ntpd", "#!/bin/sh\n", 0755);
    TarnSim::InjectProgramFault({"/etc/init.d/sshd", TarnSim::ProgramFault::Kind::ExitStatus, 7});
    EXPECT_TRUE(TarnCtl::Util::TarnCtl_Exec("/etc/init.d/ntpd start"));
    ASSERT_EQ(TarnSim::AllFaults().programs.size(), 1u);
    EXPECT_EQ(TarnSim::AllFaults().programs[0].count, 1u);
}

// ---- Store faults --------------------------------------------------------------------

TEST_F(FaultTest, StoreWriteFaultFailsOneWriteAndStoresNothing) {
    Store()->Write(Obj("a", 1));
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Write, 1, 1});
    Store()->Write(Obj("b", 2));  // skipped
    try {
        Store()->Write(Obj("a", 3));
        FAIL() << "the write went through";
    } catch (const ConfigStoreException& e) {
        EXPECT_STREQ(e.what(), "Unable to write halden/faults/a: injected fault");
    }
    EXPECT_EQ(StoredValue("a"), 1);
    EXPECT_EQ(StoredValue("b"), 2);
    Store()->Write(Obj("a", 4));
    EXPECT_EQ(StoredValue("a"), 4);
}

TEST_F(FaultTest, StoreWriteFaultHitsDeletesToo) {
    Store()->Write(Obj("a", 1));
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Write});
    try {
        Store()->Delete(ConfigStoreObjectId("a", "faults", "halden"));
        FAIL() << "the delete went through";
    } catch (const ConfigStoreException& e) {
        EXPECT_STREQ(e.what(), "Unable to delete halden/faults/a: injected fault");
    }
    EXPECT_EQ(StoredValue("a"), 1);
}

TEST_F(FaultTest, StoreCommitFaultDropsTheWholeTransaction) {
    Store()->Write(Obj("a", 1));
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit});
    {
        HaldenConfigStore::ConfigStoreTransaction txn(Store());
        Store()->Write(Obj("a", 2));
        Store()->Write(Obj("b", 2));
        {
            // An inner commit is not the durable one and does not fire the fault.
            HaldenConfigStore::ConfigStoreTransaction inner(Store());
            Store()->Write(Obj("c", 2));
            inner.Commit();
        }
        try {
            txn.Commit();
            FAIL() << "the commit went through";
        } catch (const ConfigStoreException& e) {
            EXPECT_STREQ(e.what(), "Unable to commit the store transaction: injected fault");
        }
    }
    EXPECT_EQ(StoredValue("a"), 1);
    EXPECT_EQ(StoredValue("b"), -1);
    EXPECT_EQ(StoredValue("c"), -1);
    EXPECT_FALSE(Store()->InTransaction());
    HaldenConfigStore::ConfigStoreTransaction txn(Store());
    Store()->Write(Obj("b", 5));
    txn.Commit();
    EXPECT_EQ(StoredValue("b"), 5);
}

TEST(FaultFreshRoot, StoreWritesDoNotBootAKernel) {
    std::string root = TarnTest::MakeFreshRoot();
    auto store = HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
    auto o = std::make_shared<ConfigStoreObject>(ConfigStoreObjectId("k", "faults", "halden"));
    o->SetValue("value", 1L);
    store->Write(o);
    EXPECT_FALSE(HostCtl::Misc::HostFileExists("/var/lib/tarnsim/kernel.state"));
    TarnTest::RemoveTree(root);
}

// ---- Refusals ---------------------------------------------------------------------------

TEST_F(FaultTest, InvalidFaultsAreRefusedAndNothingIsPending) {
    struct Case {
        std::function<void()> inject;
        const char* message;
    };
    auto kernel = [](TARN_ReturnStatus status, unsigned count) {
        return [=] {
            auto f = KernelFault(KernelOp::Any, 0, count);
            f.status = status;
            TarnSim::InjectFault(f);
        };
    };
    auto program = [](const char* path, int exitStatus, unsigned count) {
        return [=] {
            TarnSim::ProgramFault f;
            f.program = path;
            f.exitStatus = exitStatus;
            f.count = count;
            TarnSim::InjectProgramFault(f);
        };
    };
    const Case cases[] = {
        {kernel(TARN_BUSY, 0), "Invalid fault: the count must be at least 1"},
        {kernel(TARN_OK, 1), "Invalid fault: the status must be a failure"},
        {program("/bin/x", 0, 1), "Invalid fault: the exit status must be 1 to 255, not 0"},
        {program("/bin/x", 256, 1), "Invalid fault: the exit status must be 1 to 255, not 256"},
        {program("bin/x", 1, 1), "Invalid fault: the program must be an absolute path, not 'bin/x'"},
        {program("/bin/x", 1, 0), "Invalid fault: the count must be at least 1"},
        {[] { TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Write, 0, 0}); },
         "Invalid fault: the count must be at least 1"},
    };
    for (const auto& c : cases) {
        try {
            c.inject();
            ADD_FAILURE() << "accepted, expected: " << c.message;
        } catch (const HostCtl::Lib::HostCtlException& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
    EXPECT_TRUE(TarnSim::AllFaults().empty());
    // The limits themselves are accepted.
    program("/bin/x", 1, 1)();
    program("/bin/x", 255, 1)();
    EXPECT_EQ(TarnSim::AllFaults().programs.size(), 2u);
}

TEST_F(FaultTest, ClearRemovesEveryKind) {
    TarnSim::InjectFault(KernelFault(KernelOp::Get, 0, 1));
    TarnSim::InjectProgramFault({"/bin/x"});
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit});
    EXPECT_FALSE(TarnSim::AllFaults().empty());
    TarnSim::ClearFaults();
    EXPECT_TRUE(TarnSim::AllFaults().empty());
    EXPECT_EQ(Call(KernelOp::Get), TARN_OK);
}

}  // namespace
