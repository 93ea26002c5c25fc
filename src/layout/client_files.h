// The names of the installed client's own files in its folder, which the tool tests for,
// reads, looks for among running processes and starts. They are the game's, fixed by it.
#pragma once

// The game executable, started by the launch and looked for among running processes.
inline constexpr wchar_t kGameExecutableName[] = L"vazazu.exe";
// The game's library beside its executable.
inline constexpr wchar_t kGameLibraryName[] = L"vazazu.dll";
// The client's local version, written by the game's own updater; the tool only reads it.
inline constexpr wchar_t kLocalVersionFileName[] = L"findownload.dat";
