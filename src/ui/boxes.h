// The program's plain notices: one "提示" box with an OK button, owned by the window in front
// (the dialog while it is open), as every stage failure and start-up failure shows it.
#pragma once

#include <string>

void ShowNotice(const std::wstring& text);
