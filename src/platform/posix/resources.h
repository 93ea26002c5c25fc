// The dialog templates the program's resources would hold on Windows. The Linux build registers
// them at start-up (a file compiled into the executable) and DialogBoxParamW looks them up here.
#pragma once

#include <string>

namespace qx {

// Registers (or replaces) the template with resource id `id`. Safe during static initialisation.
void RegisterDialogTemplate(int id, const wchar_t* caption, int widthDlu, int heightDlu);

struct DialogTemplate {
    std::wstring caption;
    int widthDlu = 0;
    int heightDlu = 0;
};

// The template registered under `id`; false when there is none.
bool FindDialogTemplate(int id, DialogTemplate* found);

}  // namespace qx
