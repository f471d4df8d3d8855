#include "shell/FileTypeCatalogue.h"

#include "ExpectedFileTypes.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <set>
#include <string>

namespace {

std::wstring Upper(std::wstring text) {
    for (auto& ch : text)
        ch = (wchar_t)towupper(ch);
    return text;
}

TEST(FileTypeCatalogue, HoldsTheCountsOfTheTables) {
    int extensions = 0, marked = 0;
    std::set<std::wstring> classes;
    for (const FileTypeEntry& entry : FileTypeCatalogue) {
        extensions += entry.registeredCount;
        std::wstring description = entry.description;
        if (description.size() > 2 && description.compare(description.size() - 2, 2, L" *") == 0)
            ++marked;
        for (int i = 0; i < entry.registeredCount; ++i)
            classes.insert(ClassSuffix(entry.registered[i]));
    }
    EXPECT_EQ(fileTypeRowCount, 63);
    EXPECT_EQ(imageRowCount, 49);
    EXPECT_EQ(extensions, 87);
    EXPECT_EQ(classes.size(), 69u);
    EXPECT_EQ(marked, 46);
}

// Every row registers exactly the extensions and classes of the registration table, in its order,
// and shows them in upper case joined by "/".
TEST(FileTypeCatalogue, RowsMatchTheRegistrationTable) {
    for (int row = 0; row < fileTypeRowCount; ++row) {
        SCOPED_TRACE(row);
        const FileTypeEntry& entry = FileTypeCatalogue[row];
        auto expected = ExpectedExtensions(row);
        ASSERT_EQ(entry.registeredCount, (int)expected.size());
        std::wstring shown;
        for (int i = 0; i < entry.registeredCount; ++i) {
            EXPECT_EQ(entry.registered[i].extension, expected[i].first);
            EXPECT_EQ(ClassSuffix(entry.registered[i]), expected[i].second);
            shown += (i ? L"/" : L"") + Upper(expected[i].first);
        }
        EXPECT_EQ(entry.extensions, shown);
        std::wstring icon = kExpectedRows[row].icon;
        FileTypeIcon kind = icon == L"%1"   ? kIconOfFile
                            : icon == L",9" ? kIconViewerVideo
                            : icon == L",8" ? kIconViewerAudio
                                            : kIconViewer;
        EXPECT_EQ(entry.icon, kind);
    }
}

TEST(FileTypeCatalogue, ShowsTheDescriptionsOfTheCatalogue) {
    struct {
        int row;
        const wchar_t* extensions;
        const wchar_t* description;
    } cases[] = {
        {0, L"ANI", L"Animated Windows Cursors *"},
        {2, L"BMP/DIB", L"Windows Bitmap"},
        {18, L"HEIC", L"High Efficiency Image File Format *"},
        {23, L"JPG/JPEG/JFIF/JPE", L"JPEG Format"},
        {45, L"WEBP", L"Weppy Format *"},
        {48, L"XPM", L"X-Pixmap *"},
        {49, L"SWF/FLV", L"Macromedia Flash Format *"},
        {62, L"WMA", L"Windows Media Audio File *"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(FileTypeCatalogue[c.row].extensions, c.extensions);
        EXPECT_STREQ(FileTypeCatalogue[c.row].description, c.description);
    }
}

class FileTypeList : public ::testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX init = {sizeof init, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&init);
        list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | LVS_REPORT, 0, 0, 400, 300, NULL, NULL,
                               GetModuleHandleW(NULL), NULL);
        ASSERT_NE(list, (HWND)NULL);
        SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.cx = 100;
        column.pszText = (LPWSTR)L"";
        SendMessageW(list, LVM_INSERTCOLUMNW, 0, (LPARAM)&column);
        SendMessageW(list, LVM_INSERTCOLUMNW, 1, (LPARAM)&column);
    }
    void TearDown() override { DestroyWindow(list); }
    std::wstring Text(int item, int subItem) {
        wchar_t buffer[128] = L"";
        LVITEMW request = {};
        request.iSubItem = subItem;
        request.pszText = buffer;
        request.cchTextMax = 128;
        SendMessageW(list, LVM_GETITEMTEXTW, item, (LPARAM)&request);
        return buffer;
    }
    bool Checked(int item) {
        return (SendMessageW(list, LVM_GETITEMSTATE, item, LVIS_STATEIMAGEMASK) & 0xF000) == 0x2000;
    }
    HWND list = NULL;
};

TEST_F(FileTypeList, ShowsAllRowsUnchecked) {
    for (int row = 0; row < fileTypeRowCount; ++row)
        InsertFileTypeRow(list, FileTypeCatalogue[row].extensions, FileTypeCatalogue[row].description, 0,
                          row);
    ASSERT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 63);
    EXPECT_EQ(Text(0, 0), L"ANI");
    EXPECT_EQ(Text(62, 0), L"WMA");
    EXPECT_EQ(Text(23, 0), L"JPG/JPEG/JFIF/JPE");
    EXPECT_EQ(Text(23, 1), L"JPEG Format");
    EXPECT_EQ(Text(18, 1), L"High Efficiency Image File Format *");
    for (int row = 0; row < fileTypeRowCount; ++row)
        EXPECT_FALSE(Checked(row)) << row;
}

TEST_F(FileTypeList, ChecksARowWhenAsked) {
    InsertFileTypeRow(list, L"GIF", L"Compuserve GIF", 1, 0);
    InsertFileTypeRow(list, L"ICO", L"Windows Icon", 0, 1);
    EXPECT_TRUE(Checked(0));
    EXPECT_FALSE(Checked(1));
    EXPECT_EQ(Text(0, 1), L"Compuserve GIF");
}

} // namespace
