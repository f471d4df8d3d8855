#pragma once
#include <ioapi.h>

// Size of the read buffer of an open archive.
enum { kArchiveReadBytes = 65536 };

// File functions for minizip that open an archive by its UTF-16 name for reading only and serve the
// library's many small reads (header fields come a byte at a time) from one bounded buffer.
void FillArchiveFileFunctions(zlib_filefunc64_def* functions);

// An archive the program already holds in memory, handed to minizip's open in place of a file name.
struct MemoryArchive {
    const void* bytes;
    ZPOS64_T size;
};

// File functions for minizip that read a MemoryArchive: no file is written or opened by name.
void FillMemoryArchiveFunctions(zlib_filefunc64_def* functions);

// The bytes of resource (id, type) of the program's own module; NULL when it is missing or empty.
const void* OwnResource(int id, const wchar_t* type, unsigned long* size);
