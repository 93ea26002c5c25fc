// Retrieval of the patch list at start-up, with the user's retry questions.
#pragma once

#define PATCH_LIST_PATH "/qx_patchlist_win32"

// The full address: the build's scheme (http unless built for https) + "://" + the build's
// patch-list host + PATCH_LIST_PATH, unless the test-only setting QXWEB_PATCHLIST_URL names
// another address.
const char* PatchListUrl();

bool FetchPatchList();
