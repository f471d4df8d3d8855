#include "install/SafePath.h"

#include "TestFiles.h"

#include <gtest/gtest.h>
#include <string>

// The build prepares links/ beside the test program: protected/secret.txt, the links file-link (to it),
// folder-link (to protected) and dangling (to protected/missing.txt), and hard-link, a second name of
// secret.txt. Wine opens through them as Windows would through a link or junction.
namespace {

const std::string kSecret = "not yours\n";

class SafePathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteFileW(L"links\\protected\\missing.txt");
        DeleteFileW(L"links\\plain.txt");
        RemoveDirectoryW(L"links\\protected\\made");
        WriteFileBytes(L"links\\protected\\secret.txt", kSecret);
    }
    void TearDown() override {
        std::string bytes;
        EXPECT_TRUE(ReadFileBytes(L"links\\protected\\secret.txt", &bytes));
        EXPECT_EQ(bytes, kSecret) << "the link's target changed";
        EXPECT_EQ(GetFileAttributesW(L"links\\protected\\missing.txt"), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetFileAttributesW(L"links\\protected\\made"), INVALID_FILE_ATTRIBUTES);
    }
};

struct Plant {
    const wchar_t* path;
    DWORD disposition;
    DWORD error;
};

TEST_F(SafePathTest, OpeningThroughALinkIsRefusedWhateverTheDisposition) {
    const Plant plants[] = {
        {L"links\\file-link", OPEN_EXISTING, kLinkMetError},
        {L"links\\file-link", CREATE_ALWAYS, kLinkMetError},
        {L"links\\file-link", TRUNCATE_EXISTING, kLinkMetError},
        {L"links\\file-link", OPEN_ALWAYS, kLinkMetError},
        {L"links\\folder-link\\secret.txt", OPEN_ALWAYS, kLinkMetError},
        {L"links\\folder-link\\new.txt", CREATE_NEW, kLinkMetError},
        {L"links\\dangling", OPEN_ALWAYS, kLinkMetError},
        {L"links\\dangling", CREATE_ALWAYS, kLinkMetError},
        {L"links\\hard-link", CREATE_ALWAYS, kLinkMetError},
        // A new file where any name stands already fails as CreateFileW does.
        {L"links\\dangling", CREATE_NEW, ERROR_FILE_EXISTS},
    };
    for (const Plant& plant : plants) {
        HANDLE handle = OpenWithoutLink(plant.path, GENERIC_READ | GENERIC_WRITE, 0, plant.disposition, 0);
        DWORD error = GetLastError();
        EXPECT_EQ(handle, INVALID_HANDLE_VALUE) << plant.path << " " << plant.disposition;
        EXPECT_EQ(error, plant.error) << plant.path << " " << plant.disposition;
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
    EXPECT_EQ(GetFileAttributesW(L"links\\protected\\new.txt"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(SafePathTest, PlainFilesAreCreatedTruncatedRenamedAndDeleted) {
    HANDLE file = OpenWithoutLink(L"links\\plain.txt", GENERIC_WRITE, 0, CREATE_NEW, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "abc", 3, &written, NULL);
    CloseHandle(file);
    file = OpenWithoutLink(L"links\\plain.txt", GENERIC_WRITE | DELETE, 0, CREATE_ALWAYS, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(file, NULL), 0u);
    WriteFile(file, "xy", 2, &written, NULL);
    // A rename by handle replaces a link at the new name, not its target.
    EXPECT_TRUE(RenameOpenFile(file, L"links\\renamed.txt"));
    CloseHandle(file);
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(L"links\\renamed.txt", &bytes));
    EXPECT_EQ(bytes, "xy");
    EXPECT_TRUE(DeleteWithoutLink(L"links\\renamed.txt"));
    EXPECT_EQ(GetFileAttributesW(L"links\\renamed.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(DeleteWithoutLink(L"links\\renamed.txt")) << "a missing file counts as gone";

    // A path given with a short name reaches the file under its long one, which is no link.
    WriteFileBytes(L"links\\a long file name.text", "abc");
    wchar_t shortName[MAX_PATH];
    ASSERT_NE(GetShortPathNameW(L"links\\a long file name.text", shortName, MAX_PATH), 0u);
    ASSERT_EQ(wcsstr(shortName, L"long file"), nullptr) << "no short name to test with";
    file = OpenWithoutLink(shortName, GENERIC_READ, 0, OPEN_EXISTING, 0);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    EXPECT_TRUE(DeleteWithoutLink(L"links\\a long file name.text"));
}

// A new file by its name in a held folder: made there and only there, never over a name that stands.
TEST_F(SafePathTest, NewFileInAHeldFolderTakesNoNameThatStands) {
    HANDLE folder = HoldFolder(L"links");
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    const struct {
        const wchar_t* name;
        DWORD error;
    } refused[] = {
        {L"file-link", ERROR_FILE_EXISTS},
        {L"dangling", ERROR_FILE_EXISTS},
        {L"hard-link", ERROR_FILE_EXISTS},
        {L"folder-link", ERROR_FILE_EXISTS},
        {L"folder-link\\new.txt", ERROR_INVALID_NAME},
        {L"..", ERROR_INVALID_NAME},
        {L"", ERROR_INVALID_NAME},
    };
    for (const auto& row : refused) {
        HANDLE file = CreateNewIn(folder, row.name, GENERIC_WRITE, 0);
        EXPECT_EQ(file, INVALID_HANDLE_VALUE) << row.name;
        EXPECT_EQ(GetLastError(), row.error) << row.name;
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    EXPECT_EQ(GetFileAttributesW(L"links\\protected\\new.txt"), INVALID_FILE_ATTRIBUTES);
    HANDLE file = CreateNewIn(folder, L"plain.txt", GENERIC_WRITE, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "abc", 3, &written, NULL));
    CloseHandle(file);
    CloseHandle(folder);
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(L"links\\plain.txt", &bytes));
    EXPECT_EQ(bytes, "abc");
    EXPECT_EQ(GetFileAttributesW(L"plain.txt"), INVALID_FILE_ATTRIBUTES) << "made where the test runs";
    DeleteFileW(L"links\\plain.txt");
}

TEST_F(SafePathTest, DeletingOrMakingFoldersThroughALinkIsRefused) {
    EXPECT_FALSE(DeleteWithoutLink(L"links\\file-link"));
    EXPECT_FALSE(DeleteWithoutLink(L"links\\folder-link\\secret.txt"));
    EXPECT_FALSE(CreateFoldersWithoutLink(L"links\\folder-link\\made"));
    EXPECT_FALSE(CreateFoldersWithoutLink(L"links\\folder-link"));
    EXPECT_TRUE(CreateFoldersWithoutLink(L"links\\real\\made\\deeper\\"));
    EXPECT_NE(GetFileAttributesW(L"links\\real\\made\\deeper"), INVALID_FILE_ATTRIBUTES);
    RemoveDirectoryW(L"links\\real\\made\\deeper");
    RemoveDirectoryW(L"links\\real\\made");
    RemoveDirectoryW(L"links\\real");
}

} // namespace
