// QXWEB_ANSWERS and QXWEB_DIALOG: parsing and the process-wide position in the answer list.
#include "script.h"

#include <cctype>
#include <cstdlib>
#include <mutex>

namespace qx {
namespace ui {
namespace {

std::mutex g_answersLock;
std::string g_answersSeen;  // the value the position below belongs to
size_t g_answersUsed = 0;

std::string Trimmed(const std::string& item) {
    size_t begin = item.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) {
        return "";
    }
    size_t end = item.find_last_not_of(" \t\r\n");
    return item.substr(begin, end - begin + 1);
}

std::string Lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

std::vector<std::string> SplitScriptList(const std::string& text) {
    std::vector<std::string> items;
    if (Trimmed(text).empty()) {
        return items;
    }
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        items.push_back(Lowered(Trimmed(text.substr(start, comma - start))));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return items;
}

bool NextScriptedAnswer(std::string* answer) {
    const char* value = std::getenv("QXWEB_ANSWERS");
    if (value == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> lock(g_answersLock);
    if (g_answersSeen != value) {
        g_answersSeen = value;
        g_answersUsed = 0;
    }
    std::vector<std::string> answers = SplitScriptList(value);
    if (g_answersUsed < answers.size()) {
        *answer = answers[g_answersUsed++];
    } else {
        answer->clear();
    }
    return true;
}

void ResetScriptedAnswers() {
    std::lock_guard<std::mutex> lock(g_answersLock);
    g_answersSeen.clear();
    g_answersUsed = 0;
}

bool ReadDialogScript(std::vector<DialogAction>* actions) {
    const char* value = std::getenv("QXWEB_DIALOG");
    if (value == nullptr) {
        return false;
    }
    actions->clear();
    for (const std::string& word : SplitScriptList(value)) {
        if (word == "press") {
            actions->push_back(DialogAction::Press);
        } else if (word == "close") {
            actions->push_back(DialogAction::Close);
        }
    }
    return true;
}

}  // namespace ui
}  // namespace qx
