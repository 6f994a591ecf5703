// hostctl store ...: the configuration store's objects, for inspection and
// hand edits.
#include <CLI/CLI.hpp>

#include <iostream>

#include "command.h"
#include "output.h"
#include "platform/configstore.h"

namespace {

using namespace HaldenConfigStore;

std::shared_ptr<ConfigStore> Store() {
    return ConfigStore::GetStore(sGlobalNamespace);
}

struct StoreArgs {
    std::string key, group, instance, component = "halden", data;
};

HostCtlTool::CommandGroup gStore("store", 80, [](CLI::App& app) {
    auto* store = app.add_subcommand("store", "The configuration store");
    store->require_subcommand(1);

    static std::string listGroup;
    auto* list = store->add_subcommand("list", "List the stored objects (of one group)");
    list->add_option("group", listGroup, "Group to list");
    list->callback([] {
        HostCtlTool::Table t({"Component", "Group", "Key", "Instance"});
        for (const auto& id : Store()->ListIds(listGroup))
            t.AddRow({id.GetComponent(), id.GetGroup(), id.GetKey(), id.GetInstanceId()});
        t.Print();
    });

    static StoreArgs a;
    auto* get = store->add_subcommand("get", "Print an object's data as JSON");
    get->add_option("key", a.key, "Object key")->required();
    get->add_option("group", a.group, "Object group")->required();
    get->add_option("--instance", a.instance, "Instance id (default: every instance)");
    get->add_option("--component", a.component, "Component")->capture_default_str();
    get->callback([] {
        auto s = Store();
        ConfigStoreObjectId id(a.key, a.group, a.component, a.instance);
        if (auto o = s->Get(id)) {
            std::cout << o->GetData() << "\n";
            return;
        }
        if (a.instance.empty()) {
            auto all = s->List(std::make_shared<FilterSpecObject>(id));
            if (!all.empty()) {
                // One object a line, each tagged with its instance.
                for (const auto& o : all)
                    std::cout << "{\"instance\":"
                              << HostCtlTool::JsonQuote(o->GetConfigStoreObjectId().GetInstanceId())
                              << ",\"data\":" << o->GetData() << "}\n";
                return;
            }
        }
        throw HostCtlTool::CommandFailure{"No object " + id.ToString()};
    });

    static StoreArgs w;
    auto* set = store->add_subcommand("set", "Write an object from JSON data");
    set->add_option("key", w.key, "Object key")->required();
    set->add_option("group", w.group, "Object group")->required();
    set->add_option("data", w.data, "The object's fields as a JSON object")->required();
    set->add_option("--instance", w.instance, "Instance id");
    set->add_option("--component", w.component, "Component")->capture_default_str();
    set->callback([] {
        auto s = Store();
        auto o = ConfigStoreObject::FromData(ConfigStoreObjectId(w.key, w.group, w.component, w.instance),
                                             w.data);
        ConfigStoreTransaction tx(s);
        s->Write(o);
        tx.Commit();
        HostCtlTool::Message("Wrote " + o->GetConfigStoreObjectId().ToString());
    });

    static StoreArgs d;
    auto* del = store->add_subcommand("delete", "Delete an object (every instance without --instance)");
    del->add_option("key", d.key, "Object key")->required();
    del->add_option("group", d.group, "Object group")->required();
    del->add_option("--instance", d.instance, "Instance id");
    del->add_option("--component", d.component, "Component")->capture_default_str();
    del->callback([] {
        auto s = Store();
        ConfigStoreObjectId id(d.key, d.group, d.component, d.instance);
        ConfigStoreTransaction tx(s);
        s->Delete(id);
        tx.Commit();
        HostCtlTool::Message("Deleted " + id.ToString());
    });
});

}  // namespace
