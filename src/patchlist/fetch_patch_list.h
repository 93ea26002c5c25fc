// Retrieval of the patch list at start-up, with the user's retry questions.
#pragma once

#include "net/transfer_outcome.h"

#define PATCH_LIST_PATH "/qx_patchlist_win32"

// What the retrieval needs from whoever talks to the user: the box of a failed transfer, and the
// question whether to try again.
class PatchListPrompts {
  public:
    virtual void TransferFailed(const TransferOutcome& outcome) = 0;
    // True when the user wants another attempt.
    virtual bool RetryWanted() = 0;

  protected:
    ~PatchListPrompts() = default;
};

// The full address: the build's scheme (http unless built for https) + "://" + the build's
// patch-list host + PATCH_LIST_PATH.
const char* PatchListUrl();

// Up to three transfers, each failure followed by its box and the retry question; a body that
// arrives is parsed into g_patchList and g_patchListHeaders and sorted. False when the user
// declined another attempt or the third failed.
bool FetchPatchList(PatchListPrompts& prompts);
