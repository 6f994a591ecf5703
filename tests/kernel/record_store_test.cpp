// The simulated kernel's record storage as its users see it through
// KernelState: writes, replacements that grow and shrink, removals among
// thousands of neighbours, space reuse after heavy churn, the ordered
// questions, the copies Find hands out, a failed call leaving no trace, and
// records surviving another process's load of the state.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "../../sim/kernel/core_internal.h"
#include "fixture.h"
#include "platform/sysinfo.h"
#include "sim/kernel.h"
#include "sim/profile.h"

namespace {

using TarnSim::KernelState;

constexpr const char* kModule = "recordtest";

std::string Value(int i, size_t size) {
    std::string v = "v" + std::to_string(i) + ":";
    while (v.size() < size)
        v.push_back(static_cast<char>('a' + (i + v.size()) % 26));
    v.resize(size);
    return v;
}

class RecordStoreTest : public TarnTest::HostTest {
protected:
    void SetUp() override {
        TarnTest::HostTest::SetUp();
        TarnSim::Profile::InitHost("{}");
    }
    void Put(uint32_t node, const TarnSim::InstancePath& path, const std::string& v) {
        TarnSim::WithState([&](KernelState& s) { s.Write(kModule, node, path, v.data(), v.size()); }, true);
    }
    // The record, or "(none)".
    std::string Get(uint32_t node, const TarnSim::InstancePath& path) {
        std::string out = "(none)";
        TarnSim::WithState([&](KernelState& s) {
            if (const std::string* r = s.Find(kModule, node, path))
                out = *r;
        });
        return out;
    }
};

TEST_F(RecordStoreTest, ReplacementsGrowAndShrinkInPlaceOrMoved) {
    Put(1, {"dev"}, Value(1, 40));
    Put(1, {"other"}, Value(2, 40));
    EXPECT_EQ(Get(1, {"dev"}), Value(1, 40));
    Put(1, {"dev"}, Value(3, 10));  // smaller: the old bytes must not show
    EXPECT_EQ(Get(1, {"dev"}), Value(3, 10));
    Put(1, {"dev"}, Value(4, 40));  // back within the first size
    EXPECT_EQ(Get(1, {"dev"}), Value(4, 40));
    Put(1, {"dev"}, Value(5, 300));  // larger than ever
    EXPECT_EQ(Get(1, {"dev"}), Value(5, 300));
    Put(1, {"dev"}, "");
    EXPECT_EQ(Get(1, {"dev"}), "");
    EXPECT_EQ(Get(1, {"other"}), Value(2, 40));
    // Same key, other node or module: separate records.
    EXPECT_EQ(Get(2, {"dev"}), "(none)");
    TarnSim::WithState([&](KernelState& s) {
        EXPECT_FALSE(s.Has("", 1, {"dev"}));
        EXPECT_TRUE(s.Has(kModule, 1, {"dev"}));
    });
}

TEST_F(RecordStoreTest, RemovalsAmongManyNeighboursKeepEveryOtherRecord) {
    constexpr int kCount = 5000;
    TarnSim::WithState(
        [&](KernelState& s) {
            for (int i = 0; i < kCount; ++i) {
                const std::string v = Value(i, 24);
                s.Write(kModule, 7, {"naa." + std::to_string(i)}, v.data(), v.size());
            }
            for (int i = 0; i < kCount; i += 2)
                EXPECT_TRUE(s.Remove(kModule, 7, {"naa." + std::to_string(i)}));
            EXPECT_FALSE(s.Remove(kModule, 7, {"naa.0"}));
        },
        true);
    TarnSim::WithState([&](KernelState& s) {
        int wrong = 0;
        for (int i = 0; i < kCount; ++i) {
            const std::string* r = s.Find(kModule, 7, {"naa." + std::to_string(i)});
            wrong += i % 2 ? !(r && *r == Value(i, 24)) : r != nullptr;
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(s.Instances(kModule, 7).size(), static_cast<size_t>(kCount / 2));
    });
    // Removed keys can come back.
    Put(7, {"naa.0"}, "again");
    EXPECT_EQ(Get(7, {"naa.0"}), "again");
    EXPECT_EQ(Get(7, {"naa.1"}), Value(1, 24));
}

TEST_F(RecordStoreTest, HeavyChurnKeepsTheLatestValues) {
    // Far more replaced and removed bytes than live ones, so the space is reused.
    TarnSim::WithState(
        [&](KernelState& s) {
            for (int round = 0; round < 40; ++round)
                for (int i = 0; i < 200; ++i) {
                    const std::string v = Value(round * 1000 + i, 100 + static_cast<size_t>(round) * 8);
                    s.Write(kModule, 3, {"d" + std::to_string(i), "p"}, v.data(), v.size());
                    if (round % 3 == 2 && i % 5 == 0)
                        s.Remove(kModule, 3, {"d" + std::to_string(i), "p"});
                }
        },
        true);
    TarnSim::WithState([&](KernelState& s) {
        for (int i = 0; i < 200; ++i) {
            const std::string* r = s.Find(kModule, 3, {"d" + std::to_string(i), "p"});
            ASSERT_TRUE(r) << i;
            EXPECT_EQ(*r, Value(39 * 1000 + i, 100 + 39 * 8)) << i;
        }
        EXPECT_EQ(s.Instances(kModule, 3).size(), 200u);
    });
}

TEST_F(RecordStoreTest, OrderedQuestionsAndRemovalBelowAPath) {
    Put(1, {"dev", "10"}, "a");
    Put(1, {"dev", "9"}, "b");
    Put(2, {"dev", "2"}, "c");
    Put(1, {"zzz"}, "d");
    TarnSim::WithState([&](KernelState& s) {
        EXPECT_EQ(s.Instances(kModule, 1, {"dev"}), (std::vector<std::string>{"9", "10"}));
        EXPECT_EQ(s.Instances(kModule, 1), (std::vector<std::string>{"dev", "zzz"}));
        std::vector<std::pair<std::string, uint32_t>> mine;
        for (const auto& n : s.Nodes())
            if (n.first == kModule)
                mine.push_back(n);
        EXPECT_EQ(mine, (std::vector<std::pair<std::string, uint32_t>>{{kModule, 1}, {kModule, 2}}));
    });
    TarnSim::WithState([&](KernelState& s) { EXPECT_EQ(s.RemoveBelow(kModule, {"dev"}), 3u); }, true);
    EXPECT_EQ(Get(1, {"dev", "10"}), "(none)");
    EXPECT_EQ(Get(2, {"dev", "2"}), "(none)");
    EXPECT_EQ(Get(1, {"zzz"}), "d");
    TarnSim::WithState([&](KernelState& s) {
        std::vector<std::pair<std::string, uint32_t>> mine;
        for (const auto& n : s.Nodes())
            if (n.first == kModule)
                mine.push_back(n);
        EXPECT_EQ(mine, (std::vector<std::pair<std::string, uint32_t>>{{kModule, 1}}));
    });
}

TEST_F(RecordStoreTest, FindResultsStayValidForTheDocumentedNumberOfCalls) {
    for (unsigned i = 0; i < KernelState::kFindResults; ++i)
        Put(4, {std::to_string(i)}, Value(static_cast<int>(i), 64));
    TarnSim::WithState([&](KernelState& s) {
        std::vector<const std::string*> held;
        for (unsigned i = 0; i < KernelState::kFindResults; ++i)
            held.push_back(s.Find(kModule, 4, {std::to_string(i)}));
        for (unsigned i = 0; i < KernelState::kFindResults; ++i) {
            ASSERT_TRUE(held[i]);
            EXPECT_EQ(*held[i], Value(static_cast<int>(i), 64));
        }
        // Typed reads of a short record zero the rest; a missing one leaves the target alone.
        struct Wide {
            char text[96];
            uint32_t tail;
        } wide;
        std::memset(&wide, 0x5a, sizeof wide);
        ASSERT_TRUE(s.Read(kModule, 4, {"0"}, &wide));
        EXPECT_EQ(std::string(wide.text, 64), Value(0, 64));
        EXPECT_EQ(wide.text[64], 0);
        EXPECT_EQ(wide.tail, 0u);
        std::memset(&wide, 0x5a, sizeof wide);
        EXPECT_FALSE(s.Read(kModule, 4, {"missing"}, &wide));
        EXPECT_EQ(wide.tail, 0x5a5a5a5au);
    });
}

TEST_F(RecordStoreTest, AFailedCallLeavesNoTraceAndOthersLoadTheSameRecords) {
    Put(5, {"keep"}, Value(1, 50));
    Put(5, {"gone"}, Value(2, 50));
    // A handler that changes records and then fails: everything is undone.
    TarnSim::RegisterNode(kModule, 9, {.set = [](TarnSim::Call& c) -> TARN_ReturnStatus {
        const std::string v = Value(9, 500);
        c.state.Write(kModule, 5, {"keep"}, v.data(), v.size());
        c.state.Write(kModule, 5, {"new"}, v.data(), v.size());
        c.state.Remove(kModule, 5, {"gone"});
        return TARN_BUSY;
    }});
    TarnCtl::Util::Sysinfo si(9);
    si.SetModule(kModule);
    si.SetThrowOnError(false);
    si.AddInput("x");
    EXPECT_EQ(si.Set(), TARN_BUSY);
    EXPECT_EQ(Get(5, {"keep"}), Value(1, 50));
    EXPECT_EQ(Get(5, {"gone"}), Value(2, 50));
    EXPECT_EQ(Get(5, {"new"}), "(none)");
    // Another process loads the persisted state afresh and finds the same records.
    const pid_t pid = fork();
    if (pid == 0) {
        const bool same = Get(5, {"keep"}) == Value(1, 50) && Get(5, {"gone"}) == Value(2, 50) &&
                          Get(5, {"new"}) == "(none)" && Get(1, {"dev"}) == "(none)";
        _exit(same ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(RecordStoreTest, AWholesaleResetIsUndoneWhenItFailsAndKeptWhenItSucceeds) {
    Put(5, {"keep"}, Value(1, 50));
    auto reset = [](bool fail) {
        TarnSim::RunExclusive([&](KernelState& s) {
            s.data().Clear(false);
            for (int i = 0; i < 200; ++i) {
                const std::string v = Value(i, 30);
                s.Write(kModule, 6, {"r" + std::to_string(i)}, v.data(), v.size());
            }
            if (fail)
                throw std::runtime_error("reset failed");
        });
    };
    EXPECT_THROW(reset(true), std::runtime_error);
    EXPECT_EQ(Get(5, {"keep"}), Value(1, 50));
    EXPECT_EQ(Get(6, {"r0"}), "(none)");
    reset(false);
    EXPECT_EQ(Get(5, {"keep"}), "(none)");
    EXPECT_EQ(Get(6, {"r199"}), Value(199, 30));
    // A later change journals again: another process sees both.
    Put(6, {"r0"}, Value(7, 12));
    const pid_t pid = fork();
    if (pid == 0) {
        const bool same = Get(5, {"keep"}) == "(none)" && Get(6, {"r199"}) == Value(199, 30) &&
                          Get(6, {"r0"}) == Value(7, 12);
        _exit(same ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
