// The recursive folder copy that the merge, backup, restore and install steps use, in two
// variants: one that stops at the first file it cannot copy, and one that copies what it can.
#pragma once

#include <string>

// Copies every file of src below dst, overwriting; non-zero when all were copied. Stops at the
// first file that cannot be copied. A missing src copies nothing and succeeds.
int CopyTree(const std::wstring& src, const std::wstring& dst);
// The same, but it does not stop at a file it cannot copy, so that putting a backup back returns
// everything else still; non-zero when all were copied.
int CopyTreeKeepGoing(const std::wstring& src, const std::wstring& dst);
