// The second mode: removing the browser plug-in and its registration.
#pragma once

#include <string>

#include "platform/win32.h"

bool RemoveWebPlugin(int mode);

// The delete loop of the removal, with the delete call as a parameter so that tests can make it
// fail in ways a real file system will not. Asks the user about a file in use (Retry/Cancel) but
// shows no other box.
enum class DeleteResult { Deleted, NotFound, GaveUp, Cancelled };
typedef BOOL(WINAPI* DeleteFileFn)(LPCWSTR path);
DeleteResult DeleteControlFile(const std::wstring& path, DeleteFileFn deleteFile);
