// Starting libsodium once: sodium_init() picks the implementations for this processor. It may be
// called again (it then returns 1), so the first caller on any thread starts it.
#include "signature/sodium_ready.h"

#include <sodium.h>

bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}
