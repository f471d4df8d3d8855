#include "install/InstalledViewer.h"

#include "install/ArchiveFile.h"
#include "install/SafePath.h"

#include <unzip.h>

HANDLE HoldPayloadMember(const wchar_t* path, int resourceId, const wchar_t* resourceType,
                         const char* memberName) {
    unsigned long size = 0;
    MemoryArchive payload = {OwnResource(resourceId, resourceType, &size), size};
    zlib_filefunc64_def functions;
    FillMemoryArchiveFunctions(&functions);
    unzFile archive = unzOpen2_64(&payload, &functions);
    unz_file_info64 member;
    const int kAnyCase = 2;
    int found = archive != NULL && unzLocateFile(archive, memberName, kAnyCase) == UNZ_OK &&
                unzGetCurrentFileInfo64(archive, &member, NULL, 0, NULL, 0, NULL, 0) == UNZ_OK;
    if (archive != NULL)
        unzClose(archive);
    if (!found)
        return INVALID_HANDLE_VALUE;

    HANDLE file = OpenWithoutLink(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    static unsigned char chunk[65536];
    uLong crc = crc32(0L, Z_NULL, 0);
    ZPOS64_T total = 0;
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, NULL) && got > 0) {
        crc = crc32(crc, chunk, got);
        total += got;
    }
    if (crc == member.crc && total == member.uncompressed_size)
        return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}
