#include "install/PayloadExtraction.h"

#include <windows.h>
#include <process.h>

namespace {

struct ChecksumPart {
    const Bytef* bytes;
    unsigned long size;
    uLong crc;
};

unsigned __stdcall ChecksumOfPart(void* argument) {
    ChecksumPart* part = (ChecksumPart*)argument;
    part->crc = crc32(0L, part->bytes, (uInt)part->size);
    return 0;
}

// The two halves at once: the check stands before the staging, when the second core has nothing to do.
uLong ChecksumOf(const void* bytes, unsigned long size) {
    unsigned long half = size / 2;
    ChecksumPart second = {(const Bytef*)bytes + half, size - half, 0};
    HANDLE thread =
        (HANDLE)_beginthreadex(NULL, 65536, ChecksumOfPart, &second, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    if (thread == NULL)
        return crc32(0L, (const Bytef*)bytes, (uInt)size);
    uLong first = crc32(0L, (const Bytef*)bytes, (uInt)half);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return crc32_combine(first, second.crc, (z_off_t)second.size);
}

} // namespace

int PayloadMatchesRecord(const void* bytes, unsigned long size, const void* record,
                         unsigned long recordSize) {
    if (bytes == NULL || record == NULL || recordSize != kPayloadRecordBytes)
        return 0;
    const unsigned char* r = (const unsigned char*)record;
    unsigned long recordedSize = r[0] | (r[1] << 8) | (r[2] << 16) | ((unsigned long)r[3] << 24);
    unsigned long recordedCrc = r[4] | (r[5] << 8) | (r[6] << 16) | ((unsigned long)r[7] << 24);
    return size == recordedSize && ChecksumOf(bytes, size) == recordedCrc;
}
