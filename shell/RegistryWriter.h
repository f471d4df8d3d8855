#pragma once
#include <windows.h>

// A predefined root key as seen in one registry view. A plain HKEY stands for the process's own view;
// KEY_WOW64_64KEY is the 64-bit view, which a 32-bit process on 64-bit Windows must ask for by name.
struct RegistryRoot {
    RegistryRoot(HKEY root) : key(root), view(0) {}
    RegistryRoot(HKEY root, REGSAM rootView) : key(root), view(rootView) {}
    HKEY key;
    REGSAM view;
};

// The registry functions the registration writes through. The system's registry is the only one
// the program uses; tests substitute a recorder to see every write, the view it asks for, and to make
// opens fail.
class RegistryWriter {
  public:
    virtual ~RegistryWriter() {}
    // As RegSetValueW: creates the key with its parents and sets its default value.
    virtual LONG SetDefaultValue(RegistryRoot root, const wchar_t* subKey, const wchar_t* text) = 0;
    // A REG_SZ value (name null: the default value) into text of chars characters; a value that does not
    // fit counts as absent.
    virtual LONG ReadText(RegistryRoot root, const wchar_t* subKey, const wchar_t* name, wchar_t* text,
                          size_t chars) = 0;
    virtual LONG OpenKey(RegistryRoot root, const wchar_t* subKey, REGSAM access, HKEY* key) = 0;
    virtual LONG CreateKey(RegistryRoot root, const wchar_t* subKey, HKEY* key) = 0;
    // RegSetValueExW with REG_SZ and the terminating zero counted, or with a 4-byte REG_DWORD.
    virtual LONG SetText(HKEY key, const wchar_t* name, const wchar_t* text) = 0;
    virtual LONG SetNumber(HKEY key, const wchar_t* name, DWORD value) = 0;
    virtual LONG DeleteKey(HKEY root, const wchar_t* subKey) = 0;
    virtual LONG CloseKey(HKEY key) = 0;
};

RegistryWriter& SystemRegistry();

// An opened or created key, closed again when the owner goes out of scope.
class RegistryKey {
  public:
    explicit RegistryKey(RegistryWriter& registry) : registry_(registry) {}
    ~RegistryKey() { Close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    bool Open(RegistryRoot root, const wchar_t* subKey, REGSAM access);
    bool Create(RegistryRoot root, const wchar_t* subKey);
    void SetText(const wchar_t* name, const wchar_t* text) { registry_.SetText(key_, name, text); }
    void SetNumber(const wchar_t* name, DWORD value) { registry_.SetNumber(key_, name, value); }
    void Close();

  private:
    RegistryWriter& registry_;
    HKEY key_ = NULL;
};
