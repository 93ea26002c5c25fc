// The second mode: removing the browser plug-in and its registration, telling the user the outcome
// in message boxes that the caller shows (the plug-in removal has its texts, not the boxes).
#pragma once

#include <string>

#include "platform/win32.h"

// MessageBoxW's signature: the caller passes MessageBoxW itself.
typedef int(WINAPI* MessageBoxFn)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

bool RemoveWebPlugin(int mode, MessageBoxFn box);

// The delete loop of the removal, with the delete call as a parameter so that tests can make it
// fail in ways a real file system will not. Asks the user about a file in use (Retry/Cancel) but
// shows no other box.
enum class DeleteResult { Deleted, NotFound, GaveUp, Cancelled };
typedef BOOL(WINAPI* DeleteFileFn)(LPCWSTR path);
DeleteResult DeleteControlFile(const std::wstring& path, DeleteFileFn deleteFile, MessageBoxFn box);
