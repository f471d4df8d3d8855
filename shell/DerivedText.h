#pragma once
#include <stddef.h>
#include <initializer_list>

// Joins the pieces into dest (capacity in characters, terminator included). A text that would not fit
// is not cut: dest becomes empty and the result is 0, so the caller skips what needed it.
int JoinText(wchar_t* dest, size_t capacity, std::initializer_list<const wchar_t*> pieces);
