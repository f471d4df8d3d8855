#include "install/InstallLog.h"

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
    FILE* log = fopen("Glimmerly_Install.log", "ab");
    if (log == NULL)
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
    fwrite(bytes, 1, count, log);
    count = EncodeLogText(message, bytes, sizeof bytes);
    fwrite(bytes, 1, count, log);
    fwrite("\r\n", 1, 2, log);
    fwrite(kHyphenLine, 1, sizeof kHyphenLine - 1, log);
    fclose(log);
}
