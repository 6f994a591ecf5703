// Greeting texts: the console's welcome message, /etc/motd and /etc/issue.
// Each lives in a store object and a plain read-only file; changes are audited
// under an advanced-option name, and the console UI and log daemon are told
// through the signal seam (never a real process).
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

#include "hostctl/exception.h"
#include "platform/audit.h"
#include "platform/configstore.h"
#include "platform/exec.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "system/system_info_impl.h"
#include "system/system_values.h"

namespace TarnCtl::System {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::ConfigStoreTransaction;
using HostCtl::Lib::HostCtlException;
namespace EmitAudit = TarnCtl::Util::EmitAudit;

namespace {

struct Greeting {
    const char* key;     // store object of group "system"
    const char* field;
    const char* file;
    const char* option;  // name in audit records
    bool escapes;        // "<ESC>" markers stand for the escape byte
};

const Greeting kWelcome{"welcome_message", "message", "/etc/quillon/welcome", "Annotations.WelcomeMessage", false};
const Greeting kMotd{"etc_motd", "motd", "/etc/motd", "Config.Etc.motd", true};
const Greeting kIssue{"etc_issue", "issue", "/etc/issue", "Config.Etc.issue", true};

ConfigStoreObjectId IdOf(const Greeting& g) { return ConfigStoreObjectId(g.key, "system", "halden"); }

void SetToConfigStore(const Greeting& g, const std::string& text) {
    auto store = SystemStore();
    if (text.empty()) {
        store->Delete(IdOf(g));
        return;
    }
    auto object = std::make_shared<ConfigStoreObject>(IdOf(g));
    object->SetValue(g.field, text);
    store->Write(object);
}

// Stored text: the current object, else the desired one; empty when neither.
std::string ReadStored(const Greeting& g) {
    auto store = SystemStore();
    auto object = store->Get(IdOf(g));
    if (!object) object = store->GetDesiredUserConfig(IdOf(g), 0);
    std::string text;
    if (object) object->GetValue(g.field, &text);
    return text;
}

// The file is read-only for everyone; it is replaced as a whole so that a
// reader never sees half a greeting. A failure is audited before it is thrown.
void WriteGreetingFile(const Greeting& g, const std::string& text, const char* event) {
    std::string failure;
    try {
        HostCtl::Misc::TmpOfstreamWrapper out(g.file, 0444);
        out << text;
        out.Commit();
    } catch (const std::exception&) {
        failure = std::string("Error opening file ") + g.file;
    }
    if (failure.empty() && ::chmod(Platform::HostPath(g.file).c_str(), 0444) != 0)
        failure = std::string("Error changing permission for file: ") + g.file;
    if (failure.empty()) return;
    EmitAudit::Failure(event, failure, g.option, "value", text);
    throw HostCtlException(failure);
}

// Puts a greeting file back as it was before a change that did not stand.
void PutBackFile(const Greeting& g, bool existed, const std::string& previous) {
    try {
        if (!existed) {
            ::unlink(Platform::HostPath(g.file).c_str());
            return;
        }
        HostCtl::Misc::TmpOfstreamWrapper out(g.file, 0444);
        out << previous;
        out.Commit();
        ::chmod(Platform::HostPath(g.file).c_str(), 0444);
    } catch (const std::exception& e) {
        TarnCtl_LogWarnInt("%s: Unable to restore %s: %s\n", "SystemInfo", g.file, e.what());
    }
}

// One transaction: the store change, then the file; a failed commit puts the
// file back and is audited before it is thrown.
void ChangeStoreAndFile(const Greeting& g, const std::string& text, const char* event,
                        const std::function<void()>& changeStore) {
    std::string previous;
    bool existed = HostCtl::Misc::ReadHostFile(g.file, &previous);
    ConfigStoreTransaction txn(SystemStore());
    changeStore();
    WriteGreetingFile(g, text, event);
    try {
        txn.Commit();
    } catch (const HostCtlException& e) {
        PutBackFile(g, existed, previous);
        EmitAudit::Failure(event, e.what(), g.option, "value", text);
        throw;
    }
}

void SetGreeting(const Greeting& g, const std::string& given) {
    std::string text = g.escapes ? EscapeMarkersToBytes(given) : given;
    auto store = SystemStore();
    if (store->IsBoot()) {
        WriteGreetingFile(g, text, "settings.advanced.set");
        return;
    }
    // The store change stands only when the file was written too, and the
    // file goes back to what it was when the store change fails.
    ChangeStoreAndFile(g, text, "settings.advanced.set", [&] { SetToConfigStore(g, text); });
    if (&g == &kWelcome) NotifyHCUI();
    EmitAudit::Success("settings.advanced.set", g.option, "value", text);
}

std::string GetGreeting(const Greeting& g) {
    std::string text = ReadStored(g);
    return g.escapes ? EscapeBytesToMarkers(text) : text;
}

void ResetGreeting(const Greeting& g) {
    const std::string text;  // every greeting's default is empty
    ChangeStoreAndFile(g, text, "settings.advanced.reset", [&] { SystemStore()->Delete(IdOf(g)); });
    if (&g == &kWelcome) NotifyHCUI();
    EmitAudit::Success("settings.advanced.reset", g.option, "value", text);
}

// At boot the file is rewritten from the recorded text (the desired
// configuration, else the current object); without one the file is left alone.
void RestoreGreeting(const Greeting& g) {
    auto store = SystemStore();
    auto object = store->GetDesiredUserConfig(IdOf(g), 0);
    if (!object) object = store->Get(IdOf(g));
    std::string text;
    if (object && object->GetValue(g.field, &text)) {
        WriteGreetingFile(g, text, "settings.advanced.reset");
        EmitAudit::Success("settings.advanced.reset", g.option, "value", text);
    }
    store->SetBootStatus(IdOf(g), true);
}

// The pid a daemon recorded in its PID file; 0 when the file is unreadable.
int ReadPidFile(const std::string& path) {
    std::string text;
    if (!HostCtl::Misc::ReadHostFile(path, &text)) return 0;
    char* end = nullptr;
    long pid = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || pid <= 0 || pid > INT32_MAX) return 0;
    return static_cast<int>(pid);
}

}  // namespace

