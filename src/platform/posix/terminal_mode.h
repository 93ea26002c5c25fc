// The terminal modes the views change: raw key input and the alternate screen. Both are given
// back when the keyboard's last user leaves, at exit, and on the signals that end the process, so
// however a run ends the shell gets its terminal back as it was.
#pragma once

#include <string>

namespace qx {
namespace ui {

// Saves the settings of `fd` (the terminal keys come from) and turns line editing and echo off:
// each key arrives at once, and Ctrl-C still ends the program. The first call installs the
// restorers.
void EnterRawMode(int fd);

// Gives back the saved settings and the cursor, and leaves the alternate screen if the view is
// still on it. Async-signal-safe: the signal handlers call it.
void RestoreTerminal();

// The dialog view draws on the alternate screen, without a cursor blinking in the picture.
void EnterAlternateScreen();
void LeaveAlternateScreen();

// Writes text to the terminal (standard output) whole, past the fault table like the transcript:
// what the user sees must not shift or take the faults meant for the program's files.
void WriteToTerminal(const std::string& text);

}  // namespace ui
}  // namespace qx
