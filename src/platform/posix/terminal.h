// The terminal view: when standard output is a TTY and no script drives the program, the dialog
// is drawn in place as text and message boxes ask there. Keys come from terminal_input.h.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "terminal_input.h"
#include "window.h"

namespace qx {
namespace ui {

bool StdoutIsTerminal();

// Shows a box (caption, text, the given answer words as buttons) and waits for a choice.
// Returns the index of the chosen answer, or -1 when no answer can be read.
int AskOnTerminal(const std::wstring& caption, const std::wstring& text,
                  const std::vector<std::string>& answers);

// Starts the dialog view: raw input, keys handed to `onKey` on the input thread (but never while a
// box asks). False when there is no terminal to read from.
bool BeginTerminalDialog(std::function<void(DialogKey)> onKey);
// Draws the dialog's current state (call without the lock; it takes a snapshot).
void DrawTerminalDialog(HWND dialog);
// Ends the view and gives the terminal back as it was.
void EndTerminalDialog();

}  // namespace ui
}  // namespace qx
