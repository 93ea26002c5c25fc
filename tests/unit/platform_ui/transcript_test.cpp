// The transcript: JSON escaping of every kind of text, lines printed by the program, and a file
// that is replaced between events.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/posix/syscalls.h"
#include "platform/posix/transcript.h"
#include "platform/win32.h"
#include "ui_test_env.h"

namespace {

using qx::ui::JsonLine;

TEST(Transcript, EscapesQuotesBackslashesAndControlCharacters) {
    std::wstring wide = L"a\"b\\c\n\t\x01\x7f 修复";
    wide += static_cast<wchar_t>(0x1F600);  // outside the BMP
    EXPECT_EQ(std::string("{\"k\":\"a\\\"b\\\\c\\n\\t\\u0001\\u007f 修复\xF0\x9F\x98\x80\"}"),
              JsonLine().AddText("k", wide).Text());
    // Bytes that are not UTF-8 cannot reach the file as they are.
    EXPECT_EQ(
        "{\"k\":\"a\xEF\xBF\xBD"
        "b\xEF\xBF\xBD\"}",
        JsonLine()
            .AddString("k",
                       "a\xFF"
                       "b\xC3")
            .Text());
    EXPECT_EQ(R"({"n":-3,"t":true,"f":false,"s":""})",
              JsonLine()
                  .AddNumber("n", -3)
                  .AddBool("t", true)
                  .AddBool("f", false)
                  .AddText("s", static_cast<const wchar_t*>(nullptr))
                  .Text());
}

TEST(Transcript, NothingIsWrittenWithoutTheVariable) {
    qxtest::TempDir dir;
    qxtest::ScopedEnv unset("QXWEB_TRANSCRIPT", nullptr);
    qx::ui::RecordEvent(JsonLine().AddString("event", "x"));
    qxtest::ScopedEnv set("QXWEB_TRANSCRIPT", dir.host("t.jsonl").c_str());
    qx::ui::RecordEvent(JsonLine().AddString("event", "y"));
    EXPECT_EQ(std::vector<std::string>{R"({"event":"y"})"}, uitest::ReadLines(dir.host("t.jsonl")));
}

TEST(Transcript, AReplacedFileGetsTheFollowingEvents) {
    uitest::Transcript transcript;
    qx::ui::RecordEvent(JsonLine().AddString("event", "first"));
    std::remove(transcript.Path().c_str());
    qx::ui::RecordEvent(JsonLine().AddString("event", "second"));
    EXPECT_EQ(std::vector<std::string>{R"({"event":"second"})"}, transcript.Lines());
}

TEST(Transcript, ItsLinesNeitherCountAsNorFailWithTheProgramsWrites) {
    uitest::Transcript transcript;
    qx::InjectFault(qx::Sys::Write, 1, ENOSPC);
    qx::ui::RecordEvent(JsonLine().AddString("event", "kept"));
    EXPECT_EQ(std::vector<std::string>{R"({"event":"kept"})"}, transcript.Lines());
    // The fault is still waiting for the program's first write.
    FILE* file = fopen((transcript.Path() + ".other").c_str(), "wb");
    ASSERT_NE(nullptr, file);
    fputs("x", file);
    EXPECT_EQ(EOF, fclose(file));
    qx::ClearFaults();
}

TEST(Transcript, PrintedTextIsRecordedLineByLine) {
    uitest::Transcript transcript;
    testing::internal::CaptureStdout();
    printf("terminate process wait for project failed, dw = %d\n", 258);
    printf("two\n\nlines \"quoted\"\n");
    printf("no newline %s", "at end");
    EXPECT_EQ(
        "terminate process wait for project failed, dw = 258\ntwo\n\nlines \"quoted\"\n"
        "no newline at end",
        testing::internal::GetCapturedStdout());
    std::vector<std::string> expected = {
        R"({"event":"stdout","text":"terminate process wait for project failed, dw = 258"})",
        R"({"event":"stdout","text":"two"})",
        R"({"event":"stdout","text":""})",
        R"({"event":"stdout","text":"lines \"quoted\""})",
        R"({"event":"stdout","text":"no newline at end"})",
    };
    EXPECT_EQ(expected, transcript.Lines());
}

}  // namespace
