#pragma once
#include <stddef.h>

// Routines on fixed path buffers of at least kPathChars wide characters, zero-terminated.
// They work in place and never allocate. A blank is U+0020 only; the folder separator is the backslash.
constexpr size_t kPathChars = 260;

// Parts for GetPathPart, combinable.
enum { kPathDrive = 1, kPathFolder = 2, kPathName = 4, kPathExtension = 8 };

void AppendBackslash(wchar_t* path);
void TrimBlanks(wchar_t* path);
int CreateDirectoryChain(wchar_t* path);
void GetPathPart(const wchar_t* path, wchar_t* dest, int mask);
// Makes folder (capacity characters, at least kPathChars) the one text that names where an installation
// goes: blanks trimmed and dropped in front of every separator (as CreateDirectoryChain creates the
// folders), a trailing backslash, and a relative form resolved against the current directory. 1 when
// the result fits a path buffer; else 0, and folder holds the text as far as it was formed.
int NormaliseFolder(wchar_t* folder, size_t capacity);
void StripQuotes(wchar_t* value, int trimAgain);
size_t CopySwitchValue(const wchar_t* source, wchar_t* dest, size_t start, size_t limit);

// Bounded copy and append: never write past capacity (in characters, terminator included).
// They return 0 when the text had to be cut, 1 when it fit.
int CopyText(wchar_t* dest, size_t capacity, const wchar_t* source);
int AppendText(wchar_t* dest, size_t capacity, const wchar_t* source);
