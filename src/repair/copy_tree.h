// The recursive folder copy that the merge, backup and install steps use.
#pragma once

#include <string>

struct FileFailure;

// Copies every file of src below dst, overwriting; non-zero when all were copied. Stops at the
// first file that cannot be copied. A missing src copies nothing and succeeds.
int CopyTree(const std::wstring& src, const std::wstring& dst);
// The same, recording the call that failed in `failure` (when given).
int CopyTree(const std::wstring& src, const std::wstring& dst, FileFailure* failure);
