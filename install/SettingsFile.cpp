#include "install/SettingsFile.h"

#include "install/ExistingInstallation.h"
#include "install/InstallOptions.h"
#include "install/PathHelpers.h"
#include "install/SafePath.h"
#include "install/SkippedFiles.h"
#include "install/StepLog.h"

#include <windows.h>
#include <stdio.h>
#include <wchar.h>

namespace {

enum {
    kSettingsPathChars = kOptionsFolderChars + 16,
    kConversionWideChars = kConversionPieceBytes + 1,
};

const wchar_t kConversionName[] = L"gl_main32.ini_temp";
const wchar_t kUnicodeHeader[] = L"; UNICODE FILE - edit with care ;-)\r\n\r\n";
const wchar_t kPortableFolders[][16] = {L"Glimmerly32_App", L"Glimmerly64_App"};

DisplayReadingFunction readDisplay = ReadDisplayReadings;

// The profile functions write by name, in folders the user can write: the file is first reached without
// a link and held open, so it cannot be renamed or swapped for a link until the write is done. A file
// reached only through a link keeps its settings unwritten, and the run says so.
void WriteSetting(const wchar_t* file, const wchar_t* section, const wchar_t* key, const wchar_t* value,
                  SkippedFiles& skipped) {
    HANDLE held = OpenWithoutLink(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  value != NULL ? OPEN_ALWAYS : OPEN_EXISTING, 0);
    if (held == INVALID_HANDLE_VALUE) {
        NoteIfLinkMet(&skipped, file);
        return;
    }
    if (WritePrivateProfileStringW(section, key, value, file))
        LogStep(L"settings entry: %ls [%ls] %ls=%ls", file, section, key,
                value != NULL ? value : L"(removed)");
    CloseHandle(held);
}

int IsPortable(const wchar_t* activeFile) {
    for (const wchar_t* folder : kPortableFolders)
        if (wcsstr(activeFile, folder) != NULL)
            return 1;
    return 0;
}

// Expands and creates the settings folder; the active file stays empty when the expansion gives no
// folder that fits a Windows path, since a cut path would put the settings somewhere else.
void PrepareSettingsFolder(const wchar_t* iniFolder, wchar_t* activeFile, SkippedFiles& skipped) {
    wchar_t folder[kExpandedFolderChars] = L"";
    if (wcschr(iniFolder, L'%') != NULL) {
        if (!ExpandSettingsFolder(iniFolder, folder, kExpandedFolderChars))
            return;
    } else {
        CopyText(folder, kExpandedFolderChars, iniFolder);
    }
    if (folder[0] == L'\0' || wcslen(folder) >= kPathChars - 1)
        return;
    if (!NormaliseFolder(folder, kExpandedFolderChars))
        return;
    wchar_t file[kSettingsPathChars];
    _snwprintf(file, kSettingsPathChars - 1, L"%sgl_main32.ini", folder);
    file[kSettingsPathChars - 1] = L'\0';
    // A settings folder that is a link (or lies below one) gets no settings file.
    if (!CreateFoldersWithoutLink(folder)) {
        NoteIfLinkMet(&skipped, file);
        return;
    }
    CopyText(activeFile, kSettingsPathChars, file);
}

// 1 when the text survives the way to the ANSI code page and back unchanged.
int FitsAnsiCodePage(const wchar_t* text) {
    char bytes[kOptionsFolderChars * 4];
    int count = WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, (int)sizeof bytes, NULL, NULL);
    wchar_t back[kOptionsFolderChars];
    int chars = count > 0 ? MultiByteToWideChar(CP_ACP, 0, bytes, count, back, kOptionsFolderChars) : 0;
    return chars > 0 && wcscmp(back, text) == 0;
}

// A new settings file is written in the ANSI code page, which would lose a settings folder named with
// characters outside it. Such a pointer goes into a file made UTF-16 first, as the active file is.
void WritePointer(const wchar_t* programFile, const wchar_t* iniFolder, SkippedFiles& skipped) {
    if (!FitsAnsiCodePage(iniFolder)) {
        WriteSetting(programFile, L"Others", L"INI_Folder", L"", skipped);
        ConvertSettingsToUnicode(programFile, &skipped);
    }
    WriteSetting(programFile, L"Others", L"INI_Folder", iniFolder, skipped);
}

void WriteLanguage(const wchar_t* activeFile, const wchar_t* programFile, int portable,
                   SkippedFiles& skipped) {
    WriteSetting(activeFile, L"Language", L"DLL", L"DEUTSCH.DLL", skipped);
    WriteSetting(activeFile, L"Language", L"Lang", L"Deutsch", skipped);
    if (!portable)
        return;
    WriteSetting(programFile, L"Language", L"DefaultLang", L"DEUTSCH.DLL", skipped);
    WriteSetting(programFile, L"Language", L"Lang", L"Deutsch", skipped);
}

