// FormatMessageW for the system's error texts: Windows' English wording of every error code the
// layer declares, so that a log line can name a failure the way the Windows build names it.
#include <cwchar>
#include <string>

#include "win32_posix.h"

namespace qx {
namespace {

struct SystemText {
    DWORD code;
    const wchar_t* text;
};

// As Microsoft's list of system error codes words them; FormatMessageW adds the line end.
const SystemText kSystemTexts[] = {
    {ERROR_SUCCESS, L"The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, L"Incorrect function."},
    {ERROR_FILE_NOT_FOUND, L"The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, L"The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, L"The system cannot open the file."},
    {ERROR_ACCESS_DENIED, L"Access is denied."},
    {ERROR_INVALID_HANDLE, L"The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY,
     L"Not enough memory resources are available to process this command."},
    {ERROR_INVALID_DATA, L"The data is invalid."},
    {ERROR_NOT_SAME_DEVICE, L"The system cannot move the file to a different disk drive."},
    {ERROR_NO_MORE_FILES, L"There are no more files."},
    {ERROR_WRITE_PROTECT, L"The media is write protected."},
    {ERROR_NOT_READY, L"The device is not ready."},
    {ERROR_BAD_LENGTH, L"The program issued a command but the command length is incorrect."},
    {ERROR_WRITE_FAULT, L"The system cannot write to the specified device."},
    {ERROR_READ_FAULT, L"The system cannot read from the specified device."},
    {ERROR_GEN_FAILURE, L"A device attached to the system is not functioning."},
    {ERROR_SHARING_VIOLATION,
     L"The process cannot access the file because it is being used by another process."},
    {ERROR_LOCK_VIOLATION,
     L"The process cannot access the file because another process has locked a portion of the "
     L"file."},
    {ERROR_HANDLE_DISK_FULL, L"The disk is full."},
    {ERROR_NOT_SUPPORTED, L"The request is not supported."},
    {ERROR_FILE_EXISTS, L"The file exists."},
    {ERROR_INVALID_PARAMETER, L"The parameter is incorrect."},
    {ERROR_BROKEN_PIPE, L"The pipe has been ended."},
    {ERROR_DISK_FULL, L"There is not enough space on the disk."},
    {ERROR_INSUFFICIENT_BUFFER, L"The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, L"The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_MOD_NOT_FOUND, L"The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, L"The specified procedure could not be found."},
    {ERROR_NEGATIVE_SEEK,
     L"An attempt was made to move the file pointer before the beginning of the file."},
    {ERROR_DIR_NOT_EMPTY, L"The directory is not empty."},
    {ERROR_BAD_PATHNAME, L"The specified path is invalid."},
    {ERROR_BUSY, L"The requested resource is in use."},
    {ERROR_ALREADY_EXISTS, L"Cannot create a file when that file already exists."},
    {ERROR_BAD_EXE_FORMAT, L"%1 is not a valid Win32 application."},
    {ERROR_FILENAME_EXCED_RANGE, L"The filename or extension is too long."},
    {ERROR_DIRECTORY, L"The directory name is invalid."},
    {ERROR_MR_MID_NOT_FOUND,
     L"The system cannot find message text for message number 0x%1 in the message file for %2."},
    {ERROR_OPERATION_ABORTED,
     L"The I/O operation has been aborted because of either a thread exit or an application "
     L"request."},
    {ERROR_INVALID_FLAGS, L"Invalid flags."},
    {ERROR_NO_UNICODE_TRANSLATION,
     L"No mapping for the Unicode character exists in the target multi-byte code page."},
    {ERROR_TOO_MANY_LINKS,
     L"An attempt was made to create more links on a file than the file system supports."},
    {ERROR_NO_ASSOCIATION,
     L"No application is associated with the specified file for this operation."},
    {ERROR_MESSAGE_SYNC_ONLY, L"The message can be used only with synchronous operations."},
    {ERROR_NOT_FOUND, L"Element not found."},
    {ERROR_INVALID_WINDOW_HANDLE, L"Invalid window handle."},
    {ERROR_CONTROL_ID_NOT_FOUND, L"Control ID not found."},
    {ERROR_RESOURCE_NAME_NOT_FOUND,
     L"The specified resource name cannot be found in the image file."},
    {ERROR_RESOURCE_LANG_NOT_FOUND,
     L"The specified resource language ID cannot be found in the image file."},
    {ERROR_CANT_ACCESS_FILE, L"The file cannot be accessed by the system."},
    {ERROR_CANT_RESOLVE_FILENAME, L"The name of the file cannot be resolved by the system."},
};

const wchar_t* SystemTextOf(DWORD code) {
    for (const SystemText& entry : kSystemTexts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    return nullptr;
}

// The texts are English: the user's default language (0, or neutral) and English are served.
bool IsServedLanguage(DWORD languageId) {
    const WORD primary = PRIMARYLANGID(languageId);
    return primary == LANG_NEUTRAL || primary == LANG_ENGLISH;
}

}  // namespace
}  // namespace qx

DWORD FormatMessageW(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                     DWORD nSize, va_list*) {
    if (dwFlags != (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!qx::IsServedLanguage(dwLanguageId)) {
        SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    const wchar_t* text = qx::SystemTextOf(dwMessageId);
    if (text == nullptr) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    const std::wstring message = std::wstring(text) + L"\r\n";
    if (lpBuffer == nullptr || nSize <= message.size()) {
        if (lpBuffer != nullptr && nSize > 0) {
            lpBuffer[0] = L'\0';  // a caller that ignores the result still reads a string
        }
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wmemcpy(lpBuffer, message.c_str(), message.size() + 1);
    return static_cast<DWORD>(message.size());
}
