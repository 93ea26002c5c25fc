// Resource and control ids, shared by the resource script and the dialog.
#pragma once

#define IDD_REPAIR 102

#define IDC_PROGRESS 1001
#define IDC_LATEST_VERSION 1002
#define IDC_STATUS 1003
#define IDC_LATEST_VERSION_LABEL 1004
#define IDC_HINT 1005
#define IDC_ACTION 1006
#define IDC_DOWNLOAD_COUNT 1007
#define IDC_DOWNLOAD_SPEED 1008
