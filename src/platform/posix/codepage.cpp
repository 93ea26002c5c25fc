// MultiByteToWideChar and WideCharToMultiByte for CP_ACP and CP_UTF8, with the Win32 buffer rules
// (size query, -1 = with the terminator, ERROR_INSUFFICIENT_BUFFER). CP_ACP is UTF-8 unless
// QXWEB_ANSI_CODEPAGE names another code page, which iconv then converts. wchar_t holds one code
// point here (UTF-32).
#include "codepage.h"

#include <iconv.h>

#include <atomic>
#include <cstdlib>

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

// Encodes as UTF-8; a wide character that is no Unicode scalar value becomes `fallback` when one is
// given (CP_ACP), else U+FFFD (CP_UTF8).
std::string EncodeUtf8(const wchar_t* text, size_t count, const char* fallback, bool& usedDefault) {
    std::string out;
    out.reserve(count);
    usedDefault = false;
    for (size_t i = 0; i < count; ++i) {
        auto cp = static_cast<char32_t>(text[i]);
        if (IsScalarValue(cp)) {
            AppendUtf8(cp, out);
        } else if (fallback != nullptr) {
            out += *fallback;
            usedDefault = true;
        } else {
            AppendUtf8(kReplacement, out);
        }
    }
    return out;
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

// What a byte sequence that is no character of a code page other than UTF-8 decodes to: the code
// page's default Unicode character, '?' in most Windows code pages.
constexpr wchar_t kAnsiDefaultUnicode = L'?';

// An iconv conversion, closed when it goes out of scope.
class Conversion {
  public:
    Conversion(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Conversion() {
        if (Valid()) {
            iconv_close(cd_);
        }
    }
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;

    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    // Converts as much as it can; false (errno EILSEQ or EINVAL) at a sequence it cannot convert,
    // with `in` left at that sequence and the shift state reset.
    bool Run(char*& in, size_t& inLeft, char*& out, size_t& outLeft) {
        if (iconv(cd_, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1)) {
            return true;
        }
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        return false;
    }

  private:
    iconv_t cd_;
};

// The iconv name of a Windows code page: glibc knows them as "CP936", "CP1252"...
std::string IconvName(UINT codePage) {
    return "CP" + std::to_string(codePage);
}

// Says once per process that QXWEB_ANSI_CODEPAGE names a code page this system cannot convert.
void WarnUnknownCodePage(const char* value) {
    static std::atomic<bool> warned{false};
    if (!warned.exchange(true)) {
        std::fprintf(stderr, "QXWEB_ANSI_CODEPAGE: no conversion for \"%s\"; using UTF-8\n", value);
    }
}

// The code page CP_ACP stands for: QXWEB_ANSI_CODEPAGE (a Windows code page number) when it is
// set to one iconv can convert, else UTF-8. Read at each call, so tests can change it.
UINT AnsiCodePage() {
    const char* value = std::getenv("QXWEB_ANSI_CODEPAGE");
    if (value == nullptr || *value == '\0') {
        return CP_UTF8;
    }
    char* end = nullptr;
    const unsigned long number = std::strtoul(value, &end, 10);
    if (*end != '\0' || number == 0 || number > 65535) {
        WarnUnknownCodePage(value);
        return CP_UTF8;
    }
    const UINT codePage = static_cast<UINT>(number);
    if (codePage != CP_UTF8 && !Conversion("WCHAR_T", IconvName(codePage).c_str()).Valid()) {
        WarnUnknownCodePage(value);
        return CP_UTF8;
    }
    return codePage;
}

// Decodes text of a code page other than UTF-8; a byte that starts no character becomes the
// default character and the decoding goes on after it.
std::wstring DecodeAnsi(UINT codePage, const char* text, size_t size, bool& allValid) {
    allValid = true;
    Conversion conversion("WCHAR_T", IconvName(codePage).c_str());
    std::wstring out(size, L'\0');  // no byte yields more than one character
    char* in = const_cast<char*>(text);
    size_t inLeft = size;
    char* outAt = reinterpret_cast<char*>(&out[0]);
    size_t outLeft = out.size() * sizeof(wchar_t);
    while (inLeft > 0 && !conversion.Run(in, inLeft, outAt, outLeft)) {
        allValid = false;
        *reinterpret_cast<wchar_t*>(outAt) = kAnsiDefaultUnicode;
        outAt += sizeof(wchar_t);
        outLeft -= sizeof(wchar_t);
        ++in;
        --inLeft;
    }
    out.resize(out.size() - outLeft / sizeof(wchar_t));
    return out;
}

// Encodes into a code page other than UTF-8; a character it cannot hold becomes `fallback`.
std::string EncodeAnsi(UINT codePage, const wchar_t* text, size_t count, char fallback,
                       bool& usedDefault) {
    usedDefault = false;
    Conversion conversion(IconvName(codePage).c_str(), "WCHAR_T");
    constexpr size_t kLongestCharacter = 4;  // GB 18030
    std::string out(count * kLongestCharacter, '\0');
    char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(text));
    size_t inLeft = count * sizeof(wchar_t);
    char* outAt = &out[0];
    size_t outLeft = out.size();
    while (inLeft > 0 && !conversion.Run(in, inLeft, outAt, outLeft)) {
        usedDefault = true;
        *outAt++ = fallback;
        --outLeft;
        in += sizeof(wchar_t);
        inLeft -= sizeof(wchar_t);
    }
    out.resize(out.size() - outLeft);
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

std::wstring AnsiCodePageToWide(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int length = static_cast<int>(text.size());
    std::wstring wide(static_cast<size_t>(length), L'\0');  // one character per byte at most
    const int got = MultiByteToWideChar(CP_ACP, 0, text.data(), length, &wide[0], length);
    wide.resize(static_cast<size_t>(got > 0 ? got : 0));
    return wide;
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
    const UINT codePage = CodePage == CP_ACP ? qx::AnsiCodePage() : CodePage;
    std::wstring wide = codePage == CP_UTF8
                            ? qx::Decode(lpMultiByteStr, size, allValid)
                            : qx::DecodeAnsi(codePage, lpMultiByteStr, size, allValid);
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
    // CP_ACP takes the caller's default character (else '?') for what it cannot represent; UTF-8
    // as CP_UTF8 takes U+FFFD.
    const char fallback = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
    const UINT codePage = CodePage == CP_ACP ? qx::AnsiCodePage() : CodePage;
    bool usedDefault = false;
    const std::string out =
        codePage == CP_UTF8 ? qx::EncodeUtf8(lpWideCharStr, count,
                                             CodePage == CP_ACP ? &fallback : nullptr, usedDefault)
                            : qx::EncodeAnsi(codePage, lpWideCharStr, count, fallback, usedDefault);
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
