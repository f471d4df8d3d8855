// The archive member-name check: one member of any name (bytes in the ANSI code page) in an archive that
// is otherwise sound, read through the check the extraction runs first. A name that passes stays below
// the folder it is extracted into, by a walk of its own over the name's components; a name that fits the
// buffers passes exactly when the name check alone lets it through.
#include "FuzzSupport.h"
#include "WinShim.h"

#include "install/PayloadExtraction.h"

#include <windows.h>

namespace {

struct Archive {
    std::string bytes;
    size_t position;
};

voidpf OpenArchive(voidpf opaque, const void*, int) {
    ((Archive*)opaque)->position = 0;
    return opaque;
}

uLong ReadArchive(voidpf, voidpf stream, void* buffer, uLong size) {
    Archive* archive = (Archive*)stream;
    size_t count = archive->position < archive->bytes.size() ? archive->bytes.size() - archive->position : 0;
    if (count > size)
        count = size;
    memcpy(buffer, archive->bytes.data() + archive->position, count);
    archive->position += count;
    return (uLong)count;
}

uLong WriteArchive(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T TellArchive(voidpf, voidpf stream) {
    return ((Archive*)stream)->position;
}

long SeekArchive(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    Archive* archive = (Archive*)stream;
    ZPOS64_T base = origin == ZLIB_FILEFUNC_SEEK_SET   ? 0
                    : origin == ZLIB_FILEFUNC_SEEK_CUR ? archive->position
                                                       : archive->bytes.size();
    if (base + offset > archive->bytes.size())
        return -1;
    archive->position = (size_t)(base + offset);
    return 0;
}

int CloseArchive(voidpf, voidpf) {
    return 0;
}

int ArchiveError(voidpf, voidpf) {
    return 0;
}

void Put(std::string* bytes, unsigned value, int count) {
    for (int i = 0; i < count; ++i)
        bytes->push_back(i < 4 ? (char)(value >> (8 * i)) : 0);
}

// One empty stored member named name, dated 1 January 1980.
std::string ArchiveWithMember(const std::string& name) {
    std::string local = "PK\x03\x04", central = "PK\x01\x02", end = "PK\x05\x06";
    Put(&local, 20, 2);
    Put(&local, 0, 6);    // flags, method, time
    Put(&local, 0x21, 2); // date
    Put(&local, 0, 12);   // CRC-32, sizes
    Put(&local, (unsigned)name.size(), 2);
    Put(&local, 0, 2);
    local += name;
    Put(&central, 20, 2);
    Put(&central, 20, 2);
    Put(&central, 0, 6);
    Put(&central, 0x21, 2);
    Put(&central, 0, 12);
    Put(&central, (unsigned)name.size(), 2);
    Put(&central, 0, 16); // extra, comment, disk, attributes, local header at 0
    central += name;
    Put(&end, 0, 4);
    Put(&end, 1, 2);
    Put(&end, 1, 2);
    Put(&end, (unsigned)central.size(), 4);
    Put(&end, (unsigned)local.size(), 4);
    Put(&end, 0, 2);
    return local + central + end;
}

// Whether writing name below a folder would leave it: an absolute name, a drive or stream colon, or a walk
// over the components that goes above the start. A component of dots and blanks only, with two dots or
// more, is taken as the parent, since Windows drops trailing dots and blanks.
bool Escapes(const wchar_t* name) {
    if (name[0] == L'/' || name[0] == L'\\')
        return true;
    int depth = 0;
    const wchar_t* start = name;
    for (const wchar_t* p = name;; ++p) {
        if (*p == L':')
            return true;
        if (*p != L'\0' && *p != L'/' && *p != L'\\')
            continue;
        int dots = 0;
        bool other = false;
        for (const wchar_t* c = start; c < p; ++c) {
            dots += *c == L'.';
            other = other || (*c != L'.' && *c != L' ');
        }
        if (!other && dots >= 2 && --depth < 0)
            return true;
        if (other)
            ++depth;
        if (*p == L'\0')
            return false;
        start = p + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ShimReset();
    FuzzedDataProvider in(data, size);
    ShimSetCodePage(in.ConsumeBool() ? kDoubleByteCodePage : kWesternCodePage);
    std::string name = in.ConsumeRemainingBytesAsString();
    if (name.size() > 0xFFFF)
        return 0;

    // The name as the check sees it: up to its first zero byte, in the ANSI code page.
    std::string narrow = name.substr(0, strnlen(name.c_str(), name.size()));
    int chars = MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, NULL, 0);
    Text wide((wchar_t*)malloc(chars * sizeof(wchar_t)));
    MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, wide.get(), chars);
    int safe = IsSafeMemberName(wide.get());
    if (safe)
        FUZZ_CHECK(!Escapes(wide.get()));

    Archive archive = {ArchiveWithMember(name), 0};
    zlib_filefunc64_def functions = {OpenArchive, ReadArchive,  WriteArchive, TellArchive,
                                     SeekArchive, CloseArchive, ArchiveError, &archive};
    unzFile file = unzOpen2_64("payload.zip", &functions);
    FUZZ_CHECK(file != NULL);
    bool fits = name.size() < kMemberNameBytes && chars <= kWideMemberChars;
    FUZZ_CHECK((CheckAllMembers(file) == 0) == (fits && safe));
    unzClose(file);
    return 0;
}
