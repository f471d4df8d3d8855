#include "install/SettingsFile.h"

#include "install/InstallOptions.h"
#include "install/PathHelpers.h"
#include "install/SkippedFiles.h"

#include "TestFiles.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

const char kHeader[] = "; UNICODE FILE - edit with care ;-)\r\n\r\n";

Bytes ReadBytes(const std::wstring& path) {
    std::string data;
    ReadFileBytes(path, &data);
    return Bytes(data.begin(), data.end());
}

void WriteBytes(const std::wstring& path, const Bytes& bytes) {
    WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
}

Bytes Ansi(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Utf16(const std::wstring& text) {
    Bytes bytes;
    for (wchar_t c : text) {
        bytes.push_back((unsigned char)(c & 0xFF));
        bytes.push_back((unsigned char)(c >> 8));
    }
    return bytes;
}

// What a converted file must hold: the byte-order mark, the header, then the text as UTF-16LE.
Bytes UnicodeFile(const std::wstring& text) {
    Bytes bytes = {0xFF, 0xFE};
    for (const char* c = kHeader; *c; ++c) {
        bytes.push_back((unsigned char)*c);
        bytes.push_back(0);
    }
    Bytes body = Utf16(text);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring ReadSetting(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
    wchar_t value[kPathChars] = L"";
    GetPrivateProfileStringW(section, key, L"<missing>", value, kPathChars, file.c_str());
    return value;
}

// A scratch folder below the temporary folder, removed with its contents afterwards.
class SettingsFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[kPathChars];
        GetTempPathW(kPathChars, temp);
        root = std::wstring(temp) + L"glimmerly-settings-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
        CreateDirectoryW(root.c_str(), NULL);
    }
    void TearDown() override {
        std::wstring command = L"cmd /c rmdir /s /q \"" + root + L"\"";
        _wsystem(command.c_str());
    }
    std::wstring root;
};

// ---- skin choice ------------------------------------------------------------------------------

TEST(ScaleFromPixelsPerInch, DividesByNinetySixWithoutRounding) {
    const struct {
        int pixelsPerInch, scale;
    } rows[] = {{96, 100},  {120, 125}, {144, 150}, {168, 175}, {192, 200},
                {143, 148}, {163, 169}, {164, 170}, {0, 100}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pixelsPerInch);
        EXPECT_EQ(ScaleFromPixelsPerInch(row.pixelsPerInch), row.scale);
    }
}

TEST(ChooseToolbarSkin, TakesTheFirstRowWhoseConditionHolds) {
    const struct {
        int scale, height;
        const wchar_t *skin, *size;
    } rows[] = {
        {100, 1017, L"Moorland_24.png", L"24"},
        {150, 1017, L"gnome-colors-wise_32.png", L"32"},
        {175, 1017, L"gnome-colors-human_48.png", L"48"},
        {100, 700, L"Quill_16.png", L"16"},
        {100, 767, L"Quill_16.png", L"16"},
        {100, 768, L"Moorland_24.png", L"24"},
        {100, 1200, L"Moorland_24.png", L"24"},
        {100, 1201, L"gnome-colors-wise_32.png", L"32"},
        {100, 1599, L"gnome-colors-wise_32.png", L"32"},
        {100, 1600, L"gnome-colors-human_48.png", L"48"},
        {149, 1017, L"Moorland_24.png", L"24"},
        {169, 1017, L"gnome-colors-wise_32.png", L"32"},
        {170, 1017, L"gnome-colors-human_48.png", L"48"},
        // The scale rows come before the small-screen row.
        {150, 700, L"gnome-colors-wise_32.png", L"32"},
        {170, 700, L"gnome-colors-human_48.png", L"48"},
        {125, 700, L"Quill_16.png", L"16"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "scale " << row.scale << ", height " << row.height);
        ToolbarSkin choice = ChooseToolbarSkin(row.scale, row.height);
        EXPECT_STREQ(choice.skin, row.skin);
        EXPECT_STREQ(choice.size, row.size);
    }
}

// ---- settings-folder expansion ----------------------------------------------------------------

class ExpandSettingsFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetEnvironmentVariableW(L"GLTEST_DATA", L"C:\\Users\\Jo\\AppData\\Roaming");
        SetEnvironmentVariableW(L"GLTEST_EMPTY", L"");
        SetEnvironmentVariableW(L"GLTEST_259", std::wstring(259, L'v').c_str());
        SetEnvironmentVariableW(L"GLTEST_260", std::wstring(260, L'w').c_str());
    }
    void TearDown() override {
        for (const wchar_t* name : {L"GLTEST_DATA", L"GLTEST_EMPTY", L"GLTEST_259", L"GLTEST_260"})
            SetEnvironmentVariableW(name, NULL);
    }
    std::wstring Expand(const std::wstring& text, int expectedResult = 1) {
        wchar_t expanded[kExpandedFolderChars + 8];
        wmemset(expanded, L'#', kExpandedFolderChars + 8);
        EXPECT_EQ(ExpandSettingsFolder(text.c_str(), expanded, kExpandedFolderChars), expectedResult);
        for (int i = kExpandedFolderChars; i < kExpandedFolderChars + 8; ++i)
            EXPECT_EQ(expanded[i], L'#') << "written past the buffer at " << i;
        return expanded;
    }
};

TEST_F(ExpandSettingsFolderTest, ReplacesReferencesAndDropsUnsetOnes) {
    const struct {
        const wchar_t *text, *expanded;
    } rows[] = {
        {L"%GLTEST_DATA%\\Glimmerly", L"C:\\Users\\Jo\\AppData\\Roaming\\Glimmerly"},
        {L"D:\\Settings", L"D:\\Settings"},
        {L"%NOSUCHVAR%\\Settings", L"\\Settings"},
        {L"a%GLTEST_EMPTY%b", L"ab"},
        {L"%%\\x", L"\\x"},
        {L"%GLTEST_DATA%%GLTEST_DATA%", L"C:\\Users\\Jo\\AppData\\RoamingC:\\Users\\Jo\\AppData\\Roaming"},
        // An unterminated reference runs to the end of the text.
        {L"%GLTEST_DATA", L"C:\\Users\\Jo\\AppData\\Roaming"},
        {L"X:\\%GLTEST_DATA", L"X:\\C:\\Users\\Jo\\AppData\\Roaming"},
        {L"X:\\%NOSUCHVAR", L"X:\\"},
        {L"", L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Expand(row.text), row.expanded);
    }
}

TEST_F(ExpandSettingsFolderTest, HoldsAtMost519Characters) {
    std::wstring v259(259, L'v');
    EXPECT_EQ(Expand(L"%GLTEST_259%%GLTEST_259%"), v259 + v259);
    EXPECT_EQ(Expand(L"%GLTEST_259%x%GLTEST_259%"), v259 + L"x" + v259);
    // One more character would not fit: the expansion is refused rather than cut.
    EXPECT_EQ(Expand(L"%GLTEST_259%xy%GLTEST_259%", 0), L"");
    EXPECT_EQ(Expand(L"%GLTEST_259%%GLTEST_259%xy", 0), L"");
    // A value longer than the 260-character value buffer cannot be expanded either.
    EXPECT_EQ(Expand(L"%GLTEST_260%", 0), L"");
}

TEST_F(ExpandSettingsFolderTest, NeverWritesPastASmallerBuffer) {
    wchar_t expanded[12];
    wmemset(expanded, L'#', 12);
    EXPECT_EQ(ExpandSettingsFolder(L"%GLTEST_DATA%", expanded, 8), 0);
    EXPECT_EQ(expanded[0], L'\0');
    for (int i = 8; i < 12; ++i)
        EXPECT_EQ(expanded[i], L'#');
    EXPECT_EQ(ExpandSettingsFolder(L"1234567", expanded, 8), 1);
    EXPECT_STREQ(expanded, L"1234567");
}

// ---- initial settings -------------------------------------------------------------------------

DisplayReadings display = {96, 1017};
DisplayReadings InjectedDisplay() {
    return display;
}

class InitialSettings : public SettingsFolder {
  protected:
    void SetUp() override {
        SettingsFolder::SetUp();
        display = {96, 1017};
        SetDisplayReadingFunction(InjectedDisplay);
        ResetInstallOptions(options);
        program = root + L"prog\\";
        CreateDirectoryW(program.c_str(), NULL);
        CopyText(options.targetFolder, kOptionsFolderChars, program.c_str());
        programFile = program + L"gl_main32.ini";
        SetEnvironmentVariableW(L"GLTEST_ROOT", root.c_str());
    }
    void TearDown() override {
        SetDisplayReadingFunction(NULL);
        SetEnvironmentVariableW(L"GLTEST_ROOT", NULL);
        SettingsFolder::TearDown();
    }
    std::wstring Run() {
        wchar_t active[kOptionsFolderChars + 32];
        wmemset(active, L'#', kOptionsFolderChars + 32);
        SkippedFiles skipped = {};
        WriteInitialSettings(options, active, kOptionsFolderChars + 32, skipped);
        return active;
    }
    InstallOptions options;
    std::wstring program, programFile;
};

