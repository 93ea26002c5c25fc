// The "提示" box shared by the start-up, the patch-list retrieval and the repair.
#include "ui/boxes.h"

#include "platform/win32.h"

void ShowNotice(const std::wstring& text) {
    MessageBoxW(GetForegroundWindow(), text.c_str(), L"提示", MB_OK);
}