void SetWelcomeMessageToConfigStore(const std::string& text) { SetToConfigStore(kWelcome, text); }
void SetMotdToConfigStore(const std::string& text) { SetToConfigStore(kMotd, text); }
void SetIssueToConfigStore(const std::string& text) { SetToConfigStore(kIssue, text); }

void NotifyHCUI() {
    int pid = ReadPidFile("/var/run/hcui.pid");
    if (pid == 0) return;
    TarnCtl_LogInfoInt("%s: Notifying HCUI of configuration change\n", "SystemInfo");
    if (pid == ::getpid()) {
        TarnCtl_LogWarnInt("%s: Skipping HCUI notify, since we are in HCUI\n", "SystemInfo");
        return;
    }
    if (!Platform::Exec::SignalProcess("hcui", SIGUSR1))
        TarnCtl_LogWarnInt("%s: Unable to notify HCUI [pid=%d]\n", "SystemInfo", pid);
}

void NotifyCorelogd() {
    int pid = ReadPidFile("/var/run/quillon/corelogd.pid");
    if (pid == 0) return;
    TarnCtl_LogInfoInt("%s: Notifying corelogd ofhostname change\n", "SystemInfo");
    if (!Platform::Exec::SignalProcess("corelogd", SIGUSR2))
        throw HostCtlException("Unable to notify corelogd pid " + std::to_string(pid));
}

std::string SystemInfoImpl::GetWelcomeMessage() {
    auto object = SystemStore()->Get(IdOf(kWelcome));
    std::string text;
    if (object) object->GetValue(kWelcome.field, &text);
    return text;
}
void SystemInfoImpl::SetWelcomeMessage(const std::string& text) { SetGreeting(kWelcome, text); }
void SystemInfoImpl::RestoreWelcomeMessage() { RestoreGreeting(kWelcome); }

std::string SystemInfoImpl::GetMotd() { return GetGreeting(kMotd); }
std::string SystemInfoImpl::GetMotdDefault() { return ""; }
void SystemInfoImpl::SetMotd(const std::string& text) { SetGreeting(kMotd, text); }
void SystemInfoImpl::ResetMotd() { ResetGreeting(kMotd); }
void SystemInfoImpl::RestoreMotd() { RestoreGreeting(kMotd); }

std::string SystemInfoImpl::GetIssue() { return GetGreeting(kIssue); }
std::string SystemInfoImpl::GetIssueDefault() { return ""; }
void SystemInfoImpl::SetIssue(const std::string& text) { SetGreeting(kIssue, text); }
void SystemInfoImpl::ResetIssue() { ResetGreeting(kIssue); }
void SystemInfoImpl::RestoreIssue() { RestoreGreeting(kIssue); }

}  // namespace TarnCtl::System
