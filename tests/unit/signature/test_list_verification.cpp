// The check of a received list with the built-in key and the record of the newest accepted list
// in a real client folder: which lists pass, what the record holds afterwards, and that nothing
// about the record (damaged, of another key, unwritable) ever refuses a good list.
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <optional>
#include <ostream>
#include <string>

#include "platform/posix/syscalls.h"
#include "signature/list_verification.h"
#include "signature_fixture.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

using qxtest::Fixture;
using Tree = std::map<std::string, std::string>;

const char kRecord[] = "patchlist_accepted.minisig";

std::string EditedTimestamp(const std::string& signatureFile) {
    std::string edited = signatureFile;
    edited.replace(edited.find("timestamp:1800000000"), 20, "timestamp:9999999999");
    return edited;
}

struct RecordCase {
    const char* name;
    std::optional<std::string> recordBefore;  // none: no record
    std::optional<std::string> signature;     // none: the server had none
    ListVerdict verdict;
    std::optional<std::string> recordAfter;  // none: no record
    bool noted;                              // the log gets a note about the record
};

// A failing case is named by its name, not by its bytes.
void PrintTo(const RecordCase& c, std::ostream* out) {
    *out << c.name;
}

const RecordCase kCases[] = {
    {"FirstListIsRecorded", std::nullopt, Fixture("early.minisig"), ListVerdict::Accepted,
     Fixture("early.minisig"), false},
    {"LaterListReplacesTheRecord", Fixture("early.minisig"), Fixture("late.minisig"),
     ListVerdict::Accepted, Fixture("late.minisig"), false},
    {"SameListAgain", Fixture("late.minisig"), Fixture("late.minisig"), ListVerdict::Accepted,
     Fixture("late.minisig"), false},
    {"OlderListIsRefused", Fixture("late.minisig"), Fixture("early.minisig"), ListVerdict::Older,
     Fixture("late.minisig"), false},
    {"LegacyBetweenThem", Fixture("early.minisig"), Fixture("legacy.minisig"),
     ListVerdict::Accepted, Fixture("legacy.minisig"), false},
    {"RecordOfAnotherKey", Fixture("key_b.minisig"), Fixture("early.minisig"),
     ListVerdict::Accepted, Fixture("early.minisig"), true},
    {"RecordWithEditedTimestamp", EditedTimestamp(Fixture("late.minisig")),
     Fixture("early.minisig"), ListVerdict::Accepted, Fixture("early.minisig"), true},
    {"RecordCutShort", Fixture("late.minisig").substr(0, 150), Fixture("early.minisig"),
     ListVerdict::Accepted, Fixture("early.minisig"), true},
    {"RecordOfGarbage", std::string("\xff\x00garbage", 9), Fixture("early.minisig"),
     ListVerdict::Accepted, Fixture("early.minisig"), true},
    {"RefusedListLeavesTheRecord", Fixture("early.minisig"), Fixture("key_b.minisig"),
     ListVerdict::WrongKey, Fixture("early.minisig"), false},
    {"MissingSignatureWritesNothing", std::nullopt, std::nullopt, ListVerdict::Missing,
     std::nullopt, false},
};

class RecordTest : public ::testing::TestWithParam<RecordCase> {
  protected:
    qxtest::TempDir client_;
    qxtest::ScopedEnv key_{"QXWEB_LIST_PUBLIC_KEY", qxtest::PublicKeyLine("key_a.pub")};

    ListCheck Verify(const std::optional<std::string>& signature) {
        return VerifyPatchList(Fixture("qx_patchlist_win32"), signature, client_.win() + L"\\");
    }
};

TEST_P(RecordTest, KeepsTheNewestAcceptedList) {
    const RecordCase& c = GetParam();
    if (c.recordBefore) {
        qxtest::WriteHostFile(client_.host(kRecord), *c.recordBefore);
    }
    const ListCheck check = Verify(c.signature);
    EXPECT_EQ(check.verdict, c.verdict) << check.reason;
    EXPECT_EQ(!check.recordNote.empty(), c.noted) << check.recordNote;
    // The record, and nothing else: no new file left beside it.
    const Tree expected = c.recordAfter ? Tree{{kRecord, *c.recordAfter}} : Tree{};
    EXPECT_EQ(qxtest::SnapshotTree(client_.host()), expected);
}

INSTANTIATE_TEST_SUITE_P(Records, RecordTest, ::testing::ValuesIn(kCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(RecordTest, RefusalOfAnOlderListNamesBothDates) {
    qxtest::WriteHostFile(client_.host(kRecord), Fixture("late.minisig"));
    const ListCheck check = Verify(Fixture("early.minisig"));
    EXPECT_EQ(check.reason,
              L"signed on 2023-11-14 22:13:20 UTC (timestamp 1700000000), before the list "
              L"accepted on 2027-01-15 08:00:00 UTC (timestamp 1800000000)");
}

// A record that cannot be replaced (a full disk, a refused move, a folder in its place) leaves
// the list accepted and the old record whole, with no new file left behind.
TEST_F(RecordTest, UnwritableRecordKeepsTheListAndTheOldRecord) {
    const struct {
        qx::Sys call;
        int error;
    } faults[] = {{qx::Sys::Open, EACCES}, {qx::Sys::Write, ENOSPC}, {qx::Sys::Rename, EACCES}};
    for (const auto& fault : faults) {
        qxtest::WriteHostFile(client_.host(kRecord), Fixture("early.minisig"));
        qx::InjectFault(fault.call, 1, fault.error, "patchlist_accepted.minisig.new");
        const ListCheck check = Verify(Fixture("late.minisig"));
        qx::ClearFaults();
        EXPECT_TRUE(check.Accepted()) << check.reason;
        EXPECT_NE(check.recordNote.find(L"not written"), std::wstring::npos) << check.recordNote;
        EXPECT_EQ(qxtest::SnapshotTree(client_.host()),
                  (Tree{{kRecord, Fixture("early.minisig")}}));
    }
}

TEST_F(RecordTest, FolderInPlaceOfTheRecordIsNotedTwice) {
    qxtest::WriteHostFile(client_.host(std::string(kRecord) + "/x"), "x");
    const ListCheck check = Verify(Fixture("late.minisig"));
    EXPECT_TRUE(check.Accepted()) << check.reason;
    EXPECT_NE(check.recordNote.find(L"unreadable"), std::wstring::npos) << check.recordNote;
    EXPECT_NE(check.recordNote.find(L"not written"), std::wstring::npos) << check.recordNote;
}

// Without a key nothing is checked or written, as before lists were signed; a key that is not
// one refuses every list.
TEST(ListKeyTest, NoKeyChecksNothingAndABadKeyRefusesAll) {
    qxtest::TempDir client;
    const std::wstring folder = client.win() + L"\\";
    {
        qxtest::ScopedEnv key("QXWEB_LIST_PUBLIC_KEY", "");
        EXPECT_FALSE(ListSignaturesRequired());
        EXPECT_TRUE(VerifyPatchList("anything", std::nullopt, folder).Accepted());
    }
    {
        qxtest::ScopedEnv key("QXWEB_LIST_PUBLIC_KEY", "RWnotakey");
        EXPECT_TRUE(ListSignaturesRequired());
        EXPECT_EQ(
            VerifyPatchList(Fixture("qx_patchlist_win32"), Fixture("late.minisig"), folder).verdict,
            ListVerdict::Malformed);
    }
    EXPECT_TRUE(qxtest::SnapshotTree(client.host()).empty());
}

}  // namespace
