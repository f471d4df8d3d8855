#pragma once
#include "shell/RegistryWriter.h"

// The thumbnail browser's verb on every folder and drive (Vista and later, with the thumbnails link).
void RegisterFolderVerbs(RegistryWriter& registry, const wchar_t* executable);
// The program class "Glimmerly" and the "Applications" entry with the friendly name.
void RegisterProgramClass(RegistryWriter& registry, const wchar_t* openCommand);
// The application key with its capabilities and the Default Programs entry (Vista and later).
void RegisterApplicationKey(RegistryWriter& registry, const wchar_t* executable);
