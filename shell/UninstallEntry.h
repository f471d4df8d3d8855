#pragma once
#include "shell/RegistryWriter.h"

// The viewer's entry in the machine's list of installed programs. folder ends in a backslash.
void WriteUninstallEntry(RegistryWriter& registry, const wchar_t* folder);
