// The shared output helpers: JSON keys from headings, typed cells, records,
// and the text layout people read.
#include <gtest/gtest.h>

#include <sstream>

#include <rapidjson/document.h>

#include "command.h"
#include "fixture.h"
#include "output.h"

namespace HostCtlTool {
// The tool's global options; these tests print to their own streams.
const Options& GlobalOptions() {
    static Options options;
    return options;
}
}  // namespace HostCtlTool

namespace {

using HostCtlTool::Cell;
using HostCtlTool::JsonKey;
using HostCtlTool::Record;
using HostCtlTool::Table;

TEST(JsonKeys, HeadingsBecomeSnakeCase) {
    const std::pair<const char*, const char*> rows[] = {
        {"Display Name", "display_name"},
        {"Size MB", "size_mb"},
        {"UID", "uid"},
        {"Other UIDs", "other_uids"},
        {"Queue Depth", "queue_depth"},
        {"No of outstanding IOs with competing worlds", "no_of_outstanding_ios_with_competing_worlds"},
        {"rebootRequired", "reboot_required"},
        {"maintenanceModeRequired", "maintenance_mode_required"},
        {"applied", "applied"},
        {"Is SSD", "is_ssd"},
        {"Start Sector", "start_sector"},
        {"ipv6Address", "ipv6_address"},
        {"Tx/Rx  Bytes", "tx_rx_bytes"},
        {" Leading (and trailing) ", "leading_and_trailing"},
        {"Valid Characters", "valid_characters"},
    };
    for (const auto& [heading, key] : rows)
        EXPECT_EQ(JsonKey(heading), key) << heading;
}

rapidjson::Document Parse(const std::string& text) {
    rapidjson::Document doc;
    doc.Parse(text.c_str());
    EXPECT_FALSE(doc.HasParseError()) << text;
    return doc;
}

TEST(TableOutput, JsonUsesKeysAndCellKinds) {
    Table t({"Device", "Display Name", "Size MB", "Local", "Paths", "Serial"});
    t.SetKind("Paths", Table::Kind::Number);
    t.AddRow({"naa.1", "Disk \"one\"", uint64_t{1024}, true, "4", "0012"});
    t.AddRow({"naa.2", "", int64_t{-5}, false, "n/a", "12"});
    std::ostringstream out;
    t.PrintJson(out);
    EXPECT_EQ(out.str(),
              "[\n"
              " {\"device\": \"naa.1\", \"display_name\": \"Disk \\\"one\\\"\", \"size_mb\": 1024, \"local\": true, "
              "\"paths\": 4, \"serial\": \"0012\"},\n"
              " {\"device\": \"naa.2\", \"display_name\": \"\", \"size_mb\": -5, \"local\": false, "
              "\"paths\": \"n/a\", \"serial\": \"12\"}\n"
              "]\n");
    auto doc = Parse(out.str());
    ASSERT_TRUE(doc.IsArray());
    EXPECT_TRUE(doc[0]["size_mb"].IsUint64());
    EXPECT_TRUE(doc[0]["local"].IsBool());
    // A text cell in a text column stays a string even when it looks like a number.
    EXPECT_TRUE(doc[1]["serial"].IsString());
}

TEST(TableOutput, PinnedKeyAndEmptyListing) {
    Table t({"Adapter", "Queue Depth"});
    t.SetKey("Queue Depth", "qdepth");
    std::ostringstream empty;
    t.PrintJson(empty);
    EXPECT_EQ(empty.str(), "[]\n");
    t.AddRow({"hbx0", 64});
    std::ostringstream out;
    t.PrintJson(out);
    EXPECT_EQ(out.str(), "[\n {\"adapter\": \"hbx0\", \"qdepth\": 64}\n]\n");
}

TEST(TableOutput, TextKeepsHumanHeadingsAligned) {
    Table t({"Device", "Size MB", "Local"});
    t.AddRow({"naa.600", uint64_t{12}, true});
    t.AddRow(std::vector<std::string>{"mpx.hbx0"});  // missing cells print empty
    std::ostringstream out;
    t.PrintText(out);
    EXPECT_EQ(out.str(),
              "Device    Size MB  Local\n"
              "--------  -------  -----\n"
              "naa.600   12       true\n"
              "mpx.hbx0\n");
}

TEST(RecordOutput, JsonAndText) {
    Table uids({"UID"});
    uids.AddRow({"t10.X"});
    Record r;
    r.Add("Display Name", "Boot LUN").Add("Size MB", uint64_t{1024}).Add("Is Local", true).Add("Minimum", int64_t{-1});
    r.AddTable("Other UIDs", uids);
    std::ostringstream json;
    r.PrintJson(json);
    EXPECT_EQ(json.str(),
              "{\n \"display_name\": \"Boot LUN\",\n \"size_mb\": 1024,\n \"is_local\": true,\n \"minimum\": -1,\n"
              " \"other_uids\": [\n {\"uid\": \"t10.X\"}\n]\n}\n");
    Parse(json.str());
    std::ostringstream text;
    r.PrintText(text);
    EXPECT_EQ(text.str(),
              "Display Name: Boot LUN\n"
              "Size MB:      1024\n"
              "Is Local:     true\n"
              "Minimum:      -1\n"
              "Other UIDs:\n"
              "UID\n"
              "-----\n"
              "t10.X\n");
}

class HostPathMessages : public TarnTest::HostTest {};

TEST_F(HostPathMessages, NameThePathTriedAndTheRoot) {
    EXPECT_EQ(HostCtlTool::HostPathMessage("Unable to read", "/etc/x.conf"),
              "Unable to read /etc/x.conf: " + Root() + "/etc/x.conf below host root " + Root());
    EXPECT_EQ(HostCtlTool::HostPathMessage("Unable to read", "/etc/../x"),
              "Unable to read /etc/../x: not a path below host root " + Root());
}

}  // namespace
