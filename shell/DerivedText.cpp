#include "shell/DerivedText.h"

#include <wchar.h>

int JoinText(wchar_t* dest, size_t capacity, std::initializer_list<const wchar_t*> pieces) {
    if (capacity == 0)
        return 0;
    size_t used = 0;
    for (const wchar_t* piece : pieces) {
        size_t length = wcslen(piece);
        if (length >= capacity - used) {
            dest[0] = L'\0';
            return 0;
        }
        wmemcpy(dest + used, piece, length);
        used += length;
    }
    dest[used] = L'\0';
    return 1;
}
