// The dialog's handlers of the messages a repair posts: per-file and per-archive bar steps, the
// speed label, the count and status texts, and the repair's steps up to the repaired state. The
// dialog's thread alone does the bar's arithmetic, and the bar never moves back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// transfer: the number of the transfer reporting (from 1).
void OnDownloadProgress(HWND dialog, WPARAM percent, LPARAM transfer);
void OnExtractProgress(HWND dialog, WPARAM percent);
// number: the archive being unpacked (from 1) of `total`.
void OnExtractCount(HWND dialog, WPARAM number, LPARAM total);
// number: the transfer starting (from 1).
void OnDownloadCount(HWND dialog, WPARAM number);
// total: the transfers the download stage announces.
void OnDownloadStarted(HWND dialog, WPARAM total);
// step: a RepairStep.
void OnRepairStep(HWND dialog, WPARAM step);

// "%.2f%s/s" for a byte count per second: KB below 1024 KB, MB from there, both truncated to
// two decimals.
void FormatSpeedText(uint32_t bytesPerSecond, wchar_t* text, size_t size);
