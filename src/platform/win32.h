// The one header through which product code reaches the operating system and the C runtime.
// On Windows it is the SDK; elsewhere it is our own layer, which provides the subset of Win32
// (and of the Microsoft C runtime) that the program calls, with the semantics it relies on.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>
#include <direct.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <tlhelp32.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#else
#include "posix/win32_posix.h"
#endif
