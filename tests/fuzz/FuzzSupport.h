#pragma once
// Shared by the fuzz targets: UTF-16 text from fuzz bytes, held in allocations of exactly the size asked
// for, so AddressSanitizer reports any write past a buffer and any read past a terminator.
#include <fuzzer/FuzzedDataProvider.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <memory>
#include <string>

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                    \
            abort();                                                                                         \
        }                                                                                                    \
    } while (0)

struct FreeText {
    void operator()(wchar_t* text) const { free(text); }
};
typedef std::unique_ptr<wchar_t[], FreeText> Text;

// Little-endian UTF-16 units of bytes up to the first zero unit, in capacity characters (at least the
// text and its terminator).
inline Text NewText(const std::string& bytes, size_t capacity = 0) {
    size_t length = 0;
    while (2 * length + 1 < bytes.size() && (bytes[2 * length] != 0 || bytes[2 * length + 1] != 0))
        ++length;
    if (capacity < length + 1)
        capacity = length + 1;
    wchar_t* text = (wchar_t*)malloc(capacity * sizeof(wchar_t));
    for (size_t i = 0; i < length; ++i)
        text[i] = (wchar_t)((unsigned char)bytes[2 * i] | (unsigned char)bytes[2 * i + 1] << 8);
    text[length] = L'\0';
    return Text(text);
}

// A copy of text in a buffer of capacity characters (text cut to fit).
inline Text CopyOf(const wchar_t* text, size_t capacity) {
    wchar_t* copy = (wchar_t*)malloc(capacity * sizeof(wchar_t));
    size_t i = 0;
    for (; text[i] != L'\0' && i + 1 < capacity; ++i)
        copy[i] = text[i];
    copy[i] = L'\0';
    return Text(copy);
}

inline size_t Length(const wchar_t* text) {
    size_t n = 0;
    while (text[n] != L'\0')
        ++n;
    return n;
}

inline bool Same(const wchar_t* a, const wchar_t* b) {
    size_t i = 0;
    for (; a[i] != L'\0' && a[i] == b[i]; ++i) {
    }
    return a[i] == b[i];
}
