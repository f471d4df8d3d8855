#include "install/ArchiveFile.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct ArchiveFile {
    HANDLE handle;
    const unsigned char* memory;
    ZPOS64_T size;
    ZPOS64_T handlePosition;
    ZPOS64_T position;
    ZPOS64_T bufferStart;
    DWORD bufferLength;
    int error;
    unsigned char buffer[kArchiveReadBytes];
};

// Reads at offset; 0 bytes at or past the end of the file. The handle's position is moved only when
// the reads are not sequential (a read at an offset through OVERLAPPED costs Wine a server call).
DWORD ReadAt(ArchiveFile* file, ZPOS64_T offset, void* into, DWORD count) {
    if (offset >= file->size)
        return 0;
    if (file->memory != NULL) {
        if (count > file->size - offset)
            count = (DWORD)(file->size - offset);
        memcpy(into, file->memory + offset, count);
        return count;
    }
    if (offset != file->handlePosition) {
        LARGE_INTEGER to;
        to.QuadPart = (LONGLONG)offset;
        if (!SetFilePointerEx(file->handle, to, NULL, FILE_BEGIN)) {
            file->error = 1;
            return 0;
        }
        file->handlePosition = offset;
    }
    DWORD got = 0;
    if (!ReadFile(file->handle, into, count, &got, NULL))
        file->error = 1;
    file->handlePosition += got;
    return got;
}

ArchiveFile* NewArchiveFile(HANDLE handle, const void* memory, ZPOS64_T size) {
    ArchiveFile* file = (ArchiveFile*)malloc(sizeof(ArchiveFile));
    if (file == NULL)
        return NULL;
    file->handle = handle;
    file->memory = (const unsigned char*)memory;
    file->size = size;
    file->handlePosition = file->position = file->bufferStart = 0;
    file->bufferLength = 0;
    file->error = 0;
    return file;
}

voidpf OpenArchive(voidpf, const void* name, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
        return NULL;
    HANDLE handle = CreateFileW((const wchar_t*)name, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return NULL;
    LARGE_INTEGER size;
    ArchiveFile* file =
        GetFileSizeEx(handle, &size) ? NewArchiveFile(handle, NULL, (ZPOS64_T)size.QuadPart) : NULL;
    if (file == NULL)
        CloseHandle(handle);
    return file;
}

voidpf OpenMemoryArchive(voidpf, const void* name, int mode) {
    const MemoryArchive* archive = (const MemoryArchive*)name;
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ || archive->bytes == NULL)
        return NULL;
    return NewArchiveFile(NULL, archive->bytes, archive->size);
}

uLong ReadArchive(voidpf, voidpf stream, void* into, uLong count) {
    ArchiveFile* file = (ArchiveFile*)stream;
    unsigned char* out = (unsigned char*)into;
    uLong done = 0;
    while (done < count) {
        if (file->position >= file->bufferStart && file->position < file->bufferStart + file->bufferLength) {
            DWORD offset = (DWORD)(file->position - file->bufferStart);
            uLong part = file->bufferLength - offset;
            if (part > count - done)
                part = count - done;
            memcpy(out + done, file->buffer + offset, part);
            file->position += part;
            done += part;
            continue;
        }
        DWORD got;
        if (count - done >= kArchiveReadBytes) {
            // Large reads of member data bypass the buffer.
            got = ReadAt(file, file->position, out + done, count - done);
            file->position += got;
            done += got;
        } else {
            got = ReadAt(file, file->position, file->buffer, kArchiveReadBytes);
            file->bufferStart = file->position;
            file->bufferLength = got;
        }
        if (got == 0)
            break;
    }
    return done;
}

uLong WriteArchive(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T TellArchive(voidpf, voidpf stream) {
    return ((ArchiveFile*)stream)->position;
}

long SeekArchive(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    ArchiveFile* file = (ArchiveFile*)stream;
    ZPOS64_T base = origin == ZLIB_FILEFUNC_SEEK_SET   ? 0
                    : origin == ZLIB_FILEFUNC_SEEK_CUR ? file->position
                    : origin == ZLIB_FILEFUNC_SEEK_END ? file->size
                                                       : ~(ZPOS64_T)0;
    if (base == ~(ZPOS64_T)0)
        return -1;
    file->position = base + offset;
    return 0;
}

int CloseArchive(voidpf, voidpf stream) {
    ArchiveFile* file = (ArchiveFile*)stream;
    int closed = file->handle == NULL || CloseHandle(file->handle) ? 0 : -1;
    free(file);
    return closed;
}

int ArchiveError(voidpf, voidpf stream) {
    return ((ArchiveFile*)stream)->error;
}

} // namespace

void FillArchiveFileFunctions(zlib_filefunc64_def* functions) {
    functions->zopen64_file = OpenArchive;
    functions->zread_file = ReadArchive;
    functions->zwrite_file = WriteArchive;
    functions->ztell64_file = TellArchive;
    functions->zseek64_file = SeekArchive;
    functions->zclose_file = CloseArchive;
    functions->zerror_file = ArchiveError;
    functions->opaque = NULL;
}

void FillMemoryArchiveFunctions(zlib_filefunc64_def* functions) {
    FillArchiveFileFunctions(functions);
    functions->zopen64_file = OpenMemoryArchive;
}

const void* OwnResource(int id, const wchar_t* type, unsigned long* size) {
    HRSRC found = FindResourceW(NULL, MAKEINTRESOURCEW(id), type);
    HGLOBAL loaded = found != NULL ? LoadResource(NULL, found) : NULL;
    const void* bytes = loaded != NULL ? LockResource(loaded) : NULL;
    *size = found != NULL ? SizeofResource(NULL, found) : 0;
    return *size > 0 ? bytes : NULL;
}
