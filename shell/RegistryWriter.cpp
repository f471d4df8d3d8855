#include "shell/RegistryWriter.h"

#include "install/StepLog.h"

#include <wchar.h>

namespace {

// The full log names the root and, where it is not the process's own, the registry view.
void LogKey(const wchar_t* what, RegistryRoot root, const wchar_t* subKey, const wchar_t* value = NULL) {
    if (!StepLogOpen())
        return;
    const wchar_t* name = root.key == HKEY_LOCAL_MACHINE  ? L"HKLM"
                          : root.key == HKEY_CURRENT_USER ? L"HKCU"
                          : root.key == HKEY_CLASSES_ROOT ? L"HKCR"
                          : root.key == HKEY_USERS        ? L"HKU"
                                                          : L"(open key)";
    const wchar_t* view = (root.view & KEY_WOW64_64KEY)   ? L" (64-bit view)"
                          : (root.view & KEY_WOW64_32KEY) ? L" (32-bit view)"
                                                          : L"";
    if (value != NULL)
        LogStep(L"%ls: %ls\\%ls\\(default) = %ls%ls", what, name, subKey, value, view);
    else
        LogStep(L"%ls: %ls\\%ls%ls", what, name, subKey, view);
}

class SystemRegistryWriter : public RegistryWriter {
  public:
    // RegSetValueW knows no views: the same steps as it takes, with the view added.
    LONG SetDefaultValue(RegistryRoot root, const wchar_t* subKey, const wchar_t* text) override {
        HKEY key;
        LONG result = RegCreateKeyExW(root.key, subKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                                      KEY_SET_VALUE | root.view, NULL, &key, NULL);
        if (result != ERROR_SUCCESS)
            return result;
        result = RegSetValueExW(key, NULL, 0, REG_SZ, (const BYTE*)text,
                                (DWORD)((wcslen(text) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        if (result == ERROR_SUCCESS)
            LogKey(L"registry value", root, subKey, text);
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
        LONG result = RegOpenKeyExW(root.key, subKey, 0, access | root.view, key);
        // The values written next belong to this key.
        if (result == ERROR_SUCCESS && (access & KEY_SET_VALUE))
            LogKey(L"registry key opened", root, subKey);
        return result;
    }
    // As RegCreateKeyW, which opens with the maximum access allowed.
    LONG CreateKey(RegistryRoot root, const wchar_t* subKey, HKEY* key) override {
        LONG result = RegCreateKeyExW(root.key, subKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                                      MAXIMUM_ALLOWED | root.view, NULL, key, NULL);
        if (result == ERROR_SUCCESS)
            LogKey(L"registry key", root, subKey);
        return result;
    }
    LONG SetText(HKEY key, const wchar_t* name, const wchar_t* text) override {
        LONG result = RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)text,
                                     (DWORD)((wcslen(text) + 1) * sizeof(wchar_t)));
        if (result == ERROR_SUCCESS)
            LogStep(L"registry value: %ls = %ls", name != NULL ? name : L"(default)", text);
        return result;
    }
    LONG SetNumber(HKEY key, const wchar_t* name, DWORD value) override {
        LONG result = RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE*)&value, sizeof value);
        if (result == ERROR_SUCCESS)
            LogStep(L"registry value: %ls = %lu (number)", name != NULL ? name : L"(default)", value);
        return result;
    }
    LONG DeleteKey(HKEY root, const wchar_t* subKey) override {
        LONG result = RegDeleteKeyW(root, subKey);
        if (result == ERROR_SUCCESS)
            LogKey(L"registry key deleted", root, subKey);
        return result;
    }
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
