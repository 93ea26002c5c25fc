// Retrieval of the patch list at start-up, with the user's retry questions, and its check against
// the publisher's signature when the build carries a public key.
#pragma once

#include <string>

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
// patch-list host + PATCH_LIST_PATH, unless the test-only setting QXWEB_PATCHLIST_URL names
// another address.
const char* PatchListUrl();

// Up to three attempts, each failure followed by its box and the retry question. An attempt
// fetches the list and, when the build checks signatures, its signature file (the address +
// ".minisig"); a list whose signature does not hold, or that is older than one this client in
// `clientFolder` has accepted, fails the attempt like a transfer. A list that passes is parsed
// into g_patchList and g_patchListHeaders and sorted. False when the user declined another
// attempt or the third failed.
bool FetchPatchList(const std::wstring& clientFolder, PatchListPrompts& prompts);
