// The archive member-name check: one member of any name (bytes in the ANSI code page) in an archive that
// is otherwise sound, opened through the extraction's file functions and read through the check the
// extraction runs first. A name that passes stays below
// the folder it is extracted into, by a walk of its own over the name's components; a name that fits the
// buffers passes exactly when the name check alone lets it through.
#include "FuzzSupport.h"
#include "WinShim.h"

#include "install/ArchiveFile.h"
#include "install/PayloadExtraction.h"

#include <windows.h>

namespace {

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
    // Bytes in front of the archive (as in a self-extracting one) move its directory across read buffers.
    std::string prefix(in.ConsumeBool() ? in.ConsumeIntegralInRange<size_t>(0, 2 * kArchiveReadBytes) : 0,
                       '\0');
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

    FUZZ_CHECK(ShimWriteFile(L"C:\\Temp\\payload.zip", prefix + ArchiveWithMember(name)));
    zlib_filefunc64_def functions;
    FillArchiveFileFunctions(&functions);
    unzFile file = unzOpen2_64(L"C:\\Temp\\payload.zip", &functions);
    FUZZ_CHECK(file != NULL);
    bool fits = name.size() < kMemberNameBytes && chars <= kWideMemberChars;
    FUZZ_CHECK((CheckMemberNames(file, 0, NULL) == 0) == (fits && safe));
    unzClose(file);
    return 0;
}
