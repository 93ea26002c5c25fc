// The one header through which product code reaches the operating system and the C runtime.
// On Windows it is the SDK; elsewhere it is our own layer, which provides the subset of Win32
// (and of the Microsoft C runtime) that the program calls, with the semantics it relies on.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <bcrypt.h>
#include <commctrl.h>
#include <direct.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <tlhelp32.h>
// The same C runtime headers as the Linux layer brings, so code that builds there builds here.
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#else
#include "posix/win32_posix.h"
#endif
