// The repair worker thread: the seven stages in order, one box on the first failure.
#pragma once

#include "platform/win32.h"
#include "repair/repair_observer.h"
#include "repair/repair_plan.h"

// A repair to run: what it starts from, and who hears of it (the dialog).
struct RepairJob {
    RepairInputs inputs;
    RepairObserver* observer = nullptr;
};

// The thread routine. `parameter` is a RepairJob made with new, which the worker owns and deletes
// when it returns.
DWORD WINAPI RepairWorker(LPVOID parameter);
