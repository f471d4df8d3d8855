#pragma once
// The Microsoft C runtime's wide functions that the product calls beyond standard C, as msvcrt has them;
// WideRuntime.cpp implements them and the standard wide functions the product uses.
#include <stddef.h>
#include <stdio.h>

extern "C" {
int _snwprintf(wchar_t* buffer, size_t count, const wchar_t* format, ...);
int _wcsicmp(const wchar_t* a, const wchar_t* b);
FILE* _wfopen(const wchar_t* path, const wchar_t* mode);
int _wremove(const wchar_t* path);
int _wmkdir(const wchar_t* path);
int _wchdir(const wchar_t* path);
}
