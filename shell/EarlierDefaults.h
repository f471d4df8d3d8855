#pragma once

// What an extension pointed at before the setup program pointed it at one of its classes, kept so the
// uninstaller can point it back: one value per extension, named with its dot (".png"). The machine's
// extension defaults lie in the application key's view, the user's own choices in the user's key.
const wchar_t kEarlierDefaultsKey[] = L"SOFTWARE\\Glimmerly\\EarlierDefaults";
const wchar_t kEarlierChoicesKey[] = L"Software\\Glimmerly\\EarlierChoices";
