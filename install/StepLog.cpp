#include "install/StepLog.h"

#include "install/SafePath.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

namespace {

struct StepLogState {
    HANDLE file;
    CRITICAL_SECTION lock;
    unsigned used;
    char buffer[kStepLogBufferBytes];
};

// Read without the lock by every step: it changes only before the first line and after the last.
StepLogState* volatile state = NULL;

void WriteOut(StepLogState* s) {
    DWORD written;
    if (s->used > 0)
        WriteFile(s->file, s->buffer, s->used, &written, NULL);
    s->used = 0;
}

} // namespace

unsigned FormatStepLine(const SYSTEMTIME& time, const wchar_t* text, char* out, unsigned capacity) {
    int head = snprintf(out, capacity, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", time.wYear, time.wMonth,
                        time.wDay, time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
    if (head < 0 || (unsigned)head + 3 > capacity)
        return 0;
    unsigned used = (unsigned)head;
    // Cut at a whole character: drop UTF-16 units from the end until the rest converts into the room.
    int units = (int)wcslen(text);
    int bytes = 0;
    while (units > 0) {
        bytes =
            WideCharToMultiByte(CP_UTF8, 0, text, units, out + used, (int)(capacity - used - 2), NULL, NULL);
        if (bytes > 0)
            break;
        --units;
        if (units > 0 && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF)
            --units;
    }
    used += units > 0 ? (unsigned)bytes : 0;
    // A message of several lines stays one line of the log.
    for (unsigned i = (unsigned)head; i < used; ++i)
        if (out[i] == '\r' || out[i] == '\n')
            out[i] = ' ';
    out[used++] = '\r';
    out[used++] = '\n';
    return used;
}

int OpenStepLog(const wchar_t* path) {
    if (state != NULL)
        return 1;
    if (path == NULL || path[0] == L'\0')
        return 0;
    // The folder may be one other users can write: a link at the log's name is refused, not followed.
    HANDLE file = OpenWithoutLink(path, FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    static StepLogState opened;
    opened.file = file;
    opened.used = 0;
    InitializeCriticalSection(&opened.lock);
    state = &opened;
    return 1;
}

int StepLogOpen() {
    return state != NULL;
}

void LogStep(const wchar_t* format, ...) {
    StepLogState* s = state;
    if (s == NULL)
        return;
    // Callers read the last error of the step they log.
    DWORD error = GetLastError();
    wchar_t text[kStepLineChars];
    va_list arguments;
    va_start(arguments, format);
    int length = _vsnwprintf(text, kStepLineChars - 1, format, arguments);
    va_end(arguments);
    text[length >= 0 && length < kStepLineChars - 1 ? length : kStepLineChars - 1] = L'\0';
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[kStepLineChars * 3 + 32];
    unsigned count = FormatStepLine(now, text, line, sizeof line);

    EnterCriticalSection(&s->lock);
    if (s->used + count > kStepLogBufferBytes)
        WriteOut(s);
    memcpy(s->buffer + s->used, line, count);
    s->used += count;
    LeaveCriticalSection(&s->lock);
    SetLastError(error);
}

void CloseStepLog() {
    StepLogState* s = state;
    if (s == NULL)
        return;
    EnterCriticalSection(&s->lock);
    WriteOut(s);
    CloseHandle(s->file);
    state = NULL;
    LeaveCriticalSection(&s->lock);
    DeleteCriticalSection(&s->lock);
}
