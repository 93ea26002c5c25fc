// MultiByteToWideChar and WideCharToMultiByte for CP_ACP and CP_UTF8, both UTF-8 on this system,
// with the Win32 buffer rules (size query, -1 = with the terminator, ERROR_INSUFFICIENT_BUFFER).
// wchar_t holds one code point here (UTF-32).
#include "codepage.h"

#include "win32_posix.h"

namespace qx {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Decodes one code point at text[i], advancing i. An ill-formed sequence yields U+FFFD and
// consumes its maximal valid prefix (at least one byte), as Unicode recommends and Windows does.
char32_t DecodeOne(const unsigned char* text, size_t size, size_t& i, bool& valid) {
    unsigned char lead = text[i++];
    valid = true;
    if (lead < 0x80) {
        return lead;
    }
    int length = 0;
    char32_t cp = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0F;
        if (lead == 0xE0) {
            low = 0xA0;  // no overlong forms
        }
        if (lead == 0xED) {
            high = 0x9F;  // no surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07;
        if (lead == 0xF0) {
            low = 0x90;
        }
        if (lead == 0xF4) {
            high = 0x8F;  // nothing above U+10FFFF
        }
    } else {
        valid = false;
        return kReplacement;
    }
    for (int k = 1; k < length; ++k) {
        if (i >= size) {
            valid = false;
            return kReplacement;
        }
        unsigned char c = text[i];
        bool inRange = (k == 1) ? (c >= low && c <= high) : IsContinuation(c);
        if (!inRange) {
            valid = false;
            return kReplacement;
        }
        cp = (cp << 6) | (c & 0x3F);
        ++i;
    }
    return cp;
}

bool IsScalarValue(char32_t cp) {
    return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes, reporting whether any sequence was ill-formed.
std::wstring Decode(const char* text, size_t size, bool& allValid) {
    std::wstring out;
    out.reserve(size);
    allValid = true;
    auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < size;) {
        bool valid = true;
        out += static_cast<wchar_t>(DecodeOne(bytes, size, i, valid));
        allValid = allValid && valid;
    }
    return out;
}

bool IsSupportedCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_UTF8;
}

}  // namespace

std::wstring Utf8ToWide(const std::string& text) {
    bool allValid = true;
    return Decode(text.data(), text.size(), allValid);
}

std::string WideToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto cp = static_cast<char32_t>(wc);
        AppendUtf8(IsScalarValue(cp) ? cp : kReplacement, out);
    }
    return out;
}

}  // namespace qx

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    if (!qx::IsSupportedCodePage(CodePage) || lpMultiByteStr == nullptr || cbMultiByte == 0 ||
        cbMultiByte < -1 || cchWideChar < 0 || (cchWideChar > 0 && lpWideCharStr == nullptr) ||
        (dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0) {
        SetLastError(dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS) ? ERROR_INVALID_FLAGS
                                                                         : ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t size =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    bool allValid = true;
    std::wstring wide = qx::Decode(lpMultiByteStr, size, allValid);
    if (!allValid && (dwFlags & MB_ERR_INVALID_CHARS)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (cchWideChar == 0) {
        return static_cast<int>(wide.size());
    }
    if (wide.size() > static_cast<size_t>(cchWideChar)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wmemcpy(lpWideCharStr, wide.data(), wide.size());
    return static_cast<int>(wide.size());
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
    // Like Windows, CP_UTF8 refuses a default character: it replaces with U+FFFD instead.
    bool utf8DefaultGiven =
        CodePage == CP_UTF8 && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr);
    if (!qx::IsSupportedCodePage(CodePage) || lpWideCharStr == nullptr || cchWideChar == 0 ||
        cchWideChar < -1 || cbMultiByte < 0 || (cbMultiByte > 0 && lpMultiByteStr == nullptr) ||
        utf8DefaultGiven || dwFlags != 0) {
        SetLastError(dwFlags != 0 ? ERROR_INVALID_FLAGS : ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t count =
        cchWideChar == -1 ? std::wcslen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
    // CP_ACP takes the caller's default character (else '?') for what it cannot represent.
    std::string fallback;
    if (CodePage == CP_ACP) {
        fallback = std::string(1, lpDefaultChar != nullptr ? *lpDefaultChar : '?');
    }
    std::string out;
    out.reserve(count);
    bool usedDefault = false;
    for (size_t i = 0; i < count; ++i) {
        auto cp = static_cast<char32_t>(lpWideCharStr[i]);
        if (qx::IsScalarValue(cp)) {
            qx::AppendUtf8(cp, out);
        } else if (CodePage == CP_ACP) {
            out += fallback;
            usedDefault = true;
        } else {
            qx::AppendUtf8(qx::kReplacement, out);
        }
    }
    if (lpUsedDefaultChar != nullptr) {
        *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    }
    if (cbMultiByte == 0) {
        return static_cast<int>(out.size());
    }
    if (out.size() > static_cast<size_t>(cbMultiByte)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpMultiByteStr, out.data(), out.size());
    return static_cast<int>(out.size());
}
