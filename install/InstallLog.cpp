#include "install/InstallLog.h"

#include "install/SafePath.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

namespace {

const char kHyphenLine[] = "------------------------------------------------\r\n";

// Appends bytes, keeping one byte for the terminator; 0 when they do not fit.
int Put(char* out, unsigned capacity, unsigned* used, const char* bytes, unsigned count) {
    if (*used + count >= capacity)
        return 0;
    memcpy(out + *used, bytes, count);
    *used += count;
    out[*used] = '\0';
    return 1;
}

void Write(HANDLE file, const char* bytes, unsigned count) {
    DWORD written;
    WriteFile(file, bytes, count, &written, NULL);
}

} // namespace

unsigned EncodeLogText(const wchar_t* message, char* out, unsigned capacity) {
    unsigned used = 0;
    if (capacity > 0)
        out[0] = '\0';
    for (const wchar_t* p = message; *p != L'\0'; ++p) {
        unsigned code = *p;
        char piece[16];
        unsigned count;
        if (code == L'\n') {
            memcpy(piece, "\r\n", 2);
            count = 2;
        } else if (code <= 0xFF) {
            piece[0] = (char)code;
            count = 1;
        } else {
            if (code >= 0xD800 && code <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (p[1] - 0xDC00);
                ++p;
            }
            count = (unsigned)snprintf(piece, sizeof piece, "[U+%04X]", code);
        }
        if (!Put(out, capacity, &used, piece, count))
            break;
    }
    return used;
}

void AppendInstallLog(const wchar_t* message) {
    // The current folder is one the user can write: a link planted at the log's name costs the entry,
    // never a write elsewhere.
    HANDLE log = OpenWithoutLink(L"Glimmerly_Install.log", FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS, 0);
    if (log == INVALID_HANDLE_VALUE)
        return;

    wchar_t date[256] = L"";
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, NULL, NULL, date, 255);
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t head[320];
    _snwprintf(head, 319, L"%s - %02d:%02d:%02d: ", date, now.wHour, now.wMinute, now.wSecond);
    head[319] = L'\0';

    // A message holds at most a few folder names and a string-table text; a longer one is cut.
    static char bytes[8192];
    unsigned count = EncodeLogText(head, bytes, sizeof bytes);
    Write(log, bytes, count);
    count = EncodeLogText(message, bytes, sizeof bytes);
    Write(log, bytes, count);
    Write(log, "\r\n", 2);
    Write(log, kHyphenLine, sizeof kHyphenLine - 1);
    CloseHandle(log);
}
