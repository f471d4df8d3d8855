#pragma once
#include <windows.h>

// The full log an administrator asks for with /log=FILE: one line per step, each starting with the local
// date and time to the millisecond ("2026-12-09 10:12:33.123 "), in UTF-8 with CR LF line ends, appended
// to FILE. Any thread may log. Until the log is opened, or when it could not be, every call does nothing.
// Lines wait in memory (at most kStepLogBufferBytes) and are written when it fills and at the end.

enum { kStepLogBufferBytes = 32768, kStepLineChars = 2048 };

// Opens FILE (relative to the current folder, or absolute) for appending, never through a link. 1 when
// open; a second call while it is open does nothing.
int OpenStepLog(const wchar_t* path);

// 1 while the log is open.
int StepLogOpen();

// One line, formatted as swprintf does (%ls for a wide text); a line longer than kStepLineChars - 1
// characters is cut.
void LogStep(const wchar_t* format, ...);

// Writes what waits in memory and closes the log.
void CloseStepLog();

// The UTF-8 bytes of one line: the time stamp, text and CR LF, into out (capacity bytes, at least 32).
// Returns the count written; a text that does not fit is cut at a whole character. Line breaks in the
// text become blanks.
unsigned FormatStepLine(const SYSTEMTIME& time, const wchar_t* text, char* out, unsigned capacity);
