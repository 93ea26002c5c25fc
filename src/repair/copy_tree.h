// The recursive folder copy, and the move that the merge and the install use in its place: the
// copy is what a move falls back to where the system refuses it.
#pragma once

#include <string>

struct FileFailure;

// Copies every file of src below dst, overwriting; true when all were copied. A link (symbolic
// link or junction) below dst where a file or folder would go is never written through nor
// replaced: it fails the copy, recorded in `failure`. dst itself may be a link. Stops at the
// first file that cannot be copied, recording the call that failed in `failure` (when given). A
// missing src copies nothing and succeeds.
bool CopyTree(const std::wstring& src, const std::wstring& dst, FileFailure* failure = nullptr);
// Moves every file of src below dst with CopyTree's rules: a later file replaces one of the same
// path, files dst has that src lacks stay, a read-only or in-use target fails it. A folder whose
// target does not exist yet goes by one rename; every move the system refuses (another volume, a
// file in use) is made a copy of that entry instead. True when everything arrived; what was
// moved is gone from src.
bool MoveTree(const std::wstring& src, const std::wstring& dst, FileFailure* failure = nullptr);
