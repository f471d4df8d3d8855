#pragma once

enum WindowsFamily { Xp, Vista, Older };

// The three fields of the system's version record that the checks read. The program's manifest
// declares no supported systems, so Windows 8.1 and later report themselves as 6.2.
struct WindowsVersion {
    unsigned int platformId;
    unsigned int majorVersion;
    unsigned int minorVersion;
};

// Asks the system afresh on every call; a failed query leaves the record zeroed.
WindowsVersion QueryWindowsVersion();

// The decisions on a given record (1 or 0), so every reported version can be checked directly.
int IsVistaOrLater(const WindowsVersion& version);
int IsWindows8OrLater(const WindowsVersion& version);
int IsWindows8Exactly(const WindowsVersion& version);
WindowsFamily ClassifyWindowsFamily(const WindowsVersion& version);

// The same decisions on the running system.
int IsVistaOrLater();
int IsWindows8OrLater();
int IsWindows8Exactly();
WindowsFamily ClassifyWindowsFamily();

// 1 when this 32-bit process runs on 64-bit Windows. IsWow64Process is looked up at run time, since
// 2000 and XP before its second service pack lack it; a 64-bit build always gets 0.
int IsWow64();