TEST_F(InitialSettings, ProgramFolderGetsLanguageAndSkinButNoPointer) {
    WritePrivateProfileStringW(L"Others", L"INI_Folder", L"D:\\Old", programFile.c_str());
    EXPECT_EQ(Run(), programFile);
    EXPECT_EQ(ReadSetting(programFile, L"Language", L"DLL"), L"DEUTSCH.DLL");
    EXPECT_EQ(ReadSetting(programFile, L"Language", L"Lang"), L"Deutsch");
    EXPECT_EQ(ReadSetting(programFile, L"Toolbar", L"Skin"), L"Moorland_24.png");
    EXPECT_EQ(ReadSetting(programFile, L"Toolbar", L"Size"), L"24");
    EXPECT_EQ(ReadSetting(programFile, L"Others", L"INI_Folder"), L"<missing>");
    EXPECT_EQ(ReadSetting(programFile, L"Language", L"DefaultLang"), L"<missing>");
    EXPECT_EQ(std::wstring(options.iniFolder), L"");
}

TEST_F(InitialSettings, SkinFollowsTheDisplayReadings) {
    const struct {
        DisplayReadings readings;
        const wchar_t *skin, *size;
    } rows[] = {
        {{144, 1017}, L"gnome-colors-wise_32.png", L"32"},
        {{168, 1017}, L"gnome-colors-human_48.png", L"48"},
        {{96, 700}, L"Quill_16.png", L"16"},
        {{96, 1600}, L"gnome-colors-human_48.png", L"48"},
        // No device context: scale 100, the height decides.
        {{0, 700}, L"Quill_16.png", L"16"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << row.readings.pixelsPerInch << " / " << row.readings.fullScreenHeight);
        DeleteFileW(programFile.c_str());
        display = row.readings;
        Run();
        EXPECT_EQ(ReadSetting(programFile, L"Toolbar", L"Skin"), row.skin);
        EXPECT_EQ(ReadSetting(programFile, L"Toolbar", L"Size"), row.size);
    }
}

TEST_F(InitialSettings, ExistingSkinIsKeptAndLanguageOverwritten) {
    WriteBytes(
        programFile,
        Ansi("[Language]\r\nDLL=ENGLISH.DLL\r\nLang=English\r\n[Toolbar]\r\nSkin=Mine.png\r\nSize=99\r\n"));
    display = {168, 1017};
    Run();
    EXPECT_EQ(ReadSetting(programFile, L"Toolbar", L"Skin"), L"Mine.png");
    EXPECT_EQ(ReadSetting(programFile, L"Toolbar", L"Size"), L"99");
    EXPECT_EQ(ReadSetting(programFile, L"Language", L"DLL"), L"DEUTSCH.DLL");
    EXPECT_EQ(ReadSetting(programFile, L"Language", L"Lang"), L"Deutsch");
}

TEST_F(InitialSettings, EmptySkinCountsAsMissing) {
    WriteBytes(programFile, Ansi("[Toolbar]\r\nSkin=\r\nSize=99\r\n"));
    display = {144, 1017};
    Run();
    EXPECT_EQ(ReadSetting(programFile, L"Toolbar", L"Skin"), L"gnome-colors-wise_32.png");
    EXPECT_EQ(ReadSetting(programFile, L"Toolbar", L"Size"), L"32");
}

TEST_F(InitialSettings, TargetFolderIsTrimmedAndGetsItsBackslash) {
    std::wstring padded = L"  " + root + L"prog  ";
    CopyText(options.targetFolder, kOptionsFolderChars, padded.c_str());
    EXPECT_EQ(Run(), programFile);
    EXPECT_EQ(ReadSetting(programFile, L"Language", L"DLL"), L"DEUTSCH.DLL");
}