// A skin the user (or an earlier installation) chose is kept, and so is its size.
void WriteSkin(const wchar_t* activeFile, const wchar_t* programFile, int portable, SkippedFiles& skipped) {
    wchar_t skin[kPathChars] = L"";
    GetPrivateProfileStringW(L"Toolbar", L"Skin", L"", skin, kPathChars, activeFile);
    if (skin[0] != L'\0')
        return;
    DisplayReadings display = readDisplay();
    ToolbarSkin choice =
        ChooseToolbarSkin(ScaleFromPixelsPerInch(display.pixelsPerInch), display.fullScreenHeight);
    WriteSetting(activeFile, L"Toolbar", L"Skin", choice.skin, skipped);
    WriteSetting(activeFile, L"Toolbar", L"Size", choice.size, skipped);
    if (!portable)
        return;
    WriteSetting(programFile, L"Toolbar", L"Skin", L"Moorland_24.png", skipped);
    WriteSetting(programFile, L"Toolbar", L"Size", L"24", skipped);
}

int WriteWide(HANDLE file, const wchar_t* text, size_t chars) {
    DWORD written = 0;
    DWORD bytes = (DWORD)(chars * sizeof(wchar_t));
    return WriteFile(file, text, bytes, &written, NULL) && written == bytes;
}

// The settings file read byte by byte through its checked handle.
struct Reader {
    HANDLE file;
    DWORD used;
    DWORD length;
    int failed;
    unsigned char bytes[4096];
};

int NextByte(Reader* source) {
    if (source->used == source->length) {
        source->used = source->length = 0;
        if (!ReadFile(source->file, source->bytes, sizeof source->bytes, &source->length, NULL))
            source->failed = 1;
        if (source->failed || source->length == 0)
            return EOF;
    }
    return source->bytes[source->used++];
}

// One piece of a line: up to the line end (kept) or kConversionPieceBytes bytes, after the
// `start` bytes already in the buffer.
size_t ReadPiece(Reader* source, unsigned char* piece, size_t start) {
    size_t used = start;
    while (used < kConversionPieceBytes) {
        int c = NextByte(source);
        if (c == EOF)
            break;
        piece[used++] = (unsigned char)c;
        if (c == '\n')
            break;
    }
    return used;
}

// Bytes of a full piece that end on a character boundary: in a double-byte code page a lead byte at
// the very end waits for its trail byte in the next piece instead of being converted alone.
size_t CompleteCharacters(const unsigned char* piece, size_t used) {
    size_t i = 0;
    while (i < used) {
        size_t step = IsDBCSLeadByte(piece[i]) ? 2 : 1;
        if (i + step > used)
            break;
        i += step;
    }
    return i > 0 ? i : used;
}

// Copies the pieces into the conversion file; the number of pieces, or -1 when a read or write failed.
int ConvertPieces(Reader* source, HANDLE target) {
    unsigned char piece[kConversionPieceBytes];
    wchar_t wide[kConversionWideChars];
    int pieces = 0;
    size_t carried = 0;
    for (;;) {
        size_t used = ReadPiece(source, piece, carried);
        if (used == 0)
            break;
        size_t complete = used;
        if (used == kConversionPieceBytes && piece[used - 1] != '\n')
            complete = CompleteCharacters(piece, used);
        int chars =
            MultiByteToWideChar(CP_ACP, 0, (const char*)piece, (int)complete, wide, kConversionWideChars);
        if (chars <= 0 || !WriteWide(target, wide, (size_t)chars))
            return -1;
        ++pieces;
        carried = used - complete;
        if (carried > 0)
            piece[0] = piece[complete];
    }
    return source->failed ? -1 : pieces;
}

} // namespace

DisplayReadings ReadDisplayReadings() {
    DisplayReadings readings = {0, GetSystemMetrics(SM_CYFULLSCREEN)};
    HDC display = CreateDCW(L"DISPLAY", NULL, NULL, NULL);
    if (display != NULL) {
        readings.pixelsPerInch = GetDeviceCaps(display, LOGPIXELSX);
        DeleteDC(display);
    }
    return readings;
}

void SetDisplayReadingFunction(DisplayReadingFunction function) {
    readDisplay = function != NULL ? function : ReadDisplayReadings;
}

int ScaleFromPixelsPerInch(int pixelsPerInch) {
    return pixelsPerInch > 0 ? pixelsPerInch * 100 / 96 : 100;
}

ToolbarSkin ChooseToolbarSkin(int scale, int fullScreenHeight) {
    if (fullScreenHeight >= 1600 || scale >= 170)
        return ToolbarSkin{L"gnome-colors-human_48.png", L"48"};
    if (fullScreenHeight > 1200 || scale >= 150)
        return ToolbarSkin{L"gnome-colors-wise_32.png", L"32"};
    if (fullScreenHeight < 768)
        return ToolbarSkin{L"Quill_16.png", L"16"};
    return ToolbarSkin{L"Moorland_24.png", L"24"};
}

