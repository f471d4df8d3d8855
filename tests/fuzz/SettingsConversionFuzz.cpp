// The settings conversion: a settings file of any bytes in any folder, in a single-byte or a double-byte
// code page. Afterwards the file is either as it was (empty, already UTF-16, or a conversion file that
// could not be named) or the byte-order mark, the header and the whole text converted at once: reading in
// pieces loses and splits no character. No conversion file is left behind.
#include "FuzzSupport.h"
#include "WinShim.h"

#include "install/PathHelpers.h"
#include "install/SettingsFile.h"

#include <windows.h>

namespace {

const wchar_t kSettingsName[] = L"\\gl_main32.ini";
const char16_t kHeader[] = u"; UNICODE FILE - edit with care ;-)\r\n\r\n";

void AppendUtf16(std::string* bytes, const char16_t* text, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        bytes->push_back((char)(text[i] & 0xFF));
        bytes->push_back((char)(text[i] >> 8));
    }
}

std::string Converted(const std::string& original) {
    std::string bytes = "\xFF\xFE";
    AppendUtf16(&bytes, kHeader, sizeof kHeader / sizeof kHeader[0] - 1);
    int chars = MultiByteToWideChar(CP_ACP, 0, original.data(), (int)original.size(), NULL, 0);
    std::unique_ptr<wchar_t[]> wide(new wchar_t[chars]);
    MultiByteToWideChar(CP_ACP, 0, original.data(), (int)original.size(), wide.get(), chars);
    for (int i = 0; i < chars; ++i)
        AppendUtf16(&bytes, (const char16_t*)&wide[i], 1);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ShimReset();
    FuzzedDataProvider in(data, size);
    ShimSetCodePage(in.ConsumeBool() ? kDoubleByteCodePage : kWesternCodePage);
    Text folder = NewText(in.ConsumeRandomLengthString(700));
    std::string original = in.ConsumeRemainingBytesAsString();

    size_t folderLength = Length(folder.get());
    Text path((wchar_t*)malloc((folderLength + sizeof kSettingsName / sizeof(wchar_t)) * sizeof(wchar_t)));
    memcpy(path.get(), folder.get(), folderLength * sizeof(wchar_t));
    memcpy(path.get() + folderLength, kSettingsName, sizeof kSettingsName);
    if (!ShimWriteFile(path.get(), original))
        return 0;

    FUZZ_CHECK(ConvertSettingsToUnicode(path.get()) == 1);
    std::string now;
    FUZZ_CHECK(ShimReadFile(path.get(), &now) && ShimFileCount() == 1);
    bool unicode = original.size() >= 2 && original[0] == '\xFF' && original[1] == '\xFE';
    // The conversion file's name is five characters longer than the settings file's.
    bool nameless = Length(path.get()) + 5 >= kPathChars;
    if (original.empty() || unicode || nameless)
        FUZZ_CHECK(now == original);
    else
        FUZZ_CHECK(now == Converted(original));
    return 0;
}
