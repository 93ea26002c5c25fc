// What the user is told when a transfer fails, in one place for the patch list, the patch
// archives and the probe for the cumulative patch, and the retrieval's retry question.
#pragma once

#include <string>

#include "net/transfer_outcome.h"
#include "patchlist/fetch_patch_list.h"

enum class TransferKind { PatchList, Patch, Probe };

// The text of the box for a failed transfer; empty when that failure shows none (a probe that
// found no cumulative patch).
std::wstring TransferFailureText(TransferKind kind, const TransferOutcome& outcome);
// Shows that box, if any.
void ShowTransferFailure(TransferKind kind, const TransferOutcome& outcome);

// The patch-list retrieval's boxes: the failed transfer, then "retry?" with OK and Cancel.
PatchListPrompts& PatchListBoxes();
