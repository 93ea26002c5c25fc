// Recording the first failing file-system call of an operation.
#include "fsutil/file_failure.h"

void NoteFailure(FileFailure* failure, const wchar_t* call, const std::wstring& path,
                 const std::wstring& target) {
    const DWORD error = GetLastError();
    if (failure == nullptr || failure->Recorded()) {
        return;
    }
    failure->call = call;
    failure->path = path;
    failure->target = target;
    failure->error = error;
}
