// The repair dialog's controls updated by id; each call looks the control up afresh, since a
// message may arrive before the dialog has made all of them.
#include "ui/dialog_controls.h"

#include "ui/resource.h"

void ShowControl(HWND dialog, int id, int show) {
    if (HWND control = GetDlgItem(dialog, id)) {
        ShowWindow(control, show);
    }
}

void EnableControl(HWND dialog, int id, BOOL enable) {
    if (HWND control = GetDlgItem(dialog, id)) {
        EnableWindow(control, enable);
    }
}

void SetControlText(HWND dialog, int id, const wchar_t* text) {
    if (HWND control = GetDlgItem(dialog, id)) {
        SetWindowTextW(control, text);
    }
}

void ShowProgressPanel(HWND dialog, int show) {
    HWND progress = GetDlgItem(dialog, IDC_PROGRESS);
    HWND status = GetDlgItem(dialog, IDC_STATUS);
    if (progress && status) {
        ShowWindow(progress, show);
        ShowWindow(status, show);
    }
}
