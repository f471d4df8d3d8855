#include "install/InstallLog.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string Encode(const wchar_t* text, unsigned capacity = 256) {
    char out[1024];
    unsigned count = EncodeLogText(text, out, capacity);
    return std::string(out, count);
}

TEST(InstallLogText, LatinOneCharactersAreSingleBytes) {
    EXPECT_EQ(Encode(L"Ungültiges Zielverzeichnis!: "), "Ung\xFCltiges Zielverzeichnis!: ");
    EXPECT_EQ(Encode(L"\u00DC\u00E4\u00F6\u00DF\u00FF"), "\xDC\xE4\xF6\xDF\xFF");
}

TEST(InstallLogText, LineBreaksBecomeCrLf) {
    EXPECT_EQ(Encode(L"a\nb\n\nc"), "a\r\nb\r\n\r\nc");
}

TEST(InstallLogText, OtherCharactersAreWrittenAsCodePoints) {
    EXPECT_EQ(Encode(L"C:\\\u0416\u20AC"), "C:\\[U+0416][U+20AC]");
    // A surrogate pair is one character; an unpaired surrogate is written as it stands.
    EXPECT_EQ(Encode(L"\xD83D\xDCF7 x"), "[U+1F4F7] x");
    EXPECT_EQ(Encode(L"\xD83D."), "[U+D83D].");
}

TEST(InstallLogText, CutAtAWholeCharacterWhenFull) {
    EXPECT_EQ(Encode(L"abc\u0416", 8), "abc");
    EXPECT_EQ(Encode(L"abcdef", 4), "abc");
}

} // namespace
