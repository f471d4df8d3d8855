#pragma once
// What a fuzz target sets up in the native stand-ins for Windows: the environment, the ANSI code page,
// the user's short date (the local time is always 13:05:09), and a file system held in memory (drive roots
// exist; the current directory starts as "C:\"). Names compare without case; "/" and "\" both separate.
#include <stddef.h>
#include <string>

// The ANSI code pages the stand-in knows: Western European, and a double-byte one shaped like
// Japanese (lead bytes 0x81-0x9F and 0xE0-0xFC, trail bytes 0x40-0x7E and 0x80-0xFC).
enum { kWesternCodePage = 1252, kDoubleByteCodePage = 932 };

// Everything back to the start: no variables, no files, code page 1252, a short date.
void ShimReset();
void ShimSetVariable(const wchar_t* name, const wchar_t* value);
void ShimSetCodePage(int codePage);
void ShimSetDate(const wchar_t* date);

// Files of the memory file system (a file is written with its folders); 1 when done or found. The count
// is of files only.
int ShimWriteFile(const wchar_t* path, const std::string& bytes);
int ShimReadFile(const wchar_t* path, std::string* bytes);
int ShimFileCount();
