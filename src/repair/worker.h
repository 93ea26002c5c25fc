// The repair worker thread: the seven stages in order, one box on the first failure.
#pragma once

#include "platform/win32.h"

DWORD WINAPI RepairWorker(LPVOID parameter);
