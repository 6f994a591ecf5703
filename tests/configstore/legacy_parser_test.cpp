// The legacy configuration text reader: grammar, comments and white space,
// positions in error texts, the length and component limits, and statements
// that straddle the 16384-byte read blocks.
#include <gtest/gtest.h>

#include <sstream>

#include "configstore/configupgradeparser.h"
#include "fixture.h"
#include "platform/misc.h"

using namespace TarnCtl::ConfigStoreUtil;
using SubKey = ConfigUpgradeParser::SubKey;

namespace {

ConfigUpgradeParser Over(const std::string& text) {
    return ConfigUpgradeParser(std::make_unique<std::istringstream>(text));
}

// One statement as "net|vswitch[0]|name=x" for compact expectations.
std::string Render(const std::vector<SubKey>& keys) {
    std::string out;
    for (const auto& k : keys) {
        switch (k.kind) {
            case ConfigUpgradeParser::kComponent: out += (out.empty() ? "" : "|") + k.text; break;
            case ConfigUpgradeParser::kIndexedComponent:
                out += (out.empty() ? "" : "|") + k.text + "[" + k.index + "]";
                break;
            case ConfigUpgradeParser::kValue: out += "=" + k.text; break;
            case ConfigUpgradeParser::kEnd: out += "."; break;
        }
    }
    return out;
}

std::vector<std::string> ReadAll(const std::string& text) {
    auto p = Over(text);
    std::vector<std::string> out;
    for (;;) {
        auto keys = p.GetSubKeys();
        if (keys.at(0).kind == ConfigUpgradeParser::kEnd) break;
        out.push_back(Render(keys));
    }
    return out;
}

std::string ErrorOf(const std::string& text) {
    try {
        ReadAll(text);
    } catch (const ConfigUpgradeParser::Exception& e) {
        return e.what();
    }
    return "<no exception>";
}

TEST(LegacyParser, StatementsCommentsAndWhiteSpace) {
    struct Row {
        const char* text;
        std::vector<std::string> statements;
    } rows[] = {
        {"/net/vswitch[0]/name = \"x\"", {"net|vswitch[0]|name=x."}},
        {"/net/vswitch/child[0003]/mtu=\"9000\"\n", {"net|vswitch|child[0003]|mtu=9000."}},
        {"# comment\n  # another /a = \"b\"\n\t/a = \"b\"\r\n/c\t=\n\"d e\"", {"a=b.", "c=d e."}},
        {"/a = \"\"", {"a=."}},
        {"/a = \"line\none\"", {"a=line\none."}},
        {"", {}},
        {"   \n# only a comment", {}},
        // White space inside a component is kept; only that before "=" goes.
        {"/a b/c  \t= \"v\"", {"a b|c=v."}},
    };
    for (const auto& row : rows) EXPECT_EQ(ReadAll(row.text), row.statements) << row.text;
}

TEST(LegacyParser, ErrorTextsCarryLineAndColumn) {
    const std::pair<const char*, const char*> rows[] = {
        {"net/a = \"b\"", "ConfigParser: 1,1: forward slash expected"},
        {"/a = \"b\"\n  x", "ConfigParser: 2,3: forward slash expected"},
        {"/a[0", "ConfigParser: 1,4: right bracket expected"},
        {"/a/b", "ConfigParser: 1,4: assignment character expected"},
        {"/a = b", "ConfigParser: 1,6: quote character expected"},
        {"/a = ", "ConfigParser: 1,5: quote character expected"},
        // A missing closing quote swallows the next statement's opening quote.
        {"/a = \"x\n/b = \"y\"\n", "ConfigParser: 2,7: forward slash expected"},
        // A value whose quote never closes is refused at the end of the file.
        {"/a = \"open to the end", "ConfigParser: 1,21: quote character expected"},
        {"/a = \"b\"\n/c = \"d\n# not a comment\n", "ConfigParser: 4,0: quote character expected"},
        {"/a = \"", "ConfigParser: 1,6: quote character expected"},
    };
    for (const auto& [text, message] : rows) EXPECT_EQ(ErrorOf(text), message) << text;
}

TEST(LegacyParser, ValueStopsAtTheNextQuote) {
    EXPECT_EQ(ErrorOf("/a = \"say \"hi\"\""), "ConfigParser: 1,12: forward slash expected");
}

TEST(LegacyParser, PathLengthLimit) {
    std::string exact(8191 - 3, 'p');  // "net" + the rest = 8191 characters
    auto keys = Over("/net/" + exact + " = \"v\"").GetSubKeys();
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[1].text.size(), exact.size());
    auto over = Over("/net/" + exact + "XYZ/more = \"v\"").GetSubKeys();
    ASSERT_EQ(over.size(), 5u);  // the characters past the limit are dropped, not the statement
    EXPECT_EQ(over[1].text, exact);
    EXPECT_EQ(over[2].text, "");
    EXPECT_EQ(over[3].text, "v");
}

