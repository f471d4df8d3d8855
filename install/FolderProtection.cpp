#include "install/FolderProtection.h"

#include "install/SafePath.h"

#include <aclapi.h>
#include <sddl.h>

namespace {

const DWORD kWritingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                             WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Administrators, SYSTEM, TrustedInstaller, or CREATOR OWNER for an entry that only its children inherit.
int IsTrusted(PSID sid, int creatorCounts) {
    const wchar_t* trusted[] = {L"S-1-5-32-544", L"S-1-5-18",
                                L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                                L"S-1-3-0"};
    for (int i = 0; i < (creatorCounts ? 4 : 3); ++i) {
        PSID known = NULL;
        int same = ConvertStringSidToSidW(trusted[i], &known) && EqualSid(sid, known);
        LocalFree(known);
        if (same)
            return 1;
    }
    return 0;
}

} // namespace

int RunsAsAdministrator() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = NULL;
    BOOL member = FALSE;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &administrators))
        return 0;
    if (!CheckTokenMembership(NULL, administrators, &member))
        member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

namespace {

int KeepsAcls(const wchar_t* folder) {
    wchar_t volume[MAX_PATH];
    DWORD flags = 0;
    if (!GetVolumePathNameW(folder, volume, MAX_PATH) ||
        !GetVolumeInformationW(volume, NULL, 0, NULL, NULL, &flags, NULL, 0))
        return 1; // unknown: the setting tells
    return (flags & FS_PERSISTENT_ACLS) != 0;
}

int OnlyAdministratorsWrite(const wchar_t* folder) {
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              NULL, NULL, NULL, NULL, &descriptor) != ERROR_SUCCESS)
        return 0;
    int only = GrantsWriteOnlyToAdministrators(descriptor);
    LocalFree(descriptor);
    return only;
}

int Apply(const wchar_t* folder, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, NULL))
        return 0;
    PSID owner = NULL;
    PACL dacl = NULL;
    BOOL defaulted = FALSE, present = FALSE;
    // Held meanwhile, so the name set leads to the folder that was checked; the system passes the
    // inherited entries on to what lies below.
    HANDLE held = HoldFolder(folder);
    int ok = held != INVALID_HANDLE_VALUE && GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) &&
             GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) &&
             SetNamedSecurityInfoW((wchar_t*)folder, SE_FILE_OBJECT,
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                       PROTECTED_DACL_SECURITY_INFORMATION,
                                   owner, NULL, dacl, NULL) == ERROR_SUCCESS;
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    LocalFree(descriptor);
    return ok;
}

const FolderSecurity systemSecurity = {RunsAsAdministrator, KeepsAcls, OnlyAdministratorsWrite, Apply};
const FolderSecurity* security = &systemSecurity;

} // namespace

void SetFolderSecurity(const FolderSecurity* replacement) {
    security = replacement != NULL ? replacement : &systemSecurity;
}

int ProtectTargetFolder(const wchar_t* folder) {
    if (!security->elevated() || !security->keepsAcls(folder) || security->onlyAdministratorsWrite(folder))
        return 1;
    return security->apply(folder, kAdministratorsOnlySddl);
}

int GrantsWriteOnlyToAdministrators(PSECURITY_DESCRIPTOR descriptor) {
    PSID owner = NULL;
    PACL dacl = NULL;
    BOOL defaulted = FALSE, present = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == NULL ||
        !IsTrusted(owner, 0) || !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
        !present || dacl == NULL)
        return 0; // no DACL grants everyone everything
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = NULL;
        if (!GetAce(dacl, i, (void**)&header))
            return 0;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        ACCESS_ALLOWED_ACE* ace = (ACCESS_ALLOWED_ACE*)header;
        int inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
        if ((ace->Mask & kWritingRights) && !IsTrusted((PSID)&ace->SidStart, inheritOnly))
            return 0;
    }
    return 1;
}
