// Keys from the terminal. One reader thread reads raw keys while a view or a box uses the
// keyboard, and hands each key to the box that asks, else to the dialog view.
#pragma once

#include <functional>

namespace qx {
namespace ui {

enum class Key { None, Enter, Escape, Left, Right, Tab, Char, End };

struct KeyPress {
    Key key = Key::None;
    char ch = 0;  // for Key::Char
};

// Keys of the dialog view.
enum class DialogKey { Enter, Quit, Escape };

// A view or a box starts using the keyboard: raw mode on, the reader running. False when there is
// no terminal to read keys from, or it has ended. Every true is paired with a ReleaseKeyboard.
bool AcquireKeyboard();
// When the last user leaves, the terminal's settings are given back and the reader sleeps.
void ReleaseKeyboard();

// Where the dialog's keys go (Enter, Esc, q), called on the reader thread; null drops them. When
// the terminal ends, the listener gets Quit rather than waiting for keys that cannot come.
void SetDialogKeyListener(std::function<void(DialogKey)> listener);

// A box owns the keyboard from BeginBoxKeys, called before it is drawn, until EndBoxKeys, so a key
// typed as soon as the box shows, or right after another key, is queued for it and never lost.
void BeginBoxKeys();
void EndBoxKeys();
// The next key for the box; Key::End when the input has ended.
KeyPress WaitBoxKey();

}  // namespace ui
}  // namespace qx
