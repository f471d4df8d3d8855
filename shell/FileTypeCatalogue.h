#pragma once
#include <windows.h>

// The file types that can be associated with the viewer. A row's position is its index in
// InstallOptions::associationSelection; rows 0 to imageRowCount - 1 are the image formats.
constexpr int fileTypeRowCount = 63;
constexpr int imageRowCount = 49;
constexpr int kMaxRowExtensions = 4;

// Where a document class takes its icon from.
enum FileTypeIcon {
    kIconOfFile,      // "%1": cursors and icons show themselves
    kIconViewer,      // the viewer's icon 0
    kIconViewerVideo, // icon 9
    kIconViewerAudio, // icon 8
};

// One registered extension: lower case, without the dot. classSuffix is null when the extension
// names its own class (Glimmerly.<extension>).
struct RegisteredExtension {
    const wchar_t* extension;
    const wchar_t* classSuffix;
};

struct FileTypeEntry {
    const wchar_t* extensions;  // upper case, joined by "/", as the associations list shows them
    const wchar_t* description; // a trailing " *" marks a format read through a plug-in
    FileTypeIcon icon;
    int registeredCount;
    RegisteredExtension registered[kMaxRowExtensions];
};

extern const FileTypeEntry FileTypeCatalogue[fileTypeRowCount];

// The class suffix of a registered extension: its own name unless it joins another class.
inline const wchar_t* ClassSuffix(const RegisteredExtension& entry) {
    return entry.classSuffix != NULL ? entry.classSuffix : entry.extension;
}

// Adds one line to the report-style association list (extensions, then the description in
// sub-item 1), checked when initialCheck is nonzero.
void InsertFileTypeRow(HWND list, const wchar_t* extensions, const wchar_t* description, int initialCheck,
                       int position);
