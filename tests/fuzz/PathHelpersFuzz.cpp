// The path helpers on any text, in buffers of exactly the size they are documented to need: every result
// is terminated inside its buffer and is what the routine promises.
#include "FuzzSupport.h"
#include "WinShim.h"

#include "install/PathHelpers.h"

#include <wchar.h>
#include <windows.h>

namespace {

enum Routine {
    kCopy,
    kAppend,
    kAppendBackslash,
    kTrimBlanks,
    kPathParts,
    kStripQuotes,
    kSwitchValue,
    kDirectoryChain,
    kNormaliseFolder,
    kLastRoutine = kNormaliseFolder
};

// The text in a path buffer: kPathChars characters, or more when the text is longer.
Text InPathBuffer(const wchar_t* text) {
    size_t length = Length(text);
    return CopyOf(text, length + 1 > kPathChars ? length + 1 : kPathChars);
}

bool StartsWith(const wchar_t* text, const wchar_t* part, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (text[i] != part[i])
            return false;
    return true;
}

void CheckCopy(FuzzedDataProvider& in) {
    size_t capacity = in.ConsumeIntegralInRange<size_t>(0, 600);
    Text source = NewText(in.ConsumeRemainingBytesAsString());
    Text dest((wchar_t*)malloc(capacity * sizeof(wchar_t)));
    size_t length = Length(source.get());
    FUZZ_CHECK(CopyText(dest.get(), capacity, source.get()) == (length < capacity));
    if (capacity > 0) {
        size_t kept = length < capacity ? length : capacity - 1;
        FUZZ_CHECK(Length(dest.get()) == kept && StartsWith(dest.get(), source.get(), kept));
    }
}

void CheckAppend(FuzzedDataProvider& in) {
    size_t capacity = in.ConsumeIntegralInRange<size_t>(0, 600);
    Text start = NewText(in.ConsumeRandomLengthString(1200));
    Text source = NewText(in.ConsumeRemainingBytesAsString());
    // The destination may hold no terminator at all.
    Text dest((wchar_t*)malloc(capacity * sizeof(wchar_t)));
    size_t startLength = Length(start.get());
    for (size_t i = 0; i < capacity; ++i)
        dest[i] = i < startLength ? start[i] : L'\0';
    int fit = AppendText(dest.get(), capacity, source.get());
    size_t length = Length(source.get());
    FUZZ_CHECK(fit == (startLength + length < capacity));
    if (startLength < capacity) {
        size_t kept = startLength + length < capacity ? length : capacity - 1 - startLength;
        FUZZ_CHECK(Length(dest.get()) == startLength + kept);
        FUZZ_CHECK(StartsWith(dest.get(), start.get(), startLength));
        FUZZ_CHECK(StartsWith(dest.get() + startLength, source.get(), kept));
    }
}

void CheckPathParts(const wchar_t* path, int mask) {
    wchar_t parts[4][kPathChars];
    int bits[4] = {kPathDrive, kPathFolder, kPathName, kPathExtension};
    for (int i = 0; i < 4; ++i) {
        Text dest((wchar_t*)malloc(kPathChars * sizeof(wchar_t)));
        GetPathPart(path, dest.get(), bits[i]);
        FUZZ_CHECK(Length(dest.get()) < kPathChars);
        memcpy(parts[i], dest.get(), (Length(dest.get()) + 1) * sizeof(wchar_t));
    }
    Text all((wchar_t*)malloc(kPathChars * sizeof(wchar_t)));
    GetPathPart(path, all.get(), mask);
    FUZZ_CHECK(Length(all.get()) < kPathChars);
    // A short path without forward slashes is its parts put together; a drive alone gains its root.
    bool driveAlone = parts[0][0] != L'\0' && parts[1][0] == L'\0';
    if (mask == 15 && Length(path) < kPathChars - 1 && wcschr(path, L'/') == NULL && !driveAlone)
        FUZZ_CHECK(Same(all.get(), path));
}

void CheckSwitchValue(FuzzedDataProvider& in) {
    size_t limit = in.ConsumeIntegralInRange<size_t>(0, 600);
    size_t start = in.ConsumeIntegralInRange<size_t>(0, 20);
    Text source = NewText(in.ConsumeRemainingBytesAsString());
    size_t length = Length(source.get());
    if (start > length)
        start = length;
    Text dest((wchar_t*)malloc(kPathChars * sizeof(wchar_t)));
    size_t end = CopySwitchValue(source.get(), dest.get(), start, limit);
    FUZZ_CHECK(end >= start && end <= length);
    FUZZ_CHECK(Length(dest.get()) == end - start && end - start < kPathChars);
    FUZZ_CHECK(StartsWith(dest.get(), source.get() + start, end - start) && wcschr(dest.get(), L'/') == NULL);
}

void CheckDirectoryChain(const wchar_t* text) {
    Text path = InPathBuffer(text);
    wchar_t before[kPathChars], after[kPathChars];
    GetCurrentDirectoryW(kPathChars, before);
    int made = CreateDirectoryChain(path.get());
    GetCurrentDirectoryW(kPathChars, after);
    FUZZ_CHECK(Same(before, after));
    FUZZ_CHECK(wcsnlen(path.get(), kPathChars) < kPathChars);
    if (made) {
        FUZZ_CHECK(SetCurrentDirectoryW(path.get()));
        SetCurrentDirectoryW(before);
    }
}

// The folder an installation goes to: absolute, ending in a backslash, no blank before a separator.
void CheckNormaliseFolder(FuzzedDataProvider& in) {
    size_t capacity = in.ConsumeIntegralInRange<size_t>(kPathChars, 600);
    if (in.ConsumeBool()) {
        CreateDirectoryW(L"C:\\Arbeits Ordner", NULL);
        CreateDirectoryW(L"C:\\Arbeits Ordner\\Setup", NULL);
        SetCurrentDirectoryW(L"C:\\Arbeits Ordner\\Setup");
    }
    Text text = NewText(in.ConsumeRemainingBytesAsString());
    Text folder = CopyOf(text.get(), capacity);
    size_t length = wcsnlen(folder.get(), capacity);
    FUZZ_CHECK(length < capacity);
    if (!NormaliseFolder(folder.get(), capacity))
        return;
    length = Length(folder.get());
    FUZZ_CHECK(length < kPathChars && folder[length - 1] == L'\\');
    FUZZ_CHECK((folder[0] == L'\\' && folder[1] == L'\\') || (folder[1] == L':' && folder[2] == L'\\'));
    FUZZ_CHECK(wcsstr(folder.get(), L" \\") == NULL);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ShimReset();
    FuzzedDataProvider in(data, size);
    Routine routine = (Routine)in.ConsumeIntegralInRange<int>(0, kLastRoutine);
    if (routine == kCopy)
        return CheckCopy(in), 0;
    if (routine == kAppend)
        return CheckAppend(in), 0;
    if (routine == kSwitchValue)
        return CheckSwitchValue(in), 0;
    if (routine == kNormaliseFolder)
        return CheckNormaliseFolder(in), 0;

    int option = in.ConsumeIntegral<uint8_t>();
    Text text = NewText(in.ConsumeRemainingBytesAsString());
    size_t length = Length(text.get());
    Text path = InPathBuffer(text.get());
    switch (routine) {
    case kAppendBackslash: {
        AppendBackslash(path.get());
        bool added = length >= 1 && length <= kPathChars - 2 && text[length - 1] != L'\\';
        FUZZ_CHECK(Length(path.get()) == length + added && StartsWith(path.get(), text.get(), length));
        break;
    }
    case kTrimBlanks: {
        TrimBlanks(path.get());
        size_t trimmed = Length(path.get());
        FUZZ_CHECK(trimmed == 0 || path[trimmed - 1] != L' ');
        FUZZ_CHECK(trimmed >= kPathChars || path[0] != L' ');
        FUZZ_CHECK(wcsstr(text.get(), path.get()) != NULL);
        break;
    }
    case kPathParts:
        CheckPathParts(text.get(), option & 15);
        break;
    case kStripQuotes: {
        Text value = CopyOf(text.get(), length + 1);
        StripQuotes(value.get(), option & 1);
        FUZZ_CHECK(wcsstr(text.get(), value.get()) != NULL);
        break;
    }
    case kDirectoryChain:
        CheckDirectoryChain(text.get());
        break;
    default:
        break;
    }
    return 0;
}