TEST_F(InitialSettings, SettingsFolderGetsTheKeysAndProgramFolderThePointer) {
    CopyText(options.iniFolder, kOptionsFolderChars, L"%GLTEST_ROOT%data\\Glimmerly");
    std::wstring activeFile = root + L"data\\Glimmerly\\gl_main32.ini";
    EXPECT_EQ(Run(), activeFile);
    EXPECT_EQ(ReadSetting(programFile, L"Others", L"INI_Folder"), L"%GLTEST_ROOT%data\\Glimmerly");
    EXPECT_EQ(ReadSetting(programFile, L"Language", L"DLL"), L"<missing>");
    EXPECT_EQ(ReadSetting(programFile, L"Toolbar", L"Skin"), L"<missing>");
    EXPECT_EQ(ReadSetting(activeFile, L"Language", L"DLL"), L"DEUTSCH.DLL");
    EXPECT_EQ(ReadSetting(activeFile, L"Language", L"Lang"), L"Deutsch");
    EXPECT_EQ(ReadSetting(activeFile, L"Toolbar", L"Skin"), L"Moorland_24.png");
    EXPECT_EQ(ReadSetting(activeFile, L"Toolbar", L"Size"), L"24");
    EXPECT_EQ(ReadSetting(activeFile, L"Others", L"INI_Folder"), L"<missing>");
    EXPECT_EQ(std::wstring(options.iniFolder), L"%GLTEST_ROOT%data\\Glimmerly");
}

TEST_F(InitialSettings, PortableFolderFillsTheProgramFolderFileToo) {
    for (const wchar_t* name : {L"Glimmerly64_App", L"Glimmerly32_App"}) {
        SCOPED_TRACE(name);
        DeleteFileW(programFile.c_str());
        std::wstring folder = root + name;
        CopyText(options.iniFolder, kOptionsFolderChars, folder.c_str());
        display = {144, 1017};
        std::wstring activeFile = folder + L"\\gl_main32.ini";
        EXPECT_EQ(Run(), activeFile);
        EXPECT_EQ(ReadSetting(activeFile, L"Toolbar", L"Skin"), L"gnome-colors-wise_32.png");
        EXPECT_EQ(ReadSetting(programFile, L"Others", L"INI_Folder"), folder);
        EXPECT_EQ(ReadSetting(programFile, L"Language", L"DefaultLang"), L"DEUTSCH.DLL");
        EXPECT_EQ(ReadSetting(programFile, L"Language", L"Lang"), L"Deutsch");
        EXPECT_EQ(ReadSetting(programFile, L"Language", L"DLL"), L"<missing>");
        EXPECT_EQ(ReadSetting(programFile, L"Toolbar", L"Skin"), L"Moorland_24.png");
        EXPECT_EQ(ReadSetting(programFile, L"Toolbar", L"Size"), L"24");
    }
}

TEST_F(InitialSettings, PortableFolderWithASkinLeavesTheProgramFolderSkinAlone) {
    std::wstring folder = root + L"Glimmerly64_App\\";
    CreateDirectoryW(folder.c_str(), NULL);
    WriteBytes(folder + L"gl_main32.ini", Ansi("[Toolbar]\r\nSkin=Mine.png\r\n"));
    CopyText(options.iniFolder, kOptionsFolderChars, folder.c_str());
    Run();
    EXPECT_EQ(ReadSetting(programFile, L"Language", L"DefaultLang"), L"DEUTSCH.DLL");
    EXPECT_EQ(ReadSetting(programFile, L"Toolbar", L"Skin"), L"<missing>");
    EXPECT_EQ(ReadSetting(programFile, L"Toolbar", L"Size"), L"<missing>");
}

TEST_F(InitialSettings, MarkerIsCaseSensitive) {
    std::wstring folder = root + L"glimmerly64_app";
    CopyText(options.iniFolder, kOptionsFolderChars, folder.c_str());
    Run();
    EXPECT_EQ(ReadSetting(programFile, L"Language", L"DefaultLang"), L"<missing>");
}

TEST_F(InitialSettings, UnusableSettingsFolderKeepsOnlyThePointer) {
    SetEnvironmentVariableW(L"GLTEST_LONG", std::wstring(200, L'z').c_str());
    const wchar_t* texts[] = {L"%GLTEST_LONG%\\%GLTEST_LONG%", L"%NOSUCHVAR%"};
    for (const wchar_t* text : texts) {
        SCOPED_TRACE(text);
        DeleteFileW(programFile.c_str());
        CopyText(options.iniFolder, kOptionsFolderChars, text);
        EXPECT_EQ(Run(), L"");
        EXPECT_EQ(ReadSetting(programFile, L"Others", L"INI_Folder"), text);
        EXPECT_EQ(ReadSetting(programFile, L"Language", L"DLL"), L"<missing>");
    }
    SetEnvironmentVariableW(L"GLTEST_LONG", NULL);
}

