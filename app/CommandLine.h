#pragma once

struct InstallOptions;

enum { kCommandLineCopyChars = 520 };

// "/silent" anywhere in the complete command line (case-sensitive).
int HasSilentSwitch(const wchar_t* commandLine);

// Reads the switches from the first 519 characters of the command line into options. Only the fields
// of switches that are present change.
void ReadSwitches(const wchar_t* commandLine, InstallOptions& options);

// The file of /log= (both roads), without its quotes, into file (kOptionsFolderChars); empty when the
// switch is absent.
void ReadLogSwitch(const wchar_t* commandLine, wchar_t* file);
