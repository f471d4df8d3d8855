#include "install/PathHelpers.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string>

namespace {

std::wstring Apply(void (*operation)(wchar_t*), const std::wstring& text) {
    wchar_t buffer[kPathChars * 2] = L"";
    wcscpy(buffer, text.c_str());
    operation(buffer);
    return buffer;
}

std::wstring CurrentDirectory() {
    wchar_t buffer[kPathChars];
    GetCurrentDirectoryW(kPathChars, buffer);
    return buffer;
}

// A scratch folder below the temporary folder, removed with its contents afterwards.
class ScratchFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[kPathChars];
        GetTempPathW(kPathChars, temp);
        root = std::wstring(temp) + L"glimmerly-paths-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(root.c_str(), NULL);
    }
    void TearDown() override {
        std::wstring command = L"cmd /c rmdir /s /q \"" + root + L"\"";
        _wsystem(command.c_str());
    }
    bool IsFolder(const std::wstring& path) {
        DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    std::wstring root;
};

TEST(AppendBackslash, AddsOneOnlyWithinTheBounds) {
    EXPECT_EQ(Apply(AppendBackslash, L"C:\\Foo"), L"C:\\Foo\\");
    EXPECT_EQ(Apply(AppendBackslash, L"C:\\Foo\\"), L"C:\\Foo\\");
    EXPECT_EQ(Apply(AppendBackslash, L""), L"");
    EXPECT_EQ(Apply(AppendBackslash, L"C:/Foo/"), L"C:/Foo/\\");
    std::wstring text258(258, L'a'), text259(259, L'a');
    EXPECT_EQ(Apply(AppendBackslash, text258), text258 + L"\\");
    EXPECT_EQ(Apply(AppendBackslash, text259), text259);
}

TEST(TrimBlanks, RemovesBlanksOnlyAtBothEnds) {
    EXPECT_EQ(Apply(TrimBlanks, L"  C:\\A B  "), L"C:\\A B");
    EXPECT_EQ(Apply(TrimBlanks, L"    "), L"");
    EXPECT_EQ(Apply(TrimBlanks, L"\tC:\\A\t"), L"\tC:\\A\t");
    // Leading blanks of a text of 260 or more characters stay.
    std::wstring longText = L" " + std::wstring(260, L'a');
    EXPECT_EQ(Apply(TrimBlanks, longText + L"  "), longText);
}

TEST(StripQuotes, RemovesOneQuoteAtEachEnd) {
    struct Case {
        const wchar_t* in;
        int trimAgain;
        const wchar_t* out;
    } cases[] = {
        {L"\"C:\\Program Files\\G\" ", 1, L"C:\\Program Files\\G"},
        {L"\"C:\\G", 1, L"C:\\G"},
        {L"\"\"C:\\G\"\"", 1, L"\"C:\\G\""},
        {L"  C:\\G  ", 1, L"  C:\\G"},
        {L"\"C:\\G \"", 0, L"C:\\G "},
        {L"\"C:\\G \"", 1, L"C:\\G"},
        {L"", 1, L""},
    };
    for (const Case& c : cases) {
        wchar_t buffer[kPathChars];
        wcscpy(buffer, c.in);
        StripQuotes(buffer, c.trimAgain);
        EXPECT_STREQ(buffer, c.out) << c.in;
    }
}

TEST(CopySwitchValue, StopsAtSlashEndOrBound) {
    wchar_t value[kPathChars];
    const wchar_t* text = L"/folder=C:\\Tools /desktop=1";
    EXPECT_EQ(CopySwitchValue(text, value, 8, kPathChars), 17u);
    EXPECT_STREQ(value, L"C:\\Tools ");

    EXPECT_EQ(CopySwitchValue(L"/ini=", value, 5, kPathChars), 5u);
    EXPECT_STREQ(value, L"");

    std::wstring longValue = L"/ini=" + std::wstring(400, L'x');
    EXPECT_EQ(CopySwitchValue(longValue.c_str(), value, 5, kPathChars), 260u);
    EXPECT_EQ(wcslen(value), 255u);
}

TEST(GetPathPart, JoinsTheChosenParts) {
    wchar_t part[kPathChars];
    GetPathPart(L"C:\\Data\\gl_main32.ini", part, kPathDrive | kPathFolder);
    EXPECT_STREQ(part, L"C:\\Data\\");
    GetPathPart(L"C:\\Data\\gl_main32.ini", part, kPathName | kPathExtension);
    EXPECT_STREQ(part, L"gl_main32.ini");
    GetPathPart(L"C:\\Data\\gl_main32.ini", part, kPathExtension);
    EXPECT_STREQ(part, L".ini");
    GetPathPart(L"C:gl_main32.ini", part, kPathDrive | kPathFolder);
    EXPECT_STREQ(part, L"C:\\");
    GetPathPart(L"", part, kPathDrive | kPathFolder);
    EXPECT_STREQ(part, L"");
}

