#pragma once
#include <stddef.h>

struct InstallOptions;

enum {
    // An expanded settings folder holds at most 519 characters.
    kExpandedFolderChars = 520,
    // The conversion reads a settings file in pieces of at most this many bytes.
    kConversionPieceBytes = 2047
};

// Writes the first settings of the viewer; may set options.iniFolder on the silent road.
// activeFile receives the path of the settings file the viewer will use (empty when the settings
// folder cannot be expanded into a usable path).
void WriteInitialSettings(InstallOptions& options, wchar_t* activeFile, size_t activeChars);

// Expands the %NAME% references of a settings-folder text; an unset or empty variable vanishes with
// its percent signs, and a reference without its closing percent sign runs to the end of the text.
// An expansion longer than expandedChars - 1 (at most 519) characters is not cut: the result is
// then empty and the return value 0. 1 when it fit.
int ExpandSettingsFolder(const wchar_t* text, wchar_t* expanded, size_t expandedChars);

// Rewrites a settings file as UTF-16LE. 1 when there was nothing to do or the file was replaced; 0 when
// it could not be replaced or is reached only through a link. The conversion file is made new beside it
// and replaces it by its handle, never by following a name.
int ConvertSettingsToUnicode(const wchar_t* settingsFile);

// The toolbar skin the viewer starts with, and its button size.
struct ToolbarSkin {
    const wchar_t* skin;
    const wchar_t* size;
};

// The display's scale in percent: pixels per inch * 100 / 96, or 100 when the display gave none (0).
int ScaleFromPixelsPerInch(int pixelsPerInch);

// The skin for a display of this scale and full-screen client height in pixels.
ToolbarSkin ChooseToolbarSkin(int scale, int fullScreenHeight);

// What the skin choice reads of the display. pixelsPerInch is 0 when no device context could be had.
struct DisplayReadings {
    int pixelsPerInch;
    int fullScreenHeight;
};
typedef DisplayReadings (*DisplayReadingFunction)();

// The readings of the real display: LOGPIXELSX of a "DISPLAY" device context and SM_CYFULLSCREEN.
DisplayReadings ReadDisplayReadings();

// Tests put their own readings in place; null restores the display's.
void SetDisplayReadingFunction(DisplayReadingFunction function);
