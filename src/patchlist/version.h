// Version texts "major.minor.patch", read as three signed numbers and compared numerically.
#pragma once

#include <string>

// 1 when a is newer, -1 when b is newer, 0 when equal or when either text is not a version.
int CompareVersions(const std::wstring& a, const std::wstring& b);

// True when both are versions and b's minor number is a's plus one.
bool IsNextMinorVersion(const std::wstring& a, const std::wstring& b);
