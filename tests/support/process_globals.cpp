// The one reset of the program's process-wide state for the tests. It lists every global the
// program defines, so a new global added to the product belongs here too.
#include "support/process_globals.h"

#include <curl/curl.h>

#include "net/connection_options.h"
#include "net/http_client.h"
#include "patchlist/patch_list.h"
#include "state/app_state.h"
#include "state/log.h"
#include "ui/progress_state.h"

namespace qxtest {
namespace {

void ResetStartupValues() {
    g_localVersion.clear();
    g_exeDir.clear();
    g_latestVersionText = L"未知";
    g_patchList.clear();
    g_patchListHeaders.clear();
}

void ResetProgressState() {
    g_hMainDlg = nullptr;
    g_actionMode = -1;
    g_progressBase = 0;
    g_downloadTotal = 0;
    g_downloadDone = 0;
    g_downloadScale = 0.0f;
    g_extractTotal = 0;
    g_extractDone = 0;
    g_extractScale = 0.0f;
    g_downloadDoneLatch = false;
    g_downloadFoldedTransfer = 0;
    g_extractDoneLatch = false;
    g_progressShown = 0;
    g_speedBytes = 0;
    g_shownSpeedBytes = 0;
    g_prevDlNow = 0;
}

// The client itself lives as long as the process; its handle keeps the options of the last
// transfer, which a fresh process would not have.
void ResetHttpClient() {
    HttpClient* client = GetHttpClient();
    client->writeEnabled = false;
    if (client->curlHandle != nullptr) {
        // Back to the handle of a fresh process: no option of an earlier test, and the ones
        // every transfer starts with.
        curl_easy_reset(client->curlHandle);
        SetConnectionOptions(client->curlHandle);
    }
}

// LogWrite opens the log again on the next entry once g_log is null, as on a program's first.
void ResetLog() {
    LogClose();
    g_log = nullptr;
}

}  // namespace

void ResetProcessGlobals() {
    ResetStartupValues();
    ResetProgressState();
    ResetHttpClient();
    ResetLog();
}

}  // namespace qxtest
