#pragma once
#include "shell/RegistryWriter.h"

// The thumbnail browser's verb on every folder and drive (Vista and later, with the thumbnails link).
void RegisterFolderVerbs(RegistryWriter& registry, const wchar_t* executable);
// The program class "Glimmerly" and the "Applications" entry with the friendly name.
void RegisterProgramClass(RegistryWriter& registry, const wchar_t* openCommand);
// The application key with its capabilities and the Default Programs entry (Vista and later), under root.
void RegisterApplicationKey(RegistryWriter& registry, const wchar_t* executable, RegistryRoot root);

// Where the application key goes. The Default Programs entry names it by a path that the 64-bit shell
// looks up in the 64-bit view, so a 32-bit process on 64-bit Windows (wow64) writes both there; every
// other key stays in the process's own view.
RegistryRoot ApplicationKeyRoot(int wow64);
