#pragma once
#include "install/ArchiveFile.h"

#include <unzip.h>
#include <zlib.h>

// Reads a member's data straight from an archive held in memory, for the payload once it matched its
// record: stored data is copied, deflated data inflated from where it lies. minizip would first copy it
// into a buffer of its own and take each member's CRC-32 again, which the checked record stands for.
struct MappedMember {
    z_stream stream;
    const Bytef* next; // data not yet handed to the inflater (or copied)
    ZPOS64_T left;     // bytes of it
    ZPOS64_T expected; // the member's size by the central directory
    ZPOS64_T produced;
    int method;
    int status;
};

// Opens the archive's current member (its local header checked by minizip) for reading from mapped.
// 1 when opened; 0 when it is not a plain stored or deflated member, so minizip has to read it (nothing
// was opened); -1 when it cannot be read, its data reaching past the archive's end among others.
int OpenMappedMember(MappedMember* member, unzFile archive, const MemoryArchive* mapped,
                     const unz_file_info64& info);

// As unzReadCurrentFile: the bytes read into into, 0 at the member's end, -1 on damaged data or more
// data than the central directory says.
int ReadMappedMember(MappedMember* member, void* into, unsigned size);

// 0 when the member was read to the end of its data (the caller counts its size); the caller closes the
// member in minizip after.
int CloseMappedMember(MappedMember* member);
