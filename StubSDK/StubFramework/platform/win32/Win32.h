// The Windows headers as this code takes them: lean, without the min/max
// macros, and without the macros that would rename functions of ours
// (wingdi's ERROR; the A/W switches of names our platform headers share).
// Our Windows code calls the W functions by their full names.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef ERROR
#undef CopyFile
#undef DeleteFile
#undef SetEnvironmentVariable
