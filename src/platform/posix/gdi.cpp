// GDI on Linux: the dialog only paints its panel, which the terminal view does not need. Objects
// are distinct dummies so that code comparing or deleting them behaves; drawing does nothing.
#include <atomic>

#include "win32_posix.h"

namespace {

// Distinct, non-null, never dereferenced.
HGDIOBJ NewDummyObject() {
    static std::atomic<uintptr_t> s_next{0x6D10000};
    return reinterpret_cast<HGDIOBJ>(s_next.fetch_add(0x10));
}

}  // namespace

HFONT CreateFontW(int, int, int, int, int, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                  LPCWSTR) {
    return NewDummyObject();
}

HBRUSH CreateSolidBrush(COLORREF) {
    return NewDummyObject();
}

HPEN CreatePen(int, int, COLORREF) {
    return NewDummyObject();
}

BOOL DeleteObject(HGDIOBJ ho) {
    return ho != nullptr ? TRUE : FALSE;
}

HGDIOBJ SelectObject(HDC, HGDIOBJ h) {
    return h;
}

HGDIOBJ GetStockObject(int i) {
    return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0x6D00000 + i * 0x10 + 0x10));
}

HDC BeginPaint(HWND, LPPAINTSTRUCT lpPaint) {
    static int s_deviceContext;
    HDC hdc = reinterpret_cast<HDC>(&s_deviceContext);
    if (lpPaint != nullptr) {
        *lpPaint = PAINTSTRUCT{};
        lpPaint->hdc = hdc;
    }
    return hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT*) {
    return TRUE;
}

BOOL Rectangle(HDC, int, int, int, int) {
    return TRUE;
}

int SetBkMode(HDC, int mode) {
    return mode == TRANSPARENT ? 2 /* OPAQUE */ : TRANSPARENT;
}
