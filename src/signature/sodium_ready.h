// libsodium started once for the process: sodium_init() must come before its other functions.
#pragma once

// False when libsodium cannot start; nothing of it may be used then.
bool SodiumReady();
