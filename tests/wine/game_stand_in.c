/* Stand-in for the game executable "vazazu.exe" in the Wine checks: it records how it was started
 * (its working directory, its command line and the ANSI code page it runs with) in
 * "vazazu.started" beside itself, so the check can tell that the repair tool launched the game from
 * the client folder, in the locale the check chose. It then exits, or with the argument "--stay"
 * keeps running for two minutes, as a game client the repair tool must end. */
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

static int WriteMarker(const wchar_t* path, const wchar_t* workDir, const wchar_t* commandLine) {
    FILE* file = _wfopen(path, L"w, ccs=UTF-8");
    if (file == NULL)
        return 1;
    fwprintf(file, L"%ls\n%ls\n%u\n", workDir, commandLine, GetACP());
    return fclose(file) == 0 ? 0 : 1;
}

int wmain(int argc, wchar_t** argv) {
    wchar_t exePath[MAX_PATH];
    wchar_t workDir[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, exePath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || GetCurrentDirectoryW(MAX_PATH, workDir) == 0)
        return 1;
    wchar_t* lastSeparator = wcsrchr(exePath, L'\\');
    if (lastSeparator == NULL)
        return 1;
    wcscpy(lastSeparator + 1, L"vazazu.started");
    int result = WriteMarker(exePath, workDir, GetCommandLineW());
    if (argc > 1 && wcscmp(argv[1], L"--stay") == 0)
        Sleep(120 * 1000);
    return result;
}
