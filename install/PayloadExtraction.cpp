#include "install/PayloadExtraction.h"

#include "install/ArchiveFile.h"
#include "install/MemberNames.h"
#include "install/PathHelpers.h"

#include <windows.h>
#include <direct.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

using namespace membernames;

namespace {

int CheckCurrentName(unzFile archive, int keepIcons, unsigned long long* total) {
    unz_file_info64 info;
    char name[kMemberNameBytes];
    wchar_t wide[kWideMemberChars];
    if (!ReadMemberInfo(archive, &info, name) || !ToWide(name, wide) || !IsSafeMemberName(wide))
        return -1;
    if (!(keepIcons == 1 && MentionsIcons(name)))
        *total += info.uncompressed_size;
    return 0;
}

} // namespace

int IsSafeMemberName(const wchar_t* name) {
    if (name[0] == L'\0' || name[0] == L'/' || name[0] == L'\\' || wcschr(name, L':') != NULL)
        return 0;
    // Windows drops trailing dots and blanks of a component, so ". ." or "..." may climb up as well.
    size_t dots = 0;
    int onlyDots = 1;
    for (const wchar_t* p = name;; ++p) {
        if (*p == L'\0' || *p == L'/' || *p == L'\\') {
            if (onlyDots && dots >= 2)
                return 0;
            if (*p == L'\0')
                return 1;
            dots = 0;
            onlyDots = 1;
        } else if (*p == L'.') {
            ++dots;
        } else if (*p != L' ') {
            onlyDots = 0;
        }
    }
}

int CreateMemberFolders(const wchar_t* folder) {
    if (folder == NULL || folder[0] == L'\0')
        return 0;
    size_t length = wcslen(folder);
    wchar_t* copy = (wchar_t*)malloc((length + 1) * sizeof(wchar_t));
    if (copy == NULL)
        return UNZ_INTERNALERROR;
    memcpy(copy, folder, (length + 1) * sizeof(wchar_t));
    if (copy[length - 1] == L'/')
        copy[--length] = L'\0';

    int result = 1;
    if (_wmkdir(copy) != 0) {
        for (size_t i = 1; i <= length; ++i) {
            if (i < length && copy[i] != L'/' && copy[i] != L'\\')
                continue;
            wchar_t kept = copy[i];
            copy[i] = L'\0';
            int failed = _wmkdir(copy) != 0 && errno == ENOENT;
            copy[i] = kept;
            if (failed) {
                result = 0;
                break;
            }
        }
    }
    free(copy);
    return result;
}

void SetFileDateFromMember(void* handle, unsigned long dosDateTime) {
    FILETIME local, utc;
    if (DosDateTimeToFileTime(HIWORD(dosDateTime), LOWORD(dosDateTime), &local) &&
        LocalFileTimeToFileTime(&local, &utc))
        SetFileTime((HANDLE)handle, &utc, NULL, &utc);
}

int CheckMemberNames(unzFile archive, int keepIcons, unsigned long long* total) {
    unsigned long long bytes = 0;
    int checked = ForEachMember(archive, [&] { return CheckCurrentName(archive, keepIcons, &bytes); });
    if (total != NULL)
        *total = bytes;
    return checked;
}

int MeasurePayload(int resourceId, const wchar_t* resourceType, unsigned long long* bytes,
                   unsigned long long* files) {
    unsigned long size = 0;
    MemoryArchive payload = {OwnResource(resourceId, resourceType, &size), size};
    if (payload.bytes == NULL)
        return 0;
    zlib_filefunc64_def functions;
    FillMemoryArchiveFunctions(&functions);
    unzFile archive = unzOpen2_64(&payload, &functions);
    if (archive == NULL)
        return 0;
    unz_global_info64 global;
    int measured = CheckMemberNames(archive, 0, bytes) == 0 && unzGetGlobalInfo64(archive, &global) == UNZ_OK;
    unzClose(archive);
    if (measured)
        *files = global.number_entry;
    return measured;
}
