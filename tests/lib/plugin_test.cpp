// The plug-in loader against real libraries: one that fills the hooks, one
// without the entry symbol, and none at all. Each test runs in its own
// process, so the once-only load starts fresh every time.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <barrier>
#include <thread>

#include "fixture.h"
#include "host/host_impl.h"
#include "host/plugin_hooks.h"
#include "hostctl/exception.h"
#include "network/tarnnic_hooks.h"
#include "platform/log.h"
#include "storage/morra_file_system_impl.h"

namespace {

using TarnCtl::HostImpl;
using TarnCtl::Util::MorraUtilApi;
using Platform::Log::Level;

class PluginTest : public TarnTest::HostTest {};

TEST_F(PluginTest, MissingLibraryIsLoggedOncePerAttemptAndRetried) {
    HostImpl::_pluginPath = "/nonexistent/libmorratarnctl.so";
    Platform::Log::Capture log;
    HostImpl::LoadTarnCtlPlugins();
    EXPECT_EQ(HostImpl::_pluginLoaded, 0);
    EXPECT_EQ(log.Count("TarnCtl: Couldn't open tarnctl Morra plugin: ", Level::Error), 1u);
    // A hook user meets the empty hook after its own attempt.
    EXPECT_THROW(MorraUtilApi::IsMorraEnabled(), HostCtl::Lib::HostCtlException);
    EXPECT_EQ(log.Count("Couldn't open tarnctl Morra plugin", Level::Error), 2u);
    // Users that can do without the plug-in carry on.
    HostCtl::Morra::Uuid uuid{};
    TarnCtl::Storage::MorraFileSystemImpl fs(uuid);
    fs.RefreshCapacity();
    EXPECT_EQ(fs.GetTotalCapacity(), 0u);
    EXPECT_EQ(log.Count("Couldn't open tarnctl Morra plugin", Level::Error), 3u);
}

TEST_F(PluginTest, LibraryWithoutEntrySymbolSetsNoHook) {
    HostImpl::_pluginPath = TEST_NOSYM_PLUGIN;
    Platform::Log::Capture log;
    HostImpl::LoadTarnCtlPlugins();
    EXPECT_EQ(HostImpl::_pluginLoaded, 0);
    EXPECT_EQ(log.Count("TarnCtl: Couldn't locate constructor in Morra plugin: ", Level::Error), 1u);
    EXPECT_EQ(MorraUtilApi::isMorraEnabledFn, nullptr);
}

TEST_F(PluginTest, GoodPluginFillsTheHooksOnce) {
    HostImpl::_pluginPath = TEST_GOOD_PLUGIN;
    Platform::Log::Capture log;
    EXPECT_TRUE(MorraUtilApi::IsMorraEnabled());  // loads on demand
    EXPECT_EQ(HostImpl::_pluginLoaded, 1);
    EXPECT_FALSE(MorraUtilApi::IsMorraActive());
    EXPECT_EQ(MorraUtilApi::GetMorraCapacity(), 4096u);
    try {
        MorraUtilApi::StartMorraMgmtDaemon();
        FAIL();
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Failed to start Morra management daemon.");
    }
    try {
        MorraUtilApi::SaveMorraDecomState("a", "b");
        FAIL();
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Failed to save Morra decom state.");
    }
    HostCtl::Morra::Uuid uuid{};
    TarnCtl::Storage::MorraFileSystemImpl fs(uuid);
    fs.RefreshCapacity();
    EXPECT_EQ(fs.GetTotalCapacity(), 1000u);
    EXPECT_EQ(fs.GetUsedCapacity(), 250u);
    EXPECT_EQ(TarnCtl::Storage::MorraFileSystemImpl::GetDumpPolicy(7), "policy-7");
    HostCtl::Morra::Uuid named{{0x52, 0x3e, 0x1f, 0x00, 0xab, 0xcd, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                0x09, 0xff}};
    TarnCtl::Storage::MorraFileSystemImpl(named).SetMorraDatastoreName("morraDatastore");
    void* plugin = dlopen(TEST_GOOD_PLUGIN, RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(plugin, nullptr);
    auto lastNamed = reinterpret_cast<const char* (*)()>(dlsym(plugin, "TestPluginLastNamed"));
    ASSERT_NE(lastNamed, nullptr);
    EXPECT_STREQ(lastNamed(), "523e1f00-abcd-0102-0304-0506070809ff=morraDatastore");
    EXPECT_EQ(TarnCtl::Network::TarnNicHooks::_destroyCallbacks.size(), 1u);
    // Loaded once: a second request neither reloads nor re-registers.
    HostImpl::LoadTarnCtlPlugins();
    EXPECT_EQ(TarnCtl::Network::TarnNicHooks::_destroyCallbacks.size(), 1u);
    EXPECT_EQ(log.Count("Morra plugin"), 0u);
}

TEST_F(PluginTest, ConcurrentFirstUsersRunTheConstructorOnce) {
    HostImpl::_pluginPath = TEST_GOOD_PLUGIN;
    // Every thread passes the unlocked check before any takes the mutex, so all
    // but the first must be stopped by the check made under the mutex.
    constexpr int kThreads = 8;
    static std::barrier<> allSawUnloaded(kThreads);
    HostImpl::_beforeLoaderLock = [] { allSawUnloaded.arrive_and_wait(); };
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([] { HostImpl::LoadTarnCtlPlugins(); });
    for (auto& t : threads)
        t.join();
    HostImpl::_beforeLoaderLock = nullptr;
    EXPECT_EQ(HostImpl::_pluginLoaded, 1);
    EXPECT_EQ(TarnCtl::Network::TarnNicHooks::_destroyCallbacks.size(), 1u);
}

}  // namespace
