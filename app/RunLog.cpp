#include "app/RunLog.h"

#include "install/ExitStatus.h"
#include "install/StepLog.h"
#include "shell/ProductVersion.h"

#include <windows.h>

namespace {

// "yes", "no", or "unknown" before Vista, where a token knows no elevation: there "yes" means a member
// of the administrators.
const wchar_t* Elevated() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return L"unknown";
    DWORD elevation = 0, size = 0;
    const int kTokenElevation = 20;
    BOOL known = GetTokenInformation(token, (TOKEN_INFORMATION_CLASS)kTokenElevation, &elevation,
                                     sizeof elevation, &size);
    CloseHandle(token);
    if (known)
        return elevation ? L"yes" : L"no";
    SID_IDENTIFIER_AUTHORITY authority = {SECURITY_NT_AUTHORITY};
    PSID administrators;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                  0, 0, 0, 0, &administrators))
        return L"unknown";
    BOOL member = FALSE;
    if (!CheckTokenMembership(NULL, administrators, &member))
        member = FALSE;
    FreeSid(administrators);
    return member ? L"yes" : L"no";
}

} // namespace

void LogRunStart(const wchar_t* commandLine) {
    if (!StepLogOpen())
        return;
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW((OSVERSIONINFOW*)&version);
    LogStep(L"start: Glimmerly %d.%d Setup; command line: %ls; Windows %lu.%lu.%lu %ls; elevated: %ls",
            kProductMajor, kProductMinor, commandLine != NULL ? commandLine : L"", version.dwMajorVersion,
            version.dwMinorVersion, version.dwBuildNumber, version.szCSDVersion, Elevated());
}

void LogRunOutcome(InstallResult result) {
    const ExitStatusRow* row = FindExitStatus(result);
    LogStep(L"outcome: exit status %d (%hs)", (int)result, row != NULL ? row->meaning : "unknown");
}
