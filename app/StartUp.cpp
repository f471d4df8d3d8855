#include "app/StartUp.h"

#include "framework/SystemLibrary.h"
#include "install/FolderProtection.h"
#include "install/PathHelpers.h"

#include <sddl.h>
#include <windows.h>
#include <wchar.h>

void RestrictDllSearchPath() {
    wchar_t kernel[MAX_PATH];
    UINT length = GetSystemDirectoryW(kernel, MAX_PATH);
    if (length == 0 || length + 14 >= MAX_PATH)
        return;
    if (kernel[length - 1] != L'\\')
        kernel[length++] = L'\\';
    wmemcpy(kernel + length, L"kernel32.dll", 13);
    HMODULE module = GetModuleHandleW(kernel);
    if (module == NULL)
        return;
    typedef BOOL(WINAPI * SetDirectories)(DWORD);
    SetDirectories setDirectories = (SetDirectories)(void*)GetProcAddress(module, "SetDefaultDllDirectories");
    if (setDirectories != NULL)
        setDirectories(0x800); // LOAD_LIBRARY_SEARCH_SYSTEM32
}

void InitThemeSupport() {
    typedef void(WINAPI * SetProperties)(DWORD);
    static bool looked = false;
    static SetProperties setProperties = NULL;
    if (!looked) {
        looked = true;
        setProperties = SystemFunction<SetProperties>(L"UxTheme.dll", "SetThemeAppProperties");
    }
    if (setProperties != NULL)
        setProperties(3); // STAP_ALLOW_NONCLIENT | STAP_ALLOW_CONTROLS
}

namespace {

// 1 when this process now holds the mutex, 0 when another process does, -1 when the namespace is
// closed to this process. The handle of a claimed mutex stays open until the process ends.
int ClaimMutex(const wchar_t* name) {
    HANDLE mutex = CreateMutexW(NULL, FALSE, name);
    DWORD error = GetLastError();
    if (mutex != NULL) {
        if (error != ERROR_ALREADY_EXISTS)
            return 1;
        CloseHandle(mutex);
        return 0;
    }
    if (error != ERROR_ACCESS_DENIED)
        return -1;
    // The setup of another user made it, and its rights keep this process out: it exists all the same.
    mutex = OpenMutexW(SYNCHRONIZE, FALSE, name);
    error = GetLastError();
    if (mutex != NULL)
        CloseHandle(mutex);
    return mutex != NULL || error == ERROR_ACCESS_DENIED ? 0 : -1;
}

// Opens, or creates, the namespace for the rest of the process.
int SystemPrivateNamespace(wchar_t* prefix, unsigned chars) {
    typedef HANDLE(WINAPI * CreateBoundary)(LPCWSTR, ULONG);
    typedef BOOL(WINAPI * AddSid)(HANDLE*, PSID);
    typedef HANDLE(WINAPI * CreateNamespace)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
    typedef HANDLE(WINAPI * OpenNamespace)(LPVOID, LPCWSTR);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    CreateBoundary createBoundary =
        (CreateBoundary)(void*)GetProcAddress(kernel, "CreateBoundaryDescriptorW");
    AddSid addSid = (AddSid)(void*)GetProcAddress(kernel, "AddSIDToBoundaryDescriptor");
    CreateNamespace create = (CreateNamespace)(void*)GetProcAddress(kernel, "CreatePrivateNamespaceW");
    OpenNamespace open = (OpenNamespace)(void*)GetProcAddress(kernel, "OpenPrivateNamespaceW");
    HANDLE boundary = createBoundary != NULL && addSid != NULL && create != NULL && open != NULL
                          ? createBoundary(L"GlimmerlySetup", 0)
                          : NULL;
    if (boundary == NULL)
        return 0;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = NULL;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, NULL, FALSE};
    HANDLE space = NULL;
    if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                 0, &administrators) &&
        addSid(&boundary, administrators) &&
        ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;BA)(A;;GA;;;SY)", SDDL_REVISION_1,
                                                             &attributes.lpSecurityDescriptor, NULL)) {
        space = create(&attributes, boundary, L"GlimmerlySetup");
        if (space == NULL && GetLastError() == ERROR_ALREADY_EXISTS)
            space = open(boundary, L"GlimmerlySetup");
    }
    LocalFree(attributes.lpSecurityDescriptor);
    if (administrators != NULL)
        FreeSid(administrators);
    // The namespace stays open with the process: its names live as long as it does.
    return space != NULL && CopyText(prefix, chars, L"GlimmerlySetup\\");
}

const SetupLockCalls systemLockCalls = {RunsAsAdministrator, SystemPrivateNamespace};
const SetupLockCalls* lockCalls = &systemLockCalls;

} // namespace

void SetSetupLockCalls(const SetupLockCalls* calls) {
    lockCalls = calls != NULL ? calls : &systemLockCalls;
}

int ClaimSetupLock() {
    wchar_t name[96];
    if (lockCalls->elevated() && lockCalls->privateNamespace(name, 64) &&
        AppendText(name, 96, L"GlimmerlySetup")) {
        // A name outside the namespace held by anyone else blocks nothing: it may be a squatter's.
        int claimed = ClaimMutex(name);
        if (claimed >= 0) {
            ClaimMutex(L"Local\\GlimmerlySetup");
            ClaimMutex(L"Global\\GlimmerlySetup");
            return claimed;
        }
    }
    if (ClaimMutex(L"Local\\GlimmerlySetup") == 0)
        return 0;
    return ClaimMutex(L"Global\\GlimmerlySetup") != 0;
}