// ---- conversion to UTF-16 ---------------------------------------------------------------------

class Conversion : public SettingsFolder {
  protected:
    void SetUp() override {
        SettingsFolder::SetUp();
        file = root + L"gl_main32.ini";
        conversionFile = root + L"gl_main32.ini_temp";
    }
    std::wstring file, conversionFile;
};

TEST_F(Conversion, AnsiFileBecomesUtf16WithNothingLost) {
    ASSERT_EQ(GetACP(), 1252u) << "the expected bytes below are those of code page 1252";
    // Umlauts on both sides of the piece boundaries of the long line, and every kind of line end.
    std::string longLine =
        "Recent=" + std::string(2039, 'x') + "\xe4\xf6" + std::string(2045, 'y') + "\xfc\xdf";
    std::wstring wideLong =
        L"Recent=" + std::wstring(2039, L'x') + L"\u00e4\u00f6" + std::wstring(2045, L'y') + L"\u00fc\u00df";
    std::string source = "[Language]\r\nLang=Deutsch\r\n[Dateien]\r\nName=Gr\xfc\xdf"
                         "e \xc4rger\r\n" +
                         longLine + "\r\nunix=1\nmac=1\rlast=\xe9t\xe9";
    std::wstring expected =
        L"[Language]\r\nLang=Deutsch\r\n[Dateien]\r\nName=Gr\u00fc\u00dfe \u00c4rger\r\n" + wideLong +
        L"\r\nunix=1\nmac=1\rlast=\u00e9t\u00e9";
    WriteBytes(file, Ansi(source));
    EXPECT_EQ(ConvertSettingsToUnicode(file.c_str()), 1);
    Bytes converted = ReadBytes(file);
    Bytes wanted = UnicodeFile(expected);
    ASSERT_EQ(converted.size(), wanted.size());
    for (size_t i = 0; i < wanted.size(); ++i)
        ASSERT_EQ(converted[i], wanted[i]) << "at byte " << i;
    EXPECT_FALSE(Exists(conversionFile));
}

TEST_F(Conversion, LineOfExactlyOnePieceAndLineEndAtTheBoundary) {
    // 2047 bytes without a line end, then a line end that starts the next piece.
    std::string line(2047, 'a');
    WriteBytes(file, Ansi(line + "\r\n" + std::string(2046, 'b') + "\r\n"));
    EXPECT_EQ(ConvertSettingsToUnicode(file.c_str()), 1);
    EXPECT_EQ(ReadBytes(file),
              UnicodeFile(std::wstring(2047, L'a') + L"\r\n" + std::wstring(2046, L'b') + L"\r\n"));
}

TEST_F(Conversion, FileStartingWithByteOrderMarkIsUntouched) {
    Bytes unicode = {0xFF, 0xFE, 'A', 0, '=', 0, 0xFC, 0, '\r', 0, '\n', 0};
    WriteBytes(file, unicode);
    EXPECT_EQ(ConvertSettingsToUnicode(file.c_str()), 1);
    EXPECT_EQ(ReadBytes(file), unicode);
    EXPECT_FALSE(Exists(conversionFile));
    // Only FF FE counts: a file starting FF 00 is converted.
    WriteBytes(file, Bytes{0xFF, 'x'});
    EXPECT_EQ(ConvertSettingsToUnicode(file.c_str()), 1);
    EXPECT_EQ(ReadBytes(file), UnicodeFile(L"\u00ffx"));
}

TEST_F(Conversion, EmptyFileStaysAndLeavesNothingBehind) {
    WriteBytes(file, Bytes());
    EXPECT_EQ(ConvertSettingsToUnicode(file.c_str()), 1);
    EXPECT_TRUE(Exists(file));
    EXPECT_EQ(ReadBytes(file).size(), 0u);
    EXPECT_FALSE(Exists(conversionFile));
}

TEST_F(Conversion, NothingToDoWithoutAFile) {
    EXPECT_EQ(ConvertSettingsToUnicode(file.c_str()), 1);
    EXPECT_EQ(ConvertSettingsToUnicode(L""), 1);
    EXPECT_FALSE(Exists(file));
    EXPECT_FALSE(Exists(conversionFile));
}

