#pragma once
#include <windows.h>

// An elevated setup often installs where every user may create folders (a folder below a drive's root
// inherits "Modify" for Authenticated Users). Before anything is written into the target folder, it is
// made one that only administrators can change: owner the Administrators group, a protected DACL with
// Administrators and SYSTEM in full control and Users reading and executing, inherited below. A folder
// that already grants write only to administrators (below "Program Files") stays as it is; so does every
// folder of a run without administrator rights, and of a volume without ACLs.
constexpr const wchar_t* kAdministratorsOnlySddl =
    L"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

// The system calls the protection rests on; a seam for the tests.
struct FolderSecurity {
    int (*elevated)();
    int (*keepsAcls)(const wchar_t* folder);
    int (*onlyAdministratorsWrite)(const wchar_t* folder);
    int (*apply)(const wchar_t* folder, const wchar_t* sddl); // 1 when set
};

// 1 when this process has the rights of the Administrators group (elevated, where the system splits them).
int RunsAsAdministrator();

// NULL puts the system's calls back.
void SetFolderSecurity(const FolderSecurity* security);

// 1 when the folder (absolute, existing) is protected now or needs nothing; 0 when its DACL could not be
// set, and the run must not write into it.
int ProtectTargetFolder(const wchar_t* folder);

// 1 when the descriptor's owner and every entry that grants writing, deleting or changing the rights are
// the Administrators group, SYSTEM or TrustedInstaller (CREATOR OWNER, which names whoever creates an
// entry below, counts for its creator).
int GrantsWriteOnlyToAdministrators(PSECURITY_DESCRIPTOR descriptor);
