// Starting the game "vazazu.exe" from the tool's own folder, with that folder as its working
// directory, whatever the tool's own current directory is. The tool does not wait for the game.
#include "ui/launch.h"

#include <string>

#include "layout/client_files.h"
#include "platform/owners.h"
#include "platform/win32.h"
#include "state/app_state.h"

bool LaunchGame() {
    const std::wstring game = g_exeDir + kGameExecutableName;
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = nullptr;
    info.lpVerb = L"open";
    info.lpFile = game.c_str();
    info.lpParameters = L"";
    info.lpDirectory = g_exeDir.c_str();
    info.nShow = SW_SHOW;
    if (!ShellExecuteExW(&info)) {
        MessageBoxW(GetForegroundWindow(), L"无法启动游戏程序", nullptr, MB_OK);
        return false;
    }
    // The game is not waited on; its process handle is only released.
    const UniqueHandle process(info.hProcess);
    return true;
}
