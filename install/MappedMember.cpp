#include "install/MappedMember.h"

#include <string.h>

namespace {

// zlib takes at most this much input at a time.
const ZPOS64_T kInflateInputBytes = 1u << 30;

} // namespace

int OpenMappedMember(MappedMember* member, unzFile archive, const MemoryArchive* mapped,
                     const unz_file_info64& info) {
    const int kEncrypted = 1;
    if ((info.flag & kEncrypted) != 0 ||
        (info.compression_method != 0 && info.compression_method != Z_DEFLATED))
        return 0;
    memset(member, 0, sizeof *member);
    if (unzOpenCurrentFile2(archive, NULL, NULL, 1) != UNZ_OK)
        return -1;
    ZPOS64_T at = unzGetCurrentFileZStreamPos64(archive);
    if (at == 0 || at > mapped->size || info.compressed_size > mapped->size - at)
        return -1;
    member->next = (const Bytef*)mapped->bytes + at;
    member->left = info.compressed_size;
    member->expected = info.uncompressed_size;
    member->method = (int)info.compression_method;
    if (member->method == 0)
        return info.compressed_size == info.uncompressed_size ? 1 : -1;
    member->status = inflateInit2(&member->stream, -MAX_WBITS);
    if (member->status != Z_OK) {
        member->method = 0;
        return -1;
    }
    return 1;
}

int ReadMappedMember(MappedMember* member, void* into, unsigned size) {
    unsigned got = 0;
    if (member->method == 0) {
        got = member->left < size ? (unsigned)member->left : size;
        memcpy(into, member->next, got);
        member->next += got;
        member->left -= got;
    } else {
        z_stream& stream = member->stream;
        stream.next_out = (Bytef*)into;
        stream.avail_out = size;
        while (stream.avail_out > 0 && member->status == Z_OK) {
            if (stream.avail_in == 0 && member->left > 0) {
                uInt chunk = (uInt)(member->left < kInflateInputBytes ? member->left : kInflateInputBytes);
                stream.next_in = const_cast<Bytef*>(member->next);
                stream.avail_in = chunk;
                member->next += chunk;
                member->left -= chunk;
            }
            // Z_BUF_ERROR once the data ended before the stream did.
            member->status = inflate(&stream, Z_NO_FLUSH);
        }
        got = size - stream.avail_out;
        if (member->status != Z_OK && member->status != Z_STREAM_END)
            return -1;
    }
    member->produced += got;
    return member->produced <= member->expected ? (int)got : -1;
}

int CloseMappedMember(MappedMember* member) {
    if (member->method == 0)
        return member->left == 0 ? 0 : -1;
    inflateEnd(&member->stream);
    return member->status == Z_STREAM_END ? 0 : -1;
}
