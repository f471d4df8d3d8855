#pragma once
#include "install/InstallOptions.h"

// Runs one installation. 1 when it ran to its end, 0 when it stopped at a failure that has been
// shown (wizard) or logged (silent).
int RunInstallation(InstallOptions& options);

// The message-box seam: the wizard shows failures and the association question through it.
typedef int (*MessageBoxFunction)(const wchar_t* text, const wchar_t* caption, unsigned int type);
void SetMessageBoxFunction(MessageBoxFunction function);
int ShowDriverMessage(const wchar_t* text, const wchar_t* caption, unsigned int type);
