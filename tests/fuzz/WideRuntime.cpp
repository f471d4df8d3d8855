// The wide-character C functions the product calls, with the Microsoft C runtime's behaviour on UTF-16
// wchar_t. The C library's own versions take four-byte characters; these replace them for the product's
// code (built with hidden visibility, so the C++ runtime keeps the C library's).
#include "WideRuntime.h"

#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <wchar.h>

extern "C" {

size_t wcslen(const wchar_t* s) {
    size_t n = 0;
    while (s[n] != L'\0')
        ++n;
    return n;
}

size_t wcsnlen(const wchar_t* s, size_t limit) {
    size_t n = 0;
    while (n < limit && s[n] != L'\0')
        ++n;
    return n;
}

int wcscmp(const wchar_t* a, const wchar_t* b) {
    for (; *a != L'\0' && *a == *b; ++a, ++b) {
    }
    return (int)*a - (int)*b;
}

wchar_t* wcschr(const wchar_t* s, wchar_t c) {
    for (;; ++s) {
        if (*s == c)
            return (wchar_t*)s;
        if (*s == L'\0')
            return NULL;
    }
}

wchar_t* wcsstr(const wchar_t* text, const wchar_t* part) {
    if (*part == L'\0')
        return (wchar_t*)text;
    for (; *text != L'\0'; ++text) {
        size_t i = 0;
        while (part[i] != L'\0' && text[i] == part[i])
            ++i;
        if (part[i] == L'\0')
            return (wchar_t*)text;
    }
    return NULL;
}

wchar_t* wmemmove(wchar_t* dest, const wchar_t* source, size_t count) {
    if (dest < source) {
        for (size_t i = 0; i < count; ++i)
            dest[i] = source[i];
    } else {
        for (size_t i = count; i > 0; --i)
            dest[i - 1] = source[i - 1];
    }
    return dest;
}

wchar_t* wmemcpy(wchar_t* dest, const wchar_t* source, size_t count) {
    return wmemmove(dest, source, count);
}

// Base 10 only, ASCII white space and digits; long is 32 bits on Windows, so that is the range.
long wcstol(const wchar_t* text, wchar_t** end, int base) {
    if (base != 10)
        abort();
    const wchar_t* p = text;
    while (*p == L' ' || (*p >= 0x09 && *p <= 0x0D))
        ++p;
    int negative = 0;
    if (*p == L'+' || *p == L'-')
        negative = *p++ == L'-';
    const wchar_t* digits = p;
    int64_t value = 0;
    int overflow = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        value = value * 10 + (*p - L'0');
        if (value > (int64_t)INT32_MAX + 1) {
            overflow = 1;
            value = (int64_t)INT32_MAX + 1;
        }
    }
    if (end != NULL)
        *end = (wchar_t*)(p == digits ? text : p);
    if (negative)
        value = -value;
    if (overflow || value > INT32_MAX || value < INT32_MIN) {
        errno = ERANGE;
        return negative ? INT32_MIN : INT32_MAX;
    }
    return (long)value;
}

int _wcsicmp(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        wchar_t x = (*a >= L'A' && *a <= L'Z') ? (wchar_t)(*a + 32) : *a;
        wchar_t y = (*b >= L'A' && *b <= L'Z') ? (wchar_t)(*b + 32) : *b;
        if (x != y || x == L'\0')
            return (int)x - (int)y;
    }
}

// msvcrt's: at most count characters; the terminator only when it fits, -1 when the text was cut.
// Conversions %s (a wide string), %d, %u and %c with an optional 0 flag and width, and %%.
int _snwprintf(wchar_t* buffer, size_t count, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    size_t used = 0;
    int cut = 0;
    auto put = [&](wchar_t c) {
        if (used < count)
            buffer[used++] = c;
        else
            cut = 1;
    };
    for (const wchar_t* f = format; *f != L'\0'; ++f) {
        if (*f != L'%') {
            put(*f);
            continue;
        }
        ++f;
        wchar_t pad = L' ';
        if (*f == L'0') {
            pad = L'0';
            ++f;
        }
        int width = 0;
        while (*f >= L'0' && *f <= L'9')
            width = width * 10 + (*f++ - L'0');
        wchar_t digits[24];
        int length = 0;
        const wchar_t* text = digits;
        if (*f == L's') {
            text = va_arg(args, const wchar_t*);
            length = (int)wcslen(text);
        } else if (*f == L'd' || *f == L'u') {
            long long value = *f == L'd' ? va_arg(args, int) : va_arg(args, unsigned);
            unsigned long long magnitude = value < 0 ? 0ull - (unsigned long long)value : value;
            wchar_t reversed[24];
            int n = 0;
            do {
                reversed[n++] = (wchar_t)(L'0' + magnitude % 10);
                magnitude /= 10;
            } while (magnitude > 0);
            if (value < 0)
                digits[length++] = L'-';
            while (n > 0)
                digits[length++] = reversed[--n];
        } else if (*f == L'c') {
            digits[length++] = (wchar_t)va_arg(args, int);
        } else if (*f == L'%') {
            digits[length++] = L'%';
        } else {
            abort();
        }
        for (int i = length; i < width; ++i)
            put(pad);
        for (int i = 0; i < length; ++i)
            put(text[i]);
    }
    va_end(args);
    if (cut)
        return -1;
    if (used < count)
        buffer[used] = L'\0';
    return (int)used;
}

} // extern "C"
