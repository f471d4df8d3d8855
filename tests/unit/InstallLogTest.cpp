#include "install/InstallLog.h"
#include "install/StepLog.h"

#include "TestFiles.h"

#include <gtest/gtest.h>
#include <process.h>
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

std::string StepLine(const wchar_t* text, unsigned capacity = 256) {
    SYSTEMTIME time = {2026, 12, 3, 9, 7, 5, 3, 42};
    char out[1024];
    return std::string(out, FormatStepLine(time, text, out, capacity));
}

TEST(StepLogLine, TimeStampThenTheTextInUtf8) {
    EXPECT_EQ(StepLine(L"file written: Plugins\\Icons.dll"),
              "2026-12-09 07:05:03.042 file written: Plugins\\Icons.dll\r\n");
    EXPECT_EQ(StepLine(L"C:\\B\u00fcro \u0416 \xD83D\xDCF7"),
              "2026-12-09 07:05:03.042 C:\\B\xC3\xBCro \xD0\x96 \xF0\x9F\x93\xB7\r\n");
    EXPECT_EQ(StepLine(L""), "2026-12-09 07:05:03.042 \r\n");
    EXPECT_EQ(StepLine(L"told: Fehler!\n\nBitte\r\n"), "2026-12-09 07:05:03.042 told: Fehler!  Bitte  \r\n");
}

TEST(StepLogLine, CutAtAWholeCharacterWhenFull) {
    // 24 bytes of time stamp, then room for the text and the line end.
    EXPECT_EQ(StepLine(L"abc\u0416", 24 + 2 + 4), "2026-12-09 07:05:03.042 abc\r\n");
    EXPECT_EQ(StepLine(L"a\xD83D\xDCF7", 24 + 2 + 4), "2026-12-09 07:05:03.042 a\r\n");
    EXPECT_EQ(StepLine(L"a\xD83D\xDCF7", 24 + 2 + 5), "2026-12-09 07:05:03.042 a\xF0\x9F\x93\xB7\r\n");
}

// Enough lines to fill the buffer many times over while the other thread writes.
const int kThreadLines = 20000;

unsigned __stdcall LogFromThread(void* argument) {
    for (int i = 0; i < kThreadLines; ++i)
        LogStep(L"thread %d line %d: %ls", *(int*)argument, i, L"gl_\u00e4.txt");
    return 0;
}

TEST(StepLog, LinesOfTwoThreadsAreAppendedWhole) {
    const wchar_t* path = L"step-log-test.log";
    DeleteFileW(path);
    LogStep(L"before the log is open");
    WriteFileBytes(path, "earlier run\r\n");
    ASSERT_TRUE(OpenStepLog(path));
    LogStep(L"first");
    int numbers[2] = {1, 2};
    HANDLE threads[2];
    for (int k = 0; k < 2; ++k)
        threads[k] = (HANDLE)_beginthreadex(NULL, 0, LogFromThread, &numbers[k], 0, NULL);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE thread : threads)
        CloseHandle(thread);
    CloseStepLog();
    LogStep(L"after the log is closed");

    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(path, &bytes));
    ASSERT_EQ(bytes.compare(0, 13, "earlier run\r\n"), 0);
    int next[3] = {0, 0, 0}, lines = 0;
    for (size_t at = 13; at < bytes.size(); ++lines) {
        size_t end = bytes.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "a line without its end";
        std::string line = bytes.substr(at, end - at);
        at = end + 2;
        ASSERT_GE(line.size(), 24u) << line;
        std::string text = line.substr(24);
        if (lines == 0) {
            EXPECT_EQ(text, "first");
            continue;
        }
        int thread = 0, number = -1;
        char tail[32] = "";
        ASSERT_EQ(sscanf(text.c_str(), "thread %d line %d: %31s", &thread, &number, tail), 3) << line;
        ASSERT_TRUE(thread == 1 || thread == 2) << line;
        EXPECT_EQ(number, next[thread]++) << line;
        EXPECT_STREQ(tail, "gl_\xC3\xA4.txt") << line;
    }
    EXPECT_EQ(lines, 1 + 2 * kThreadLines);
    DeleteFileW(path);
}

} // namespace
