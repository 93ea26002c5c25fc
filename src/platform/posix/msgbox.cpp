// MessageBoxW and GetForegroundWindow. A box takes its answer from QXWEB_ANSWERS when that is set,
// otherwise from the terminal when standard output is one, otherwise the answer of a used-up list;
// every box is recorded in the transcript with the answer it got.
#include <string>
#include <vector>

#include "script.h"
#include "terminal.h"
#include "transcript.h"
#include "window.h"

namespace qx {
namespace ui {
namespace {

struct Choice {
    const char* answer;  // the word of QXWEB_ANSWERS and of the transcript
    int id;              // what MessageBoxW returns
};

struct ButtonSet {
    const char* name;  // the transcript's "buttons"
    std::vector<Choice> choices;
    Choice fallback;  // the answer once QXWEB_ANSWERS is used up
};

const Choice kOk{"ok", IDOK};
const Choice kCancel{"cancel", IDCANCEL};
const Choice kYes{"yes", IDYES};
const Choice kNo{"no", IDNO};
const Choice kRetry{"retry", IDRETRY};

// The buttons of a box from its style; styles the program never uses show as an OK box.
ButtonSet ButtonsFor(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return {"OKCANCEL", {kOk, kCancel}, kCancel};
        case MB_YESNO:
            return {"YESNO", {kYes, kNo}, kNo};
        case MB_RETRYCANCEL:
            return {"RETRYCANCEL", {kRetry, kCancel}, kCancel};
        default:
            return {"OK", {kOk}, kOk};
    }
}

// A scripted answer that names none of the box's buttons counts as a used-up list, so a
// misaligned script cannot make a box return a button it does not have.
Choice ChoiceNamed(const ButtonSet& buttons, const std::string& word) {
    for (const Choice& choice : buttons.choices) {
        if (word == choice.answer) {
            return choice;
        }
    }
    return buttons.fallback;
}

Choice AskTerminal(const ButtonSet& buttons, const std::wstring& caption,
                   const std::wstring& text) {
    std::vector<std::string> answers;
    for (const Choice& choice : buttons.choices) {
        answers.push_back(choice.answer);
    }
    int index = AskOnTerminal(caption, text, answers);
    return index >= 0 ? buttons.choices[static_cast<size_t>(index)] : buttons.fallback;
}

}  // namespace
}  // namespace ui
}  // namespace qx

// A null caption is the system's default caption; on the Chinese systems the tool is made for
// Windows shows "错误" (Error) there, so that is what the layer shows and records.
int MessageBoxW(HWND, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    using namespace qx::ui;
    const std::wstring text = lpText ? lpText : L"";
    const std::wstring caption = lpCaption ? lpCaption : L"错误";
    const ButtonSet buttons = ButtonsFor(uType);

    Choice choice = buttons.fallback;
    std::string word;
    if (NextScriptedAnswer(&word)) {
        choice = ChoiceNamed(buttons, word);
    } else if (StdoutIsTerminal()) {
        choice = AskTerminal(buttons, caption, text);
    }
    RecordEvent(JsonLine()
                    .AddString("event", "box")
                    .AddText("caption", caption)
                    .AddText("text", text)
                    .AddString("buttons", buttons.name)
                    .AddString("answer", choice.answer));
    return choice.id;
}

HWND GetForegroundWindow(void) {
    return qx::ui::ForegroundDialog();
}
