// The dialog's handlers of the five progress messages that the worker, its stages and the
// transfer callback post: per-file bar steps, the speed label and the count and status texts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// transfer: the number of the transfer reporting (g_downloadDone when it was announced).
void OnDownloadProgress(HWND dialog, WPARAM percent, LPARAM transfer);
void OnExtractProgress(HWND dialog, WPARAM percent);
void OnExtractCount(HWND dialog);
void OnDownloadCount(HWND dialog);
void OnDownloadStarted(HWND dialog);

// "%.2f%s/s" for a byte count per second: KB below 1024 KB, MB from there, both truncated to
// two decimals.
void FormatSpeedText(uint32_t bytesPerSecond, wchar_t* text, size_t size);
