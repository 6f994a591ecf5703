// libFuzzer target for the legacy configuration text reader: any bytes must give
// statements or a parser exception, never a crash, a hang or unbounded memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "configstore/configupgradeparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using TarnCtl::ConfigStoreUtil::ConfigUpgradeParser;
    auto in = std::make_unique<std::istringstream>(std::string(reinterpret_cast<const char*>(data), size));
    try {
        ConfigUpgradeParser parser(std::move(in));
        // Every statement consumes at least one byte, so this ends.
        for (size_t statements = 0; statements <= size + 1; ++statements) {
            auto keys = parser.GetSubKeys();
            if (keys.empty()) __builtin_trap();
            if (keys.size() > ConfigUpgradeParser::kMaxEntries) __builtin_trap();
            size_t pathChars = 0;
            for (const auto& k : keys) {
                if (k.kind == ConfigUpgradeParser::kValue && k.text.size() > ConfigUpgradeParser::kMaxValueChars)
                    __builtin_trap();
                if (k.kind == ConfigUpgradeParser::kComponent || k.kind == ConfigUpgradeParser::kIndexedComponent)
                    pathChars += k.text.size() + k.index.size();
            }
            if (pathChars > ConfigUpgradeParser::kMaxPathChars) __builtin_trap();
            if (keys[0].kind == ConfigUpgradeParser::kEnd) break;
        }
    } catch (const ConfigUpgradeParser::Exception&) {
        // Malformed input is reported, which is the expected outcome.
    }
    return 0;
}
