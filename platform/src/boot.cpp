// The registry and runner of the host's boot, upgrade and apply steps. Steps
// are registered by library domains at static-initialisation time; a failing
// step is logged and the sequence goes on.
#include "platform/boot.h"

#include <algorithm>
#include <mutex>

#include "hostctl/exception.h"
#include "platform/configstore.h"
#include "platform/log.h"

namespace Platform::Boot {

namespace {

struct Entry {
    std::string name;
    int order;
    StepFn fn;
};

struct Registry {
    std::mutex mu;
    std::vector<Entry> boot, upgrade;
    std::vector<Entry> apply;  // name = group
};

Registry& Reg() {
    static Registry* r = new Registry;  // used from other files' static initialisers
    return *r;
}

std::vector<Entry> Sorted(std::vector<Entry> v) {
    std::stable_sort(v.begin(), v.end(), [](const Entry& a, const Entry& b) {
        return a.order != b.order ? a.order < b.order : a.name < b.name;
    });
    return v;
}

std::vector<Outcome> Run(const char* what, const std::vector<Entry>& steps) {
    std::vector<Outcome> out;
    for (const auto& s : steps) {
        Outcome o{s.name, true, ""};
        try {
            s.fn();
        } catch (const HostCtl::Lib::HostCtlException& e) {
            o = {s.name, false, e.GetDetailedMessage()};
        } catch (const std::exception& e) {
            o = {s.name, false, e.what()};
        }
        if (o.ok)
            TarnCtl_LogVerboseInt("%s: %s step %s done\n", "Boot", what, s.name.c_str());
        else
            TarnCtl_LogErrorInt("%s: %s step %s failed: %s\n", "Boot", what, s.name.c_str(),
                                o.error.c_str());
        out.push_back(std::move(o));
    }
    return out;
}

}  // namespace

void RegisterStep(const std::string& name, int order, StepFn fn) {
    std::lock_guard<std::mutex> g(Reg().mu);
    Reg().boot.push_back({name, order, std::move(fn)});
}

void RegisterUpgradeStep(const std::string& name, int order, StepFn fn) {
    std::lock_guard<std::mutex> g(Reg().mu);
    Reg().upgrade.push_back({name, order, std::move(fn)});
}

void RegisterApplyStep(const std::string& group, StepFn fn) {
    std::lock_guard<std::mutex> g(Reg().mu);
    Reg().apply.push_back({group, 0, std::move(fn)});
}

std::vector<Outcome> RunBoot() {
    std::vector<Entry> steps;
    {
        std::lock_guard<std::mutex> g(Reg().mu);
        steps = Sorted(Reg().boot);
    }
    auto store = HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
    store->SetBootMode(true);
    struct EndBoot {
        std::shared_ptr<HaldenConfigStore::ConfigStore> s;
        ~EndBoot() {
            try {
                s->SetBootMode(false);
            } catch (const std::exception& e) {
                TarnCtl_LogErrorInt("%s: Unable to end boot mode: %s\n", "Boot", e.what());
            }
        }
    } endBoot{store};
    TarnCtl_LogInfoInt("%s: Running %zu boot steps\n", "Boot", steps.size());
    return Run("Boot", steps);
}

std::vector<Outcome> RunUpgrade() {
    std::vector<Entry> steps;
    {
        std::lock_guard<std::mutex> g(Reg().mu);
        steps = Sorted(Reg().upgrade);
    }
    return Run("Upgrade", steps);
}

std::vector<Outcome> RunApply(const std::string& group) {
    std::vector<Entry> steps;
    {
        std::lock_guard<std::mutex> g(Reg().mu);
        for (const auto& e : Reg().apply)
            if (group.empty() || e.name == group)
                steps.push_back(e);
    }
    return Run("Apply", steps);
}

std::vector<std::string> BootStepNames() {
    std::lock_guard<std::mutex> g(Reg().mu);
    std::vector<std::string> out;
    for (const auto& e : Sorted(Reg().boot))
        out.push_back(e.name);
    return out;
}

}  // namespace Platform::Boot
