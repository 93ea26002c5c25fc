// UTF-8 <-> wide text for the layer. The system code page is UTF-8 here, so these serve both
// MultiByteToWideChar/WideCharToMultiByte and every path or name the layer hands to the host.
#pragma once

#include <string>

namespace qx {

// Invalid UTF-8 (a stray or truncated sequence, an overlong form, a surrogate) becomes U+FFFD.
std::wstring Utf8ToWide(const std::string& text);

// A wide character that is no Unicode scalar value (a surrogate half, above U+10FFFF) becomes
// U+FFFD.
std::string WideToUtf8(const std::wstring& text);

}  // namespace qx
