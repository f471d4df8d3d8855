#pragma once
#include <windows.h>

// The installed file at path, opened so that no other program can change, rename or delete it while the
// handle lives, when it is reached without a link and holds exactly the bytes of member memberName of
// the program's own payload resource (id, type); else INVALID_HANDLE_VALUE. The elevated setup starts the
// viewer only while holding such a handle, so a program put in the target folder by another program of
// the user is never what it starts.
HANDLE HoldPayloadMember(const wchar_t* path, int resourceId, const wchar_t* resourceType,
                         const char* memberName);
