#include "shell/RegistryWriter.h"

#include <wchar.h>

namespace {

class SystemRegistryWriter : public RegistryWriter {
  public:
    // RegSetValueW knows no views: the same steps as it takes, with the view added.
    LONG SetDefaultValue(RegistryRoot root, const wchar_t* subKey, const wchar_t* text) override {
        HKEY key;
        LONG result = RegCreateKeyExW(root.key, subKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                                      KEY_SET_VALUE | root.view, NULL, &key, NULL);
        if (result != ERROR_SUCCESS)
            return result;
        result = SetText(key, NULL, text);
        RegCloseKey(key);
        return result;
    }
    LONG ReadText(RegistryRoot root, const wchar_t* subKey, const wchar_t* name, wchar_t* text,
                  size_t chars) override {
        text[0] = L'\0';
        HKEY key;
        LONG result = RegOpenKeyExW(root.key, subKey, 0, KEY_QUERY_VALUE | root.view, &key);
        if (result != ERROR_SUCCESS)
            return result;
        DWORD type = 0;
        DWORD bytes = (DWORD)((chars - 1) * sizeof(wchar_t));
        result = RegQueryValueExW(key, name, NULL, &type, (BYTE*)text, &bytes);
        RegCloseKey(key);
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            text[0] = L'\0';
            return result != ERROR_SUCCESS ? result : ERROR_INVALID_DATA;
        }
        // The stored text need not be terminated.
        text[bytes / sizeof(wchar_t)] = L'\0';
        return ERROR_SUCCESS;
    }
    LONG OpenKey(RegistryRoot root, const wchar_t* subKey, REGSAM access, HKEY* key) override {
        return RegOpenKeyExW(root.key, subKey, 0, access | root.view, key);
    }
    // As RegCreateKeyW, which opens with the maximum access allowed.
    LONG CreateKey(RegistryRoot root, const wchar_t* subKey, HKEY* key) override {
        return RegCreateKeyExW(root.key, subKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                               MAXIMUM_ALLOWED | root.view, NULL, key, NULL);
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

bool RegistryKey::Open(RegistryRoot root, const wchar_t* subKey, REGSAM access) {
    Close();
    HKEY key = NULL;
    if (registry_.OpenKey(root, subKey, access, &key) != ERROR_SUCCESS)
        return false;
    key_ = key;
    return true;
}

bool RegistryKey::Create(RegistryRoot root, const wchar_t* subKey) {
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
