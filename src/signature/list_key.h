// The minisign public key that patch lists must be signed with.
#pragma once

#include <string>

// The key built in with the CMake variable QXWEB_LIST_PUBLIC_KEY; in the Linux build the test
// setting of the same name replaces it when set (set but empty: no key). Empty: lists are not
// checked.
std::string ListPublicKeyText();
