// Putting what a repair or a restore changed on the disk before the journal records it. The tool
// runs with administrator rights, so one flush of the volume covers a whole phase; where the
// volume cannot be flushed (Wine opens it but refuses the flush) or the patch folders may be on
// another volume (Documents is a link), the folders a phase changes are flushed file by file.
#pragma once

#include <string>

#include "platform/win32.h"

struct FileFailure;

// Everything a repair or a restore changed in the client's patch folders and their backup: the
// data of every file and every name in Documents' patch folders, Documents, TmpPatch, its backup
// and what a restore moved aside. False, with the failing call in `failure`, when any of it
// could not be flushed.
bool FlushPatchFolders(FileFailure* failure = nullptr);
