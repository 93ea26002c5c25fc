// The variant of CopyTree that putting a backup back needs: it does not stop at a file it cannot
// copy, so that everything else still returns.
#pragma once

#include <string>

// Copies every file of src below dst that it can (overwriting); non-zero when all were copied.
int CopyTreeKeepGoing(const std::wstring& src, const std::wstring& dst);
