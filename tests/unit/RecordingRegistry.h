#pragma once
// A registry in memory that logs every call of the registration, for tests that must see each write
// and make chosen opens fail. Key paths in the model are lower case ("hklm\software\..."), as the
// registry compares them without regard to case; the log keeps the spelling of the call. A write that
// asks for the 64-bit view goes to the root "HKLM64", so each view is a tree of its own.
#include "shell/RegistryWriter.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

class RecordingRegistry : public RegistryWriter {
  public:
    std::vector<std::wstring> log;
    std::map<std::wstring, std::map<std::wstring, std::wstring>> keys; // value data as text; dwords "dword:N"
    std::set<std::wstring> failing; // lower-case paths whose open/create fails

    LONG SetDefaultValue(RegistryRoot root, const wchar_t* subKey, const wchar_t* text) override {
        std::wstring path = Path(root, subKey);
        log.push_back(L"set " + path + L" = " + text);
        if (IsFailing(path))
            return ERROR_ACCESS_DENIED;
        Make(path)[L""] = text;
        return ERROR_SUCCESS;
    }
    // Reads are not logged: the log is of what the registration changes.
    LONG ReadText(RegistryRoot root, const wchar_t* subKey, const wchar_t* name, wchar_t* text,
                  size_t chars) override {
        std::wstring value = Value(Path(root, subKey), name != nullptr ? name : L"");
        text[0] = L'\0';
        if (value == L"<missing>" || value.size() >= chars)
            return ERROR_FILE_NOT_FOUND;
        value.copy(text, value.size());
        text[value.size()] = L'\0';
        return ERROR_SUCCESS;
    }
    LONG OpenKey(RegistryRoot root, const wchar_t* subKey, REGSAM access, HKEY* key) override {
        std::wstring path = Path(root, subKey);
        log.push_back(L"open " + path + (access == KEY_SET_VALUE ? L" (set value)" : L" (all access)"));
        if (IsFailing(path) || keys.count(Lower(path)) == 0)
            return ERROR_FILE_NOT_FOUND;
        return Handle(path, key);
    }
    LONG CreateKey(RegistryRoot root, const wchar_t* subKey, HKEY* key) override {
        std::wstring path = Path(root, subKey);
        log.push_back(L"create " + path);
        if (IsFailing(path))
            return ERROR_ACCESS_DENIED;
        Make(path);
        return Handle(path, key);
    }
    LONG SetText(HKEY key, const wchar_t* name, const wchar_t* text) override {
        log.push_back(L"value " + handles.at(key) + L" : " + name + L" = " + text);
        keys[Lower(handles.at(key))][name] = text;
        return ERROR_SUCCESS;
    }
    LONG SetNumber(HKEY key, const wchar_t* name, DWORD value) override {
        log.push_back(L"value " + handles.at(key) + L" : " + name + L" = dword:" + std::to_wstring(value));
        keys[Lower(handles.at(key))][name] = L"dword:" + std::to_wstring(value);
        return ERROR_SUCCESS;
    }
    LONG DeleteKey(HKEY root, const wchar_t* subKey) override {
        std::wstring path = Path(root, subKey);
        log.push_back(L"delete " + path);
        return keys.erase(Lower(path)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }
    LONG CloseKey(HKEY key) override {
        log.push_back(L"close " + handles.at(key));
        handles.erase(key);
        return ERROR_SUCCESS;
    }

    // Keys under a lower-case prefix ("hklm\software\classes\glimmerly.").
    std::set<std::wstring> KeysUnder(const std::wstring& prefix) const {
        std::set<std::wstring> result;
        for (const auto& entry : keys)
            if (entry.first.compare(0, prefix.size(), prefix) == 0)
                result.insert(entry.first);
        return result;
    }
    const std::map<std::wstring, std::wstring>* Values(const std::wstring& path) const {
        auto found = keys.find(Lower(path));
        return found == keys.end() ? nullptr : &found->second;
    }
    std::wstring Value(const std::wstring& path, const std::wstring& name) const {
        const auto* values = Values(path);
        if (values == nullptr || values->count(name) == 0)
            return L"<missing>";
        return values->at(name);
    }
    bool Logged(const std::wstring& line) const {
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    size_t Position(const std::wstring& line) const {
        return std::find(log.begin(), log.end(), line) - log.begin();
    }
    size_t OpenHandles() const { return handles.size(); }

    static std::wstring Lower(std::wstring text) {
        for (auto& ch : text)
            ch = (wchar_t)towlower(ch);
        return text;
    }

  private:
    std::map<HKEY, std::wstring> handles;
    ULONG_PTR nextHandle = 0x1000;

    static std::wstring Path(RegistryRoot root, const wchar_t* subKey) {
        const wchar_t* name = root.key == HKEY_LOCAL_MACHINE  ? L"HKLM"
                              : root.key == HKEY_CURRENT_USER ? L"HKCU"
                              : root.key == HKEY_CLASSES_ROOT ? L"HKCR"
                                                              : L"?";
        const wchar_t* view = root.view == KEY_WOW64_64KEY ? L"64" : root.view == 0 ? L"" : L"?";
        return std::wstring(name) + view + L"\\" + subKey;
    }
    bool IsFailing(const std::wstring& path) const { return failing.count(Lower(path)) != 0; }
    // A key and all its parents, as RegSetValueW and RegCreateKeyW make them.
    std::map<std::wstring, std::wstring>& Make(const std::wstring& path) {
        std::wstring lower = Lower(path);
        for (size_t at = lower.find(L'\\'); at != std::wstring::npos; at = lower.find(L'\\', at + 1))
            keys[lower.substr(0, at)];
        return keys[lower];
    }
    LONG Handle(const std::wstring& path, HKEY* key) {
        *key = (HKEY)(nextHandle += 4);
        handles[*key] = path;
        return ERROR_SUCCESS;
    }
};
