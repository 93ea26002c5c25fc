// The Linux entry point: joins the arguments into a Windows-style command line and calls the
// program's wWinMain, as the Windows start-up code would.
#include <clocale>
#include <string>

#include "codepage.h"
#include "module.h"
#include "window.h"

int main(int argc, char** argv) {
    // Wide/narrow conversions in the C library (swprintf with %s, %ls) follow LC_CTYPE; the
    // system code page is UTF-8, so the C library must agree. Numbers keep the "C" format.
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
        std::setlocale(LC_CTYPE, "");
    }
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            commandLine += ' ';
        }
        commandLine += argv[i];
    }
    std::wstring wide = qx::Utf8ToWide(commandLine);
    const int code = wWinMain(qx::MainInstance(), nullptr, &wide[0], SW_SHOWNORMAL);
    qx::ui::FinishProgramThreads();
    return code;
}
