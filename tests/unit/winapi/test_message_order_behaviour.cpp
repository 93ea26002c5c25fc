// The order in which a dialog's thread receives messages: one sent from another thread
// (SendMessageW, which waits for the answer) is delivered before every message still posted,
// however long those have waited, and the posted ones follow in the order they were posted. The
// program's worker both posts and sends to the dialog, so the layer must interleave them as
// Windows does.
#include <vector>

#include "resources/message_order_dialog.h"
#include "winapi_fixture.h"

namespace {

const UINT kOrderMessage = WM_USER + 20;
const WPARAM kSent = 100;

HANDLE g_worker = nullptr;
std::vector<WPARAM> g_received;

// Posts three messages, then sends one and waits for it to be handled.
DWORD WINAPI PostThenSend(LPVOID parameter) {
    HWND dialog = static_cast<HWND>(parameter);
    for (WPARAM i = 1; i <= 3; ++i) {
        PostMessageW(dialog, kOrderMessage, i, 0);
    }
    SendMessageW(dialog, kOrderMessage, kSent, 0);
    return 0;
}

// Holds the dialog thread in WM_INITDIALOG until the worker's posted messages are queued and its
// sent one waits behind them; only then does the dialog's loop retrieve anything.
INT_PTR CALLBACK OrderDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_INITDIALOG) {
        g_worker = CreateThread(nullptr, 0, PostThenSend, dialog, 0, nullptr);
        while (g_worker != nullptr &&
               (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) == 0) {
            Sleep(1);
        }
        return TRUE;
    }
    if (msg == kOrderMessage) {
        g_received.push_back(wParam);
        if (g_received.size() == 4) {
            EndDialog(dialog, 1);
        }
        return TRUE;
    }
    if (msg == WM_CLOSE) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

TEST(MessageOrder, AMessageSentFromAnotherThreadOvertakesThePostedOnes) {
    g_received.clear();
    const INT_PTR result =
        DialogBoxParamW(nullptr, MAKEINTRESOURCEW(QX_ORDER_DIALOG), nullptr, OrderDialogProc, 0);
    ASSERT_NE(nullptr, g_worker);
    WaitForSingleObject(g_worker, INFINITE);
    CloseHandle(g_worker);
    EXPECT_EQ(1, result);
    EXPECT_EQ((std::vector<WPARAM>{kSent, 1, 2, 3}), g_received);
}

}  // namespace
