// A program outside the project, built only against the installed headers and
// library: lists the host's storage devices and reads one advanced option.
#include <cstdio>
#include <exception>

#include "hostctl/adv.h"
#include "hostctl/exception.h"
#include "hostctl/host.h"
#include "hostctl/storage.h"

int main() {
    try {
        const HostCtl::Host* host = HostCtl::HostFactory::GetHost();
        auto storage = host->GetStorageInfo();
        auto luns = storage->GetLuns(false, false);
        std::printf("devices %zu\n", luns.size());
        if (!luns.empty())
            std::printf("first %s\n", luns.front()->GetDisplayName().c_str());
        auto root = host->GetAdvancedOptions();
        std::printf("branches %zu\n", root->GetBranches().size());
        return luns.empty() ? 1 : 0;
    } catch (const HostCtl::Lib::HostCtlException& e) {
        std::fprintf(stderr, "consumer: %s\n", e.what());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "consumer: %s\n", e.what());
    }
    return 1;
}