TEST_F(ScratchFolder, CreatesTheChainAndRewritesBlanksBeforeSeparators) {
    std::wstring before = CurrentDirectory();
    wchar_t path[kPathChars * 2];
    std::wstring given = L" " + root + L"\\Programme\\Neu \\Sub ";
    wcscpy(path, given.c_str());
    EXPECT_EQ(CreateDirectoryChain(path), 1);
    EXPECT_EQ(std::wstring(path), root + L"\\Programme\\Neu\\Sub\\");
    EXPECT_TRUE(IsFolder(root + L"\\Programme\\Neu\\Sub"));
    EXPECT_FALSE(IsFolder(root + L"\\Programme\\Neu \\Sub"));
    EXPECT_EQ(CurrentDirectory(), before);
}

TEST_F(ScratchFolder, ExistingFolderYieldsOneUnchanged) {
    wchar_t path[kPathChars * 2];
    wcscpy(path, root.c_str());
    EXPECT_EQ(CreateDirectoryChain(path), 1);
    EXPECT_EQ(std::wstring(path), root + L"\\");
}

TEST(CreateDirectoryChain, RejectsEmptyBlankAndMissingDrive) {
    std::wstring before = CurrentDirectory();
    wchar_t path[kPathChars * 2];
    wcscpy(path, L"");
    EXPECT_EQ(CreateDirectoryChain(path), 0);
    wcscpy(path, L"   ");
    EXPECT_EQ(CreateDirectoryChain(path), 0);
    wcscpy(path, L"Q:\\Nowhere\\Glimmerly");
    EXPECT_EQ(CreateDirectoryChain(path), 0);
    EXPECT_EQ(CurrentDirectory(), before);
}

TEST_F(ScratchFolder, NetworkPathKeepsItsTwoBackslashes) {
    // \\?\ style names are not needed here: a UNC path to an unknown server cannot be created,
    // and the rewritten argument keeps the leading pair of backslashes.
    wchar_t path[kPathChars * 2];
    wcscpy(path, L"\\\\noserver\\noshare\\Glimmerly ");
    EXPECT_EQ(CreateDirectoryChain(path), 0);
    EXPECT_STREQ(path, L"\\\\noserver\\noshare\\Glimmerly\\");
}

TEST_F(ScratchFolder, LongPathsStayWithinTheBuffer) {
    // A path longer than the buffer's 259 characters is cut, never written past the buffer.
    std::wstring deep = root;
    while (deep.size() < 300)
        deep += L"\\abcdefghij";
    wchar_t path[kPathChars * 2];
    wmemset(path, L'#', kPathChars * 2);
    wcscpy(path, deep.c_str());
    CreateDirectoryChain(path);
    EXPECT_LE(wcslen(path), (size_t)kPathChars - 1);
}

TEST_F(ScratchFolder, NormaliseFolderGivesOneAbsoluteText) {
    std::wstring before = CurrentDirectory();
    ASSERT_TRUE(SetCurrentDirectoryW(root.c_str()));
    wchar_t temp[kPathChars];
    GetTempPathW(kPathChars, temp);
    std::wstring tooLong = L"C:\\" + std::wstring(300, L'g');
    const struct {
        std::wstring text;
        int result;
        std::wstring folder;
    } cases[] = {
        {L"Glimmerly", 1, root + L"\\Glimmerly\\"},
        {L" .\\Bilder \\Glimmerly ", 1, root + L"\\Bilder\\Glimmerly\\"},
        {L"..\\Glimmerly", 1, std::wstring(temp) + L"Glimmerly\\"},
        {L"  C:\\a \\Glimmerly  ", 1, L"C:\\a\\Glimmerly\\"},
        {L"C:\\Tools  \\Glimmerly\\", 1, L"C:\\Tools\\Glimmerly\\"},
        {L"C:\\Tools  /Glimmerly /Bilder", 1, L"C:\\Tools\\Glimmerly\\Bilder\\"},
        {L"C:\\Tools  .\\Glimmerly", 1, L"C:\\Tools\\Glimmerly\\"},
        {L"C:", 1, L"C:\\"},
        {L"\\\\server\\share \\Glimmerly", 1, L"\\\\server\\share\\Glimmerly\\"},
        {L"   ", 0, L""},
        {L" " + tooLong + L" ", 0, tooLong + L"\\"},
    };
    for (const auto& c : cases) {
        wchar_t folder[kPathChars * 2];
        wcscpy(folder, c.text.c_str());
        EXPECT_EQ(NormaliseFolder(folder, kPathChars * 2), c.result) << c.text;
        EXPECT_EQ(std::wstring(folder), c.folder) << c.text;
    }
    SetCurrentDirectoryW(before.c_str());
}

TEST(BoundedText, CopyAndAppendNeverOverrun) {
    wchar_t buffer[8];
    wmemset(buffer, L'#', 8);
    EXPECT_EQ(CopyText(buffer, 6, L"abcdefgh"), 0);
    EXPECT_STREQ(buffer, L"abcde");
    EXPECT_EQ(buffer[6], L'#');
    EXPECT_EQ(CopyText(buffer, 6, L"ab"), 1);
    EXPECT_EQ(AppendText(buffer, 6, L"cd"), 1);
    EXPECT_STREQ(buffer, L"abcd");
    EXPECT_EQ(AppendText(buffer, 6, L"ef"), 0);
    EXPECT_STREQ(buffer, L"abcde");
}

} // namespace
