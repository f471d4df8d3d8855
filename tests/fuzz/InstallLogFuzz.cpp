// The log text encoding: any message, any buffer size. The bytes are the message's encoding cut at a
// whole character, terminated inside the buffer; a whole entry appended to the log (with a short date
// of any length) reads back as date, time, message and hyphen line.
#include "FuzzSupport.h"
#include "WinShim.h"

#include "install/InstallLog.h"

namespace {

const wchar_t kLogName[] = L"Glimmerly_Install.log";
const char kHyphenLine[] = "------------------------------------------------\r\n";

// The encoding of one character (a surrogate pair counts as one), written from the log's description:
// CR LF for a line end, a byte up to U+00FF, else "[U+XXXX]".
std::string EncodeOne(const wchar_t*& p) {
    unsigned code = *p++;
    if (code == L'\n')
        return "\r\n";
    if (code <= 0xFF)
        return std::string(1, (char)code);
    if (code >= 0xD800 && code <= 0xDBFF && *p >= 0xDC00 && *p <= 0xDFFF)
        code = 0x10000 + ((code - 0xD800) << 10) + (*p++ - 0xDC00);
    char text[16];
    snprintf(text, sizeof text, "[U+%04X]", code);
    return text;
}

// The encoding of message in at most capacity - 1 bytes, cut before the first character that does not fit.
std::string Encode(const wchar_t* message, size_t capacity) {
    std::string bytes;
    for (const wchar_t* p = message; *p != L'\0';) {
        std::string one = EncodeOne(p);
        if (bytes.size() + one.size() >= capacity)
            break;
        bytes += one;
    }
    return bytes;
}

std::string ReadLog() {
    std::string bytes;
    ShimReadFile(kLogName, &bytes);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ShimReset();
    FuzzedDataProvider in(data, size);
    unsigned capacity = in.ConsumeIntegralInRange<unsigned>(0, 300);
    bool appendEntry = in.ConsumeIntegralInRange(0, 7) == 0;
    Text date = NewText(in.ConsumeRandomLengthString(600));
    Text message = NewText(in.ConsumeRemainingBytesAsString());

    char* out = (char*)malloc(capacity);
    unsigned used = EncodeLogText(message.get(), out, capacity);
    std::string expected = Encode(message.get(), capacity);
    FUZZ_CHECK(used == expected.size());
    if (capacity > 0)
        FUZZ_CHECK(memcmp(out, expected.c_str(), used + 1) == 0);
    free(out);

    if (!appendEntry)
        return 0;
    ShimSetDate(date.get());
    AppendInstallLog(message.get());
    // A date the caller's buffer cannot hold is left out; the head has room for the longest that fits.
    std::string head = Length(date.get()) < 255 ? Encode(date.get(), 8192) : "";
    std::string entry = head + " - 13:05:09: " + Encode(message.get(), 8192) + "\r\n" + kHyphenLine;
    FUZZ_CHECK(ReadLog() == entry);
    return 0;
}
