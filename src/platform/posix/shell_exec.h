// ShellExecuteExW's helpers, exposed for tests: how a parameter string becomes arguments.
#pragma once

#include <string>
#include <vector>

namespace qx {
namespace ui {

// Splits a parameter string as Windows splits a command line (CommandLineToArgvW): blanks
// separate arguments outside quotes; 2n backslashes before a quote give n backslashes and the
// quote opens or closes quoting; 2n+1 give n backslashes and a literal quote; backslashes
// elsewhere are literal; inside quotes "" gives a literal quote and quoting goes on.
std::vector<std::wstring> SplitCommandLine(const std::wstring& line);

}  // namespace ui
}  // namespace qx