int ExpandSettingsFolder(const wchar_t* text, wchar_t* expanded, size_t expandedChars) {
    if (expandedChars == 0)
        return 0;
    size_t capacity = expandedChars < kExpandedFolderChars ? expandedChars : (size_t)kExpandedFolderChars;
    expanded[0] = L'\0';
    int fits = 1;
    for (size_t i = 0; fits && text[i] != L'\0';) {
        if (text[i] != L'%') {
            wchar_t character[2] = {text[i++], L'\0'};
            fits = AppendText(expanded, capacity, character);
            continue;
        }
        wchar_t name[kPathChars];
        size_t nameLength = 0;
        for (++i; text[i] != L'\0' && text[i] != L'%'; ++i)
            if (nameLength + 1 < kPathChars)
                name[nameLength++] = text[i];
        name[nameLength] = L'\0';
        if (text[i] == L'%')
            ++i;
        if (nameLength == 0)
            continue;
        wchar_t value[kPathChars];
        DWORD length = GetEnvironmentVariableW(name, value, kPathChars);
        if (length >= kPathChars)
            fits = 0;
        else if (length > 0)
            fits = AppendText(expanded, capacity, value);
    }
    if (!fits)
        expanded[0] = L'\0';
    return fits;
}

void WriteInitialSettings(InstallOptions& options, wchar_t* activeFile, size_t activeChars,
                          SkippedFiles& skipped) {
    wchar_t folder[kOptionsFolderChars];
    CopyText(folder, kOptionsFolderChars, options.targetFolder);
    TrimBlanks(folder);
    AppendBackslash(folder);
    wchar_t programFile[kSettingsPathChars];
    _snwprintf(programFile, kSettingsPathChars - 1, L"%sgl_main32.ini", folder);
    programFile[kSettingsPathChars - 1] = L'\0';

    if (options.silent && options.iniFolder[0] == L'\0') {
        wchar_t defaultFolder[kPathChars];
        GetDefaultInstallFolder(defaultFolder);
        if (defaultFolder[0] != L'\0' && wcsstr(options.targetFolder, defaultFolder) != NULL)
            CopyText(options.iniFolder, kOptionsFolderChars, L"%APPDATA%\\Glimmerly");
    }

    wchar_t active[kSettingsPathChars] = L"";
    if (options.iniFolder[0] != L'\0') {
        PrepareSettingsFolder(options.iniFolder, active, skipped);
        WritePointer(programFile, options.iniFolder, skipped);
    } else {
        WriteSetting(programFile, L"Others", L"INI_Folder", NULL, skipped);
        CopyText(active, kSettingsPathChars, programFile);
    }
    CopyText(activeFile, activeChars, active);
    if (active[0] == L'\0')
        return;

    int portable = options.iniFolder[0] != L'\0' && IsPortable(active);
    WriteLanguage(active, programFile, portable, skipped);
    WriteSkin(active, programFile, portable, skipped);
}

int ConvertSettingsToUnicode(const wchar_t* settingsFile, SkippedFiles* skipped) {
    // A path the folder buffer cannot hold would put the conversion file elsewhere.
    if (settingsFile == NULL || settingsFile[0] == L'\0' || wcslen(settingsFile) >= kPathChars)
        return 1;
    Reader source;
    source.used = source.length = 0;
    source.failed = 0;
    source.file = OpenWithoutLink(settingsFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    if (source.file == INVALID_HANDLE_VALUE) {
        NoteIfLinkMet(skipped, settingsFile);
        return GetLastError() == kLinkMetError ? 0 : 1;
    }
    if (NextByte(&source) == 0xFF && source.length >= 2 && source.bytes[1] == 0xFE) {
        CloseHandle(source.file);
        return 1;
    }
    source.used = 0;

    wchar_t conversion[kPathChars];
    GetPathPart(settingsFile, conversion, kPathDrive | kPathFolder);
    HANDLE target = INVALID_HANDLE_VALUE;
    // A conversion file left by an earlier run goes first; a link in its place stops the conversion.
    if (AppendText(conversion, kPathChars, kConversionName) && DeleteWithoutLink(conversion))
        target = OpenWithoutLink(conversion, GENERIC_WRITE | DELETE, 0, CREATE_NEW, 0);
    if (target == INVALID_HANDLE_VALUE) {
        NoteIfLinkMet(skipped, conversion);
        CloseHandle(source.file);
        return 1;
    }
    const wchar_t byteOrderMark = 0xFEFF;
    int written = WriteWide(target, &byteOrderMark, 1) &&
                  WriteWide(target, kUnicodeHeader, sizeof kUnicodeHeader / sizeof kUnicodeHeader[0] - 1);
    int pieces = written ? ConvertPieces(&source, target) : -1;
    CloseHandle(source.file);

    // An empty settings file stays as it is, and so does one whose conversion broke off: the
    // conversion file is not left next to it. The handle, not the name, is what replaces the settings.
    int replaced = pieces > 0 && RenameOpenFile(target, settingsFile);
    CloseHandle(target);
    if (!replaced)
        DeleteWithoutLink(conversion);
    else
        LogStep(L"settings file written in UTF-16: %ls", settingsFile);
    return replaced || pieces == 0 ? 1 : 0;
}