TEST(LegacyParser, ValueLengthLimit) {
    std::string exact(8191, 'v');
    auto keys = Over("/a = \"" + exact + "\"").GetSubKeys();
    EXPECT_EQ(keys[1].text, exact);
    auto p = Over("/a = \"" + exact + "dropped\"\n/b = \"next\"");
    EXPECT_EQ(p.GetSubKeys()[1].text, exact);
    EXPECT_EQ(Render(p.GetSubKeys()), "b=next.");
}

TEST(LegacyParser, ComponentLimit) {
    auto statement = [](int components) {
        std::string s;
        for (int i = 0; i < components; ++i) s += "/c" + std::to_string(i);
        return s + " = \"v\"";
    };
    auto at = Over(statement(126)).GetSubKeys();
    ASSERT_EQ(at.size(), 128u);
    EXPECT_EQ(at[125].text, "c125");
    EXPECT_EQ(at[126].kind, ConfigUpgradeParser::kValue);
    auto over = Over(statement(130) + "\n/next = \"n\"");
    auto keys = over.GetSubKeys();
    ASSERT_EQ(keys.size(), 128u);
    EXPECT_EQ(keys[125].text, "c125");
    EXPECT_EQ(keys[126].text, "v");
    EXPECT_EQ(Render(over.GetSubKeys()), "next=n.");
}

TEST(LegacyParser, StatementsAcrossTheBlockBoundary) {
    // Put the boundary at every position of one statement in turn.
    const std::string statement = "/net/vswitch/child[0001]/name = \"vSwitch1\"";
    for (size_t cut = 0; cut <= statement.size(); ++cut) {
        // A comment line fills the first block up to `cut` characters before its end.
        std::string lead = "#" + std::string(ConfigUpgradeParser::kBlockSize - cut - 2, ' ') + "\n";
        std::string text = lead + statement + "\n/b = \"2\"";
        ASSERT_EQ(lead.size() + cut, ConfigUpgradeParser::kBlockSize);
        EXPECT_EQ(ReadAll(text), (std::vector<std::string>{"net|vswitch|child[0001]|name=vSwitch1.", "b=2."}))
            << "cut " << cut;
    }
}

TEST(LegacyParser, LinesAreCountedAcrossBlocks) {
    std::string text;
    while (text.size() < 3 * ConfigUpgradeParser::kBlockSize) text += "/a = \"1\"\n";
    text += "oops";
    int lines = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(ErrorOf(text), "ConfigParser: " + std::to_string(lines) + ",1: forward slash expected");
}

class LegacyParserFile : public TarnTest::HostTest {};

TEST_F(LegacyParserFile, OpensHostPathsOnly) {
    HostCtl::Misc::WriteHostFileAtomic("/etc/halden.conf", "/net/a/b = \"c\"\n");
    ConfigUpgradeParser p("/etc/halden.conf");
    EXPECT_EQ(Render(p.GetSubKeys()), "net|a|b=c.");
    for (const char* path : {"/etc/missing.conf", "relative.conf", "/etc/../../outside"}) {
        try {
            ConfigUpgradeParser q(path);
            ADD_FAILURE() << path;
        } catch (const ConfigUpgradeParser::Exception& e) {
            EXPECT_STREQ(e.what(), "ConfigParser: failed to open halden.conf") << path;
        }
    }
}

}  // namespace
