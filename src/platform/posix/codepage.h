// Text conversions of the layer: UTF-8 <-> wide text for every path or name it hands to the host
// (host file names are UTF-8), and the ANSI code page's text (UTF-8 unless QXWEB_ANSI_CODEPAGE
// sets another) for the narrow paths the program hands to the C runtime.
#pragma once

#include <string>

namespace qx {

// Invalid UTF-8 (a stray or truncated sequence, an overlong form, a surrogate) becomes U+FFFD.
std::wstring Utf8ToWide(const std::string& text);

// A wide character that is no Unicode scalar value (a surrogate half, above U+10FFFF) becomes
// U+FFFD.
std::string WideToUtf8(const std::wstring& text);

// Text in the ANSI code page as wide text, as MultiByteToWideChar(CP_ACP) decodes it.
std::wstring AnsiCodePageToWide(const std::string& text);

}  // namespace qx
