// qxtest::ResetProcessGlobals(): every process-wide value of the program put back to what a fresh
// process starts with. The tests of one program share a process, so each fixture that touches
// this state calls it first and sees none of what an earlier test left behind.
#pragma once

namespace qxtest {

// The start-up values (g_exeDir, g_localVersion, g_latestVersionText), the patch list and its
// headers, the dialog's progress state with its latches, the HTTP client's flags, response
// buffer and handle options, and the log (closed; the next entry opens it anew).
void ResetProcessGlobals();

}  // namespace qxtest