TEST_F(Conversion, StaysAnsiWhenTheConversionFileCannotBeMade) {
    CreateDirectoryW(conversionFile.c_str(), NULL);
    Bytes ansi = Ansi("[Language]\r\nLang=Deutsch\r\n");
    WriteBytes(file, ansi);
    EXPECT_EQ(ConvertSettingsToUnicode(file.c_str()), 1);
    EXPECT_EQ(ReadBytes(file), ansi);
}

TEST_F(Conversion, FailedReplacementIsReportedAndTheFileKept) {
    Bytes ansi = Ansi("[Language]\r\nLang=Deutsch\r\n");
    WriteBytes(file, ansi);
    // Another reader that does not share deletion keeps the file from being replaced.
    HANDLE reader = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ConvertSettingsToUnicode(file.c_str()), 0);
    CloseHandle(reader);
    EXPECT_EQ(ReadBytes(file), ansi);
    EXPECT_FALSE(Exists(conversionFile));
}

// ---- what the platform's profile functions do with these files --------------------------------

TEST_F(SettingsFolder, ProfileFunctionsWriteNewFilesInTheAnsiCodePage) {
    ASSERT_EQ(GetACP(), 1252u);
    std::wstring file = root + L"new.ini";
    WritePrivateProfileStringW(L"Language", L"Lang", L"Gr\u00fc\u00dfe", file.c_str());
    Bytes bytes = ReadBytes(file);
    std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("[Language]\r\nLang=Gr\xfc\xdf"
                        "e"),
              std::string::npos)
        << text;
    EXPECT_NE(bytes.at(0), 0xFF);
}

TEST_F(SettingsFolder, ProfileFunctionsKeepAConvertedFileInUtf16) {
    std::wstring file = root + L"gl_main32.ini";
    WriteBytes(file, Ansi("[Language]\r\nDLL=DEUTSCH.DLL\r\n[Toolbar]\r\nSkin=Quill_16.png\r\n"));
    ASSERT_EQ(ConvertSettingsToUnicode(file.c_str()), 1);

    EXPECT_EQ(ReadSetting(file, L"Language", L"DLL"), L"DEUTSCH.DLL");
    EXPECT_EQ(ReadSetting(file, L"Toolbar", L"Skin"), L"Quill_16.png");
    WritePrivateProfileStringW(L"Language", L"Lang", L"D\u00e4nisch \u0141", file.c_str());
    WritePrivateProfileStringW(L"Toolbar", L"Skin", NULL, file.c_str());
    EXPECT_EQ(ReadSetting(file, L"Language", L"Lang"), L"D\u00e4nisch \u0141");
    EXPECT_EQ(ReadSetting(file, L"Toolbar", L"Skin"), L"<missing>");

    // Still UTF-16LE after the writes, header comment included, and no ANSI bytes mixed in.
    Bytes bytes = ReadBytes(file);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    ASSERT_EQ(bytes.size() % 2, 0u);
    std::wstring text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += (wchar_t)(bytes[i] | (bytes[i + 1] << 8));
    EXPECT_EQ(text.find(L"; UNICODE FILE - edit with care ;-)\r\n"), 0u) << "header lost";
    EXPECT_NE(text.find(L"Lang=D\u00e4nisch \u0141"), std::wstring::npos);
    EXPECT_NE(text.find(L"DLL=DEUTSCH.DLL"), std::wstring::npos);
    EXPECT_EQ(text.find(L"Skin="), std::wstring::npos);
}

TEST_F(InitialSettings, WrittenThenConvertedFileReadsBack) {
    display = {144, 1017};
    std::wstring active = Run();
    ASSERT_EQ(ConvertSettingsToUnicode(active.c_str()), 1);
    Bytes bytes = ReadBytes(active);
    Bytes header = UnicodeFile(L"");
    ASSERT_GE(bytes.size(), header.size());
    EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin()));
    EXPECT_EQ(ReadSetting(active, L"Language", L"DLL"), L"DEUTSCH.DLL");
    EXPECT_EQ(ReadSetting(active, L"Toolbar", L"Skin"), L"gnome-colors-wise_32.png");
    // A second installation over it keeps the file in UTF-16 and finds the skin.
    display = {96, 700};
    Run();
    EXPECT_EQ(ReadSetting(active, L"Toolbar", L"Skin"), L"gnome-colors-wise_32.png");
    EXPECT_EQ(ConvertSettingsToUnicode(active.c_str()), 1);
    EXPECT_EQ(ReadBytes(active).at(0), 0xFF);
}

} // namespace
