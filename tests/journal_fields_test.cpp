// A board record as journal fields: what each kind of member becomes, and which names must not
// reach the journal as they are.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/records/journal_fields.h"

namespace zq::test {
namespace {

using Fields = std::vector<std::string>;

TEST(JournalFields, EachMemberBecomesOneFieldUnderAValidNameThatIsNotTheJournalsOwn) {
    struct Case {
        std::string record;
        const char* priority;
        Fields fields;  // after the four the journal itself reads
    };
    const std::string longName(70, 'a');
    const Case cases[] = {
        {R"({"ok": true, "exit": 0, "seconds": 6.25, "performed": null})",
         "PRIORITY=6",
         {"OK=true", "EXIT=0", "SECONDS=6.25"}},
        {R"({"ok": false, "fixture": {"by_path": "pci-0:1.2", "index": null, "hub": {"port": 3}},
             "image": {"sha256": "ab"}})",
         "PRIORITY=3",
         {"OK=false", "FIXTURE_BY_PATH=pci-0:1.2", "FIXTURE_HUB_PORT=3", "IMAGE_SHA256=ab"}},
        {R"({"messages": [{"title": "OK", "text": "a\nb"}], "tries": [], "reason": "c\nd"})",
         "PRIORITY=3",
         {R"(MESSAGES=[{"title":"OK","text":"a\nb"}])", "TRIES=[]", "REASON=c\nd"}},
        {R"({"message": "m", "priority": 1, "errno": 5, "_hidden": 1, "2nd": 2,
             "board-mode": "update", "Ok": "yes"})",
         "PRIORITY=3",
         {"RECORD_MESSAGE=m", "RECORD_PRIORITY=1", "RECORD_ERRNO=5", "RECORD__HIDDEN=1",
          "RECORD_2ND=2", "BOARD_MODE=update", "OK=yes"}},
        {"{\"" + longName + "\": 1}", "PRIORITY=3", {std::string(64, 'A') + "=1"}},
    };
    for (const Case& c : cases) {
        const Fields fields = journalFields(nlohmann::ordered_json::parse(c.record), "board done");
        ASSERT_GE(fields.size(), 4u) << c.record;
        EXPECT_EQ(Fields(fields.begin(), fields.begin() + 4),
                  (Fields{"MESSAGE=board done", "MESSAGE_ID=" + std::string(kRecordMessageId),
                          c.priority, "SYSLOG_IDENTIFIER=zq417-flash"}))
            << c.record;
        EXPECT_EQ(Fields(fields.begin() + 4, fields.end()), c.fields) << c.record;
    }
}

// Collectors filter on the id README gives.
TEST(JournalFields, ReadmeGivesTheRecordsMessageId) {
    std::ifstream readme(ZQ_README_PATH);
    const std::string text{std::istreambuf_iterator<char>(readme), {}};
    EXPECT_NE(text.find("MESSAGE_ID=" + std::string(kRecordMessageId)), std::string::npos);
}

TEST(JournalSender, GivesTheSystemsReasonWhereNoJournalListens) {
    if (journalAvailable()) {
        GTEST_SKIP() << "a journal listens here; nothing is sent to it from a test";
    }
    const auto reason = sendToJournal({"MESSAGE=test"});
    ASSERT_TRUE(reason.has_value());
    EXPECT_FALSE(reason->empty());
}

}  // namespace
}  // namespace zq::test
