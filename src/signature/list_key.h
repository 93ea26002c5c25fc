// The minisign public key that patch lists must be signed with.
#pragma once

#include <string>

// The key built in with the CMake variable QXWEB_LIST_PUBLIC_KEY; in a build that reads test
// settings (the Linux build) the setting of the same name replaces it when set. Empty: lists are
// not checked.
std::string ListPublicKeyText();
