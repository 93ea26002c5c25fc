// Scripted mode: the answers for message boxes (QXWEB_ANSWERS) and the actions of the dialog
// (QXWEB_DIALOG), read from the environment so that tests and the demo drive the program.
#pragma once

#include <string>
#include <vector>

namespace qx {
namespace ui {

// The next answer of QXWEB_ANSWERS, lower-cased and trimmed ("" once the list is used up).
// Answers are consumed in order across the whole process. Returns false when the variable is not
// set (a set but empty variable is an empty list). The list starts again from its first answer
// whenever the variable's value changes.
bool NextScriptedAnswer(std::string* answer);

// Forgets how many answers were consumed, for tests that set the same list again.
void ResetScriptedAnswers();

enum class DialogAction { Press, Close };

// The actions of QXWEB_DIALOG, in order; false when the variable is not set. Unknown words are
// skipped. Read once per dialog.
bool ReadDialogScript(std::vector<DialogAction>* actions);

// A comma-separated list, each item trimmed of blanks and lower-cased; "" is an empty list.
std::vector<std::string> SplitScriptList(const std::string& text);

}  // namespace ui
}  // namespace qx
