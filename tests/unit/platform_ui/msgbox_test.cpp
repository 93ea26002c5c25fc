// Message boxes in scripted mode: the answers of QXWEB_ANSWERS in order across boxes, the answers
// once the list is used up, and the box events of the transcript.
#include <gtest/gtest.h>

#include "platform/posix/script.h"
#include "platform/win32.h"
#include "ui_test_env.h"

namespace {

class MessageBoxes : public ::testing::Test {
  protected:
    void SetUp() override { qx::ui::ResetScriptedAnswers(); }
    uitest::Transcript transcript_;
};

TEST_F(MessageBoxes, EveryBoxTakesTheNextAnswerAndUsedUpListsGiveTheSafeAnswer) {
    qxtest::ScopedEnv answers("QXWEB_ANSWERS", "yes, RETRY ,ok,cancel");
    EXPECT_EQ(IDYES, MessageBoxW(nullptr, L"q1", L"提示", MB_YESNO));
    EXPECT_EQ(IDRETRY, MessageBoxW(nullptr, L"q2", L"c", MB_RETRYCANCEL | MB_TOPMOST));
    EXPECT_EQ(IDOK, MessageBoxW(nullptr, L"q3", L"c", MB_OK));  // an OK box consumes one too
    EXPECT_EQ(IDCANCEL, MessageBoxW(nullptr, L"q4", L"c", MB_OKCANCEL));
    // used up
    EXPECT_EQ(IDOK, MessageBoxW(nullptr, L"u1", L"c", MB_OK));
    EXPECT_EQ(IDCANCEL, MessageBoxW(nullptr, L"u2", L"c", MB_OKCANCEL));
    EXPECT_EQ(IDNO, MessageBoxW(nullptr, L"u3", L"c", MB_YESNO));
    EXPECT_EQ(IDCANCEL, MessageBoxW(nullptr, L"u4", L"c", MB_RETRYCANCEL));

    std::vector<std::string> expected = {
        R"({"event":"box","caption":"提示","text":"q1","buttons":"YESNO","answer":"yes"})",
        R"({"event":"box","caption":"c","text":"q2","buttons":"RETRYCANCEL","answer":"retry"})",
        R"({"event":"box","caption":"c","text":"q3","buttons":"OK","answer":"ok"})",
        R"({"event":"box","caption":"c","text":"q4","buttons":"OKCANCEL","answer":"cancel"})",
        R"({"event":"box","caption":"c","text":"u1","buttons":"OK","answer":"ok"})",
        R"({"event":"box","caption":"c","text":"u2","buttons":"OKCANCEL","answer":"cancel"})",
        R"({"event":"box","caption":"c","text":"u3","buttons":"YESNO","answer":"no"})",
        R"({"event":"box","caption":"c","text":"u4","buttons":"RETRYCANCEL","answer":"cancel"})",
    };
    EXPECT_EQ(expected, transcript_.Lines());
}

TEST_F(MessageBoxes, AnEmptyListIsUsedUpFromTheStart) {
    qxtest::ScopedEnv answers("QXWEB_ANSWERS", "");
    EXPECT_EQ(IDOK, MessageBoxW(nullptr, L"t", L"c", MB_OK));
    EXPECT_EQ(IDNO, MessageBoxW(nullptr, L"t", L"c", MB_YESNO));
}

TEST_F(MessageBoxes, AnAnswerTheBoxDoesNotOfferCountsAsUsedUp) {
    qxtest::ScopedEnv answers("QXWEB_ANSWERS", "retry,yes,bogus,yes");
    EXPECT_EQ(IDNO, MessageBoxW(nullptr, L"t", L"c", MB_YESNO));         // retry: no such button
    EXPECT_EQ(IDOK, MessageBoxW(nullptr, L"t", L"c", MB_OK));            // yes: no such button
    EXPECT_EQ(IDCANCEL, MessageBoxW(nullptr, L"t", L"c", MB_OKCANCEL));  // not an answer at all
    EXPECT_EQ(IDYES, MessageBoxW(nullptr, L"t", L"c", MB_YESNO));        // the list kept its place
}

TEST_F(MessageBoxes, ANewListStartsFromItsFirstAnswer) {
    {
        qxtest::ScopedEnv answers("QXWEB_ANSWERS", "yes,yes");
        EXPECT_EQ(IDYES, MessageBoxW(nullptr, L"t", L"c", MB_YESNO));
    }
    qxtest::ScopedEnv answers("QXWEB_ANSWERS", "no,yes");
    EXPECT_EQ(IDNO, MessageBoxW(nullptr, L"t", L"c", MB_YESNO));
    EXPECT_EQ(IDYES, MessageBoxW(nullptr, L"t", L"c", MB_YESNO));
}

TEST_F(MessageBoxes, NullCaptionShowsTheSystemDefaultAndNullTextIsEmpty) {
    qxtest::ScopedEnv answers("QXWEB_ANSWERS", "");
    MessageBoxW(nullptr, nullptr, nullptr, MB_OK);
    EXPECT_EQ(
        std::vector<std::string>{
            R"({"event":"box","caption":"错误","text":"","buttons":"OK","answer":"ok"})"},
        transcript_.Lines());
}

TEST_F(MessageBoxes, WithoutAnswersOrTerminalBoxesGetTheUsedUpAnswers) {
    if (isatty(STDOUT_FILENO)) {
        GTEST_SKIP() << "standard output is a terminal: the box would ask there";
    }
    qxtest::ScopedEnv answers("QXWEB_ANSWERS", nullptr);
    EXPECT_EQ(IDOK, MessageBoxW(nullptr, L"t", L"c", MB_OK));
    EXPECT_EQ(IDCANCEL, MessageBoxW(nullptr, L"t", L"c", MB_RETRYCANCEL));
    EXPECT_EQ(IDNO, MessageBoxW(nullptr, L"t", L"c", MB_YESNO));
}

}  // namespace
