// The transcript of everything the user could see: when QXWEB_TRANSCRIPT names a file, each event
// is appended to it as one JSON object per line, so tests and outside checks can read a run back.
#pragma once

#include <string>

#include "win32_posix.h"

namespace qx {
namespace ui {

// One JSON object, built key by key in the order the keys are added.
class JsonLine {
  public:
    JsonLine& AddString(const char* key, const std::string& utf8);
    JsonLine& AddText(const char* key, const wchar_t* text);  // null counts as ""
    JsonLine& AddText(const char* key, const std::wstring& text);
    JsonLine& AddNumber(const char* key, long long value);
    JsonLine& AddBool(const char* key, bool value);
    std::string Text() const { return "{" + body_ + "}"; }

  private:
    void AddKey(const char* key);
    std::string body_;
};

// Appends the event to the transcript when QXWEB_TRANSCRIPT is set; one write per line, so lines
// from several threads never interleave. The variable is read at each event.
void RecordEvent(const JsonLine& event);

// Wide text as UTF-8 (wchar_t may be UTF-16 or UTF-32); invalid code points become U+FFFD.
std::string ToUtf8(const std::wstring& text);
// Bytes that claim to be UTF-8 made valid: each invalid sequence becomes U+FFFD.
std::string ValidUtf8(const std::string& bytes);
// JSON string literal (quotes included) for UTF-8 text.
std::string JsonQuote(const std::string& utf8);

}  // namespace ui
}  // namespace qx
