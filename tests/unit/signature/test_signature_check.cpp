// The verdicts on a signed patch list, over files made by the stock minisign tool and edits of
// them: both algorithms verify, and every way a signature file can be wrong is refused with its
// own verdict.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

#include "signature/minisign_format.h"
#include "signature/signature_check.h"
#include "signature_fixture.h"

namespace {

using qxtest::Fixture;
using Lines = std::vector<std::string>;

// Edits the lines of late.minisig (prehashed, timestamp 1800000000) unless `file` names another.
struct SignatureCase {
    const char* name;
    const char* file;
    std::function<void(Lines&)> edit;
    std::function<void(std::string&)> editList;
    ListVerdict verdict;
    int64_t timestamp;
};

const auto kNoEdit = [](Lines&) {};
const auto kSameList = [](std::string&) {};

void FlipByte(std::vector<unsigned char>& bytes, size_t at) {
    bytes[at] ^= 0x01;
}

// A failing case is named by its name, not by its bytes.
void PrintTo(const SignatureCase& c, std::ostream* out) {
    *out << c.name;
}

const SignatureCase kCases[] = {
    {"PrehashedDefaultComment", "default.minisig", kNoEdit, kSameList, ListVerdict::Accepted, -1},
    {"Prehashed", "late.minisig", kNoEdit, kSameList, ListVerdict::Accepted, 1800000000},
    {"Legacy", "legacy.minisig", kNoEdit, kSameList, ListVerdict::Accepted, 1750000000},
    {"ListWithLfLineEnds", "late.minisig", kNoEdit,
     [](std::string& list) { list.erase(list.find('\r'), 1); }, ListVerdict::BadSignature, 0},
    {"ListOneByteChanged", "late.minisig", kNoEdit, [](std::string& list) { list[0] ^= 0x20; },
     ListVerdict::BadSignature, 0},
    {"ListLonger", "legacy.minisig", kNoEdit, [](std::string& list) { list += "\n"; },
     ListVerdict::BadSignature, 0},
    {"SignatureByteChanged", "late.minisig",
     [](Lines& l) { l[1] = qxtest::Reencoded(l[1], [](auto& b) { FlipByte(b, 40); }); }, kSameList,
     ListVerdict::BadSignature, 0},
    {"LegacyRelabelledPrehashed", "legacy.minisig",
     [](Lines& l) { l[1] = qxtest::Reencoded(l[1], [](auto& b) { b[1] = 'D'; }); }, kSameList,
     ListVerdict::BadSignature, 0},
    {"OtherKey", "key_b.minisig", kNoEdit, kSameList, ListVerdict::WrongKey, 0},
    {"KeyIdChanged", "late.minisig",
     [](Lines& l) { l[1] = qxtest::Reencoded(l[1], [](auto& b) { FlipByte(b, 2); }); }, kSameList,
     ListVerdict::WrongKey, 0},
    {"TrustedCommentEdited", "late.minisig",
     [](Lines& l) { l[2].replace(l[2].find("18"), 2, "19"); }, kSameList,
     ListVerdict::TrustedComment, 0},
    {"GlobalSignatureOfAnotherComment", "late.minisig",
     [](Lines& l) { l[3] = qxtest::Lines(Fixture("early.minisig"))[3]; }, kSameList,
     ListVerdict::TrustedComment, 0},
    {"NoTimestamp", "no_timestamp.minisig", kNoEdit, kSameList, ListVerdict::TrustedComment, 0},
    {"UnknownAlgorithm", "late.minisig",
     [](Lines& l) { l[1] = qxtest::Reencoded(l[1], [](auto& b) { b[1] = 'X'; }); }, kSameList,
     ListVerdict::Malformed, 0},
    {"SignatureLineCut", "late.minisig", [](Lines& l) { l[1].resize(96); }, kSameList,
     ListVerdict::Malformed, 0},
    {"SignatureLineNotBase64", "late.minisig", [](Lines& l) { l[1][10] = '*'; }, kSameList,
     ListVerdict::Malformed, 0},
    {"GlobalSignatureLonger", "late.minisig", [](Lines& l) { l[3] = l[3] + l[3]; }, kSameList,
     ListVerdict::Malformed, 0},
    {"NoUntrustedComment", "late.minisig", [](Lines& l) { l.erase(l.begin()); }, kSameList,
     ListVerdict::Malformed, 0},
    {"TrustedCommentPrefixChanged", "late.minisig",
     [](Lines& l) { l[2].replace(0, 16, "trusted_comment:"); }, kSameList, ListVerdict::Malformed,
     0},
    {"ThreeLines", "late.minisig", [](Lines& l) { l.pop_back(); }, kSameList,
     ListVerdict::Malformed, 0},
    {"Empty", "late.minisig", [](Lines& l) { l.clear(); }, kSameList, ListVerdict::Malformed, 0},
};

class SignatureCheckTest : public ::testing::TestWithParam<SignatureCase> {};

TEST_P(SignatureCheckTest, GivesItsVerdict) {
    const SignatureCase& c = GetParam();
    MinisignPublicKey key;
    ASSERT_TRUE(ParsePublicKey(qxtest::PublicKeyLine("key_a.pub"), key));
    Lines lines = qxtest::Lines(Fixture(c.file));
    c.edit(lines);
    std::string list = Fixture("qx_patchlist_win32");
    c.editList(list);

    const SignatureCheck check = CheckSignature(key, list, qxtest::Joined(lines));
    EXPECT_EQ(check.verdict, c.verdict) << check.reason;
    EXPECT_FALSE(check.reason.empty());
    if (c.verdict == ListVerdict::Accepted && c.timestamp > 0) {
        EXPECT_EQ(check.timestamp, c.timestamp);
    }
}

INSTANTIATE_TEST_SUITE_P(Signatures, SignatureCheckTest, ::testing::ValuesIn(kCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// Line ends as a server or an editor may leave them: CRLF, none after the last line, text after
// the fourth line (minisign ignores it too).
TEST(SignatureFileTest, LineEndsAndTrailingTextDoNotMatter) {
    MinisignPublicKey key;
    ASSERT_TRUE(ParsePublicKey(qxtest::PublicKeyLine("key_a.pub"), key));
    const Lines lines = qxtest::Lines(Fixture("late.minisig"));
    const std::string list = Fixture("qx_patchlist_win32");
    std::string noLastEnd = qxtest::Joined(lines);
    noLastEnd.pop_back();
    for (const std::string& file :
         {qxtest::Joined(lines, "\r\n"), noLastEnd, qxtest::Joined(lines) + "extra\n"}) {
        EXPECT_EQ(CheckSignature(key, list, file).verdict, ListVerdict::Accepted) << file;
    }
    EXPECT_EQ(CheckSignature(key, list, std::nullopt).verdict, ListVerdict::Missing);
}

// The key id minisign prints in the .pub file's comment is the one we read from its key.
TEST(PublicKeyTest, ReadsTheKeysMinisignWrote) {
    for (const char* pub : {"key_a.pub", "key_b.pub"}) {
        MinisignPublicKey key;
        ASSERT_TRUE(ParsePublicKey(qxtest::PublicKeyLine(pub) + "\r\n", key));
        const std::string comment = qxtest::Lines(Fixture(pub))[0];
        EXPECT_EQ(comment.substr(comment.rfind(' ') + 1), KeyIdText(key.keyId));
    }
    const std::string line = qxtest::PublicKeyLine("key_a.pub");
    MinisignPublicKey key;
    for (const std::string& bad :
         {std::string(), line.substr(0, 52), line + "AAAA", line.substr(0, 55) + "*",
          qxtest::Reencoded(line, [](auto& b) { b[1] = 'D'; })}) {
        EXPECT_FALSE(ParsePublicKey(bad, key)) << bad;
    }
}

TEST(TrustedTimestampTest, ReadsOnlyAWholeDecimalField) {
    const struct {
        const char* comment;
        int64_t seconds;  // -1: none
    } cases[] = {
        {"timestamp:1700000000\tfile:qx_patchlist_win32\thashed", 1700000000},
        {"release 3\ttimestamp:42", 42},
        {"timestamp:9223372036854775807", INT64_MAX},
        {"timestamp:9223372036854775808", -1},
        {"timestamp:", -1},
        {"timestamp:-5", -1},
        {"timestamp:+5", -1},
        {"timestamp:12 noon", -1},
        {"my timestamp:12", -1},
        {"", -1},
    };
    for (const auto& c : cases) {
        int64_t seconds = 0;
        const bool found = TrustedTimestamp(c.comment, seconds);
        EXPECT_EQ(found, c.seconds >= 0) << c.comment;
        if (found) {
            EXPECT_EQ(seconds, c.seconds) << c.comment;
        }
    }
}

}  // namespace
