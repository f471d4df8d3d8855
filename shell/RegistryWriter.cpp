#include "shell/RegistryWriter.h"

#include <wchar.h>

namespace {

class SystemRegistryWriter : public RegistryWriter {
  public:
    LONG SetDefaultValue(HKEY root, const wchar_t* subKey, const wchar_t* text) override {
        return RegSetValueW(root, subKey, REG_SZ, text, (DWORD)((wcslen(text) + 1) * sizeof(wchar_t)));
    }
    LONG OpenKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* key) override {
        return RegOpenKeyExW(root, subKey, 0, access, key);
    }
    LONG CreateKey(HKEY root, const wchar_t* subKey, HKEY* key) override {
        return RegCreateKeyW(root, subKey, key);
    }
    LONG SetText(HKEY key, const wchar_t* name, const wchar_t* text) override {
        return RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)text,
                              (DWORD)((wcslen(text) + 1) * sizeof(wchar_t)));
    }
    LONG SetNumber(HKEY key, const wchar_t* name, DWORD value) override {
        return RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE*)&value, sizeof value);
    }
    LONG DeleteKey(HKEY root, const wchar_t* subKey) override { return RegDeleteKeyW(root, subKey); }
    LONG CloseKey(HKEY key) override { return RegCloseKey(key); }
};

} // namespace

RegistryWriter& SystemRegistry() {
    static SystemRegistryWriter registry;
    return registry;
}

bool RegistryKey::Open(HKEY root, const wchar_t* subKey, REGSAM access) {
    Close();
    HKEY key = NULL;
    if (registry_.OpenKey(root, subKey, access, &key) != ERROR_SUCCESS)
        return false;
    key_ = key;
    return true;
}

bool RegistryKey::Create(HKEY root, const wchar_t* subKey) {
    Close();
    HKEY key = NULL;
    if (registry_.CreateKey(root, subKey, &key) != ERROR_SUCCESS)
        return false;
    key_ = key;
    return true;
}

void RegistryKey::Close() {
    if (key_ != NULL)
        registry_.CloseKey(key_);
    key_ = NULL;
}
