#include "controls/HyperLink.h"
#include "controls/XColorStatic.h"
#include "framework/Interaction.h"
#include "install/PathHelpers.h"
#include "res/resource.h"
#include "shell/FileTypeCatalogue.h"
#include "wizard/WizPropertyPage.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <string>
#include <vector>

namespace {

// What the pages and the link handed to the user and the shell, and how they were answered.
struct Recorder {
    std::wstring chosenFolder; // the browser's answer; empty: cancelled
    INT_PTR shellResult = 42;  // ShellExecuteW's answer
    std::wstring browseTitle, browseStart, opened;
    UINT browseFlags = 0;
    std::vector<UINT> beeps;
    int restarts = 0, runs = 0;
    std::vector<std::wstring> boxes;
} recorder;

int Browse(BROWSEINFOW* info, wchar_t* path) {
    recorder.browseTitle = info->lpszTitle;
    recorder.browseFlags = info->ulFlags;
    recorder.browseStart = (const wchar_t*)info->lParam;
    CopyText(path, kPathChars, recorder.chosenFolder.c_str());
    return !recorder.chosenFolder.empty();
}
INT_PTR Open(HWND, const wchar_t* file, const wchar_t*, const wchar_t*, int) {
    recorder.opened = file;
    return recorder.shellResult;
}
UINT Run(const char*, UINT) {
    ++recorder.runs;
    return 0; // the fallback browser cannot start either
}
int Box(HWND, const wchar_t* text, const wchar_t*, UINT) {
    recorder.boxes.push_back(text);
    return IDOK;
}
void Beep(UINT type) {
    recorder.beeps.push_back(type);
}
int Restart() {
    return ++recorder.restarts;
}
const Interaction recording = {Box, Browse, Open, Run, Beep, Restart};

class WizardPages : public ::testing::Test {
  protected:
    void SetUp() override {
        recorder = Recorder();
        SetInteraction(&recording);
    }
    void TearDown() override { SetInteraction(NULL); }
};

// Chosen in the browser -> put into the folder field.
TEST_F(WizardPages, BrowsedFolderIsNamedAfterTheViewer) {
    const struct {
        const wchar_t *chosen, *field;
    } cases[] = {
        {L"D:\\", L"D:\\Glimmerly\\"},
        {L"C:\\Program Files", L"C:\\Program Files\\Glimmerly\\"},
        {L"E:\\Tools\\GLIMMERLY", L"E:\\Tools\\GLIMMERLY\\"},
        {L"E:\\Tools\\Glimmerly2", L"E:\\Tools\\Glimmerly2\\Glimmerly\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen);
        recorder.chosenFolder = c.chosen;
        wchar_t field[kPathChars] = L"C:\\Alt\\";
        ASSERT_EQ(BrowseForTargetFolder(NULL, field), 1);
        AppendViewerFolderName(field);
        EXPECT_STREQ(field, c.field);
    }
    EXPECT_EQ(recorder.browseTitle, L"Zielverzeichnis:");
    EXPECT_EQ(recorder.browseFlags, (UINT)BIF_RETURNONLYFSDIRS);
    EXPECT_EQ(recorder.browseStart, L"C:\\Alt\\");

    recorder.chosenFolder.clear();
    wchar_t field[kPathChars] = L"C:\\Alt\\";
    EXPECT_EQ(BrowseForTargetFolder(NULL, field), 0);
    EXPECT_STREQ(field, L"C:\\Alt\\");
}

TEST_F(WizardPages, TargetFolderNeedsADrive) {
    const struct {
        const wchar_t* folder;
        int accepted;
    } cases[] = {{L"", 0},   {L"\\\\server\\share\\Glimmerly", 0}, {L"Glimmerly", 0}, {L" C:\\Glimmerly", 0},
                 {L"D:", 1}, {L"C:\\Program Files\\Glimmerly", 1}};
    for (const auto& c : cases)
        EXPECT_EQ(IsAcceptedTargetFolder(c.folder), c.accepted) << c.folder;
}

std::wstring Changes(const std::wstring& text) {
    std::wstring resource = L"\xFEFF" + text;
    std::vector<wchar_t> shown(kChangesChars);
    PrepareChangesText(resource.data(), (unsigned long)(resource.size() * sizeof(wchar_t)), shown.data());
    return shown.data();
}

TEST_F(WizardPages, ChangesTextLosesItsTrailingPunctuationAndIsCutAt20479Bytes) {
    EXPECT_EQ(Changes(L"Neu:\r\n- Diashow.\r\n"), L"\xFEFFNeu:\r\n- Diashow");
    EXPECT_EQ(Changes(L"Version 4.62 \x00C4"), L"\xFEFFVersion 4.62 \x00C4");
    EXPECT_EQ(Changes(L" .\r\n"), L"");
    // 10239 whole code units survive (the mark and 10238 letters); the half unit is zeroed away.
    std::wstring shown = Changes(std::wstring(20000, L'a'));
    EXPECT_EQ(shown.size(), 10239u);
    EXPECT_EQ(shown.back(), L'a');
}

TEST(InstallationProgress, ExtractedBytesFillNineTenthsAndEachLaterStepItsShareOfTheRest) {
    const struct {
        unsigned long long done, total;
        int step, steps, position;
    } cases[] = {{0, 0, 0, 0, 0},
                 {0, 200000000, 0, 0, 0},
                 {100000000, 200000000, 0, 0, 450},
                 {1, 3, 0, 0, 300},
                 {200000000, 200000000, 0, 0, 900},
                 {5, 4, 0, 0, 900},
                 {3ULL << 50, 6ULL << 50, 0, 0, 450},
                 {0, 0, 1, 2, 900},
                 {0, 0, 2, 2, 950}};
    for (const auto& c : cases)
        EXPECT_EQ(ProgressPosition(c.done, c.total, c.step, c.steps), c.position) << c.done << " " << c.step;
}

TEST_F(WizardPages, AssociationReadOutCountsCheckedRowsOnlyWhileTheListIsEnabled) {
    HWND list =
        CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | LVS_REPORT, 0, 0, 400, 300, NULL, NULL, NULL, NULL);
    ASSERT_NE(list, nullptr);
    ListView_SetExtendedListViewStyleEx(list, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    column.cx = 100;
    ListView_InsertColumn(list, 0, &column);
    ListView_InsertColumn(list, 1, &column);
    for (int row = 0; row < fileTypeRowCount; ++row)
        InsertFileTypeRow(list, FileTypeCatalogue[row].extensions, FileTypeCatalogue[row].description,
                          row == 0 || row == 48 || row == 62, row);

    InstallOptions options;
    ResetInstallOptions(options);
    ReadAssociationSelection(list, options);
    std::vector<int> selected;
    for (int i = 0; i < kAssociationFlags; ++i)
        if (options.associationSelection[i])
            selected.push_back(i);
    EXPECT_EQ(selected, (std::vector<int>{0, 48, 62}));
    EXPECT_EQ(options.associationsRequested, 1);

    EnableWindow(list, FALSE);
    ReadAssociationSelection(list, options);
    for (int i = 0; i < kAssociationFlags; ++i)
        EXPECT_EQ(options.associationSelection[i], 0) << i;
    EXPECT_EQ(options.associationsRequested, 0);
    DestroyWindow(list);
}

TEST(ReadyPageSpace, SizesInMegabytesWithOneDecimalThenGigabytes) {
    const struct {
        unsigned long long bytes;
        const wchar_t* text;
    } cases[] = {{0, L"0,0 MB"},
                 {52428, L"0,0 MB"},
                 {52429, L"0,1 MB"},
                 {1048576, L"1,0 MB"},
                 {1572864, L"1,5 MB"},
                 {1073689395ULL, L"1023,9 MB"},
                 {1073741824ULL, L"1,0 GB"},
                 {5ULL << 40, L"5120,0 GB"}};
    for (const auto& c : cases) {
        wchar_t text[32];
        FormatByteSize(c.bytes, text, 32);
        EXPECT_STREQ(text, c.text) << c.bytes;
    }
    wchar_t small[6];
    FormatByteSize(1ULL << 40, small, 6);
    EXPECT_STREQ(small, L"1024,") << "cut to its buffer";
}

// A dialog that hands its statics' messages back to the objects attached to them, as the pages do.
INT_PTR CALLBACK ReflectingDialog(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if ((message == WM_COMMAND || message == WM_CTLCOLORSTATIC) &&
        CStatic::Reflect(message, wParam, lParam, &result))
        return message == WM_CTLCOLORSTATIC ? (INT_PTR)result : TRUE;
    return message == WM_INITDIALOG;
}

// A page dialog in a frame of its own.
HWND CreatePage(UINT templateId) {
    HWND frame = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 640, 480, NULL, NULL, NULL, NULL);
    return CreateDialogParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(templateId), frame, ReflectingDialog,
                              0);
}

class LinkOnWelcomePage : public WizardPages {
  protected:
    void SetUp() override {
        WizardPages::SetUp();
        page = CreatePage(IDD_WELCOME);
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(link.SubclassDlgItem(IDC_EULA_LINK, page));
    }
    void TearDown() override {
        DestroyWindow(GetParent(page));
        WizardPages::TearDown();
    }
    bool Underlined(HWND window = NULL) {
        LOGFONTW font = {};
        GetObjectW((HFONT)SendMessageW(window ? window : link.m_hWnd, WM_GETFONT, 0, 0), sizeof font, &font);
        return font.lfUnderline != 0;
    }
    COLORREF TextColour() {
        HDC dc = CreateCompatibleDC(NULL);
        SendMessageW(page, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)link.m_hWnd);
        COLORREF colour = GetTextColor(dc);
        DeleteDC(dc);
        return colour;
    }
    void Click() {
        SendMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_EULA_LINK, STN_CLICKED), (LPARAM)link.m_hWnd);
    }

    HWND page = NULL;
    CHyperLink link;
};

TEST_F(LinkOnWelcomePage, UnderlinesByModeAndFitsItsText) {
    EXPECT_EQ(link.GetUnderlineMode(), -1);
    EXPECT_FALSE(Underlined());
    SendMessageW(link.m_hWnd, WM_MOUSEMOVE, 0, 0);
    EXPECT_TRUE(Underlined()) << "hovered in mode -1";

    CHyperLink never;
    ASSERT_TRUE(never.SubclassDlgItem(IDC_VERSION_LINE, page));
    never.SetUnderlineMode(0);
    SendMessageW(never.m_hWnd, WM_MOUSEMOVE, 0, 0);
    EXPECT_FALSE(Underlined(never.m_hWnd)) << "mode 0 never underlines";

    link.SetUnderlineMode(1);
    EXPECT_TRUE(Underlined());
    EXPECT_STREQ(link.GetLinkUrl(), L"Glimmerly &EULA") << "a link without an address takes its text";

    // Left-aligned: the left edge stays, the width becomes the text's.
    RECT rect;
    GetWindowRect(link.m_hWnd, &rect);
    HDC dc = GetDC(link.m_hWnd);
    LOGFONTW underlined;
    GetObjectW((HFONT)SendMessageW(link.m_hWnd, WM_GETFONT, 0, 0), sizeof underlined, &underlined);
    HFONT measure = CreateFontIndirectW(&underlined);
    HGDIOBJ previous = SelectObject(dc, measure);
    SIZE extent;
    GetTextExtentPoint32W(dc, L"Glimmerly EULA", 14, &extent);
    SelectObject(dc, previous);
    DeleteObject(measure);
    ReleaseDC(link.m_hWnd, dc);
    EXPECT_EQ(rect.right - rect.left, extent.cx);
}

TEST_F(LinkOnWelcomePage, ColoursFollowHoverAndVisits) {
    link.SetLinkUrl(L"https://www.glimmerly.example/eula");
    EXPECT_EQ(TextColour(), RGB(0, 0, 238));
    recorder.shellResult = SE_ERR_NOASSOC;
    Click();
    EXPECT_EQ(recorder.opened, L"https://www.glimmerly.example/eula");
    EXPECT_EQ(recorder.beeps, (std::vector<UINT>{MB_ICONEXCLAMATION}));
    EXPECT_EQ(TextColour(), RGB(0, 0, 238));

    recorder.shellResult = 42;
    Click();
    EXPECT_EQ(recorder.beeps.size(), 1u);
    EXPECT_EQ(TextColour(), RGB(85, 26, 139)) << "visited";
    SendMessageW(link.m_hWnd, WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(TextColour(), RGB(255, 0, 0)) << "hovered, whatever the visited state";
}

TEST_F(LinkOnWelcomePage, OpensFromTheKeyboard) {
    link.SetLinkUrl(L"https://www.glimmerly.example/eula");
    // Its access key, Alt+E, from anywhere on the page; Enter and Space while it has the focus.
    const struct {
        HWND window;
        UINT message;
        WPARAM key;
        LPARAM flags;
    } keys[] = {{GetDlgItem(page, IDC_FOLDER), WM_SYSCHAR, 'e', 1 << 29},
                {link.m_hWnd, WM_KEYDOWN, VK_RETURN, 1},
                {link.m_hWnd, WM_KEYDOWN, VK_SPACE, 1}};
    for (const auto& k : keys) {
        recorder.opened.clear();
        MSG key = {};
        key.hwnd = k.window, key.message = k.message, key.wParam = k.key, key.lParam = k.flags;
        if (!IsDialogMessageW(page, &key))
            DispatchMessageW(&key);
        EXPECT_EQ(recorder.opened, L"https://www.glimmerly.example/eula") << k.key;
    }
    EXPECT_TRUE(GetWindowLongW(link.m_hWnd, GWL_STYLE) & WS_TABSTOP);
}

TEST(HyperLinkFallback, BrowserCommandDropsThePlaceholder) {
    wchar_t line[256];
    ASSERT_TRUE(BuildBrowserCommand(L"\"C:\\Web\\browser.exe\" \"%1\"", L"https://a.example/", line, 256));
    EXPECT_STREQ(line, L"\"C:\\Web\\browser.exe\"  https://a.example/");
    ASSERT_TRUE(BuildBrowserCommand(L"C:\\Web\\browser.exe -nohome %1", L"u", line, 256));
    EXPECT_STREQ(line, L"C:\\Web\\browser.exe -nohome  u");
    ASSERT_TRUE(BuildBrowserCommand(L"browser.exe", L"u", line, 256));
    EXPECT_STREQ(line, L"browser.exe u");
    EXPECT_FALSE(BuildBrowserCommand(L"browser.exe", L"u", line, 12)) << "never written past the buffer";
}

// Who was asked to open what: the desktop's shell (it runs as the user) or the program itself.
std::vector<std::wstring> asked;
int desktopAnswers = 0;
int DesktopRoute(const wchar_t* file, const wchar_t*, const wchar_t*, int) {
    asked.push_back(std::wstring(L"desktop ") + file);
    return desktopAnswers;
}
INT_PTR OwnRoute(HWND, const wchar_t* file, const wchar_t*, const wchar_t*, int) {
    asked.push_back(std::wstring(L"own ") + file);
    return 2;
}

int NotElevated() {
    return 0;
}
int Elevated() {
    return 1;
}

// The program's own call runs with the program's rights: an elevated setup makes none.
TEST(ShellOpenAsUser, TheDesktopsShellFirstTheOwnCallOnlyWhereNoneAnswersAndNotElevated) {
    desktopAnswers = 1;
    EXPECT_GT(OpenAsUser(DesktopRoute, OwnRoute, Elevated, NULL, L"https://a.example/", NULL, NULL, SW_SHOW),
              32);
    desktopAnswers = 0;
    EXPECT_EQ(OpenAsUser(DesktopRoute, OwnRoute, NotElevated, NULL, L"C:\\v.exe", L"", NULL, SW_SHOW), 2)
        << "own result";
    EXPECT_EQ(OpenAsUser(DesktopRoute, OwnRoute, Elevated, NULL, L"C:\\w.exe", L"", NULL, SW_SHOW),
              kOpenRefused);
    EXPECT_EQ(asked, (std::vector<std::wstring>{L"desktop https://a.example/", L"desktop C:\\v.exe",
                                                L"own C:\\v.exe", L"desktop C:\\w.exe"}));
}

// What may not be opened is shown instead, and no browser is started from here either.
TEST_F(WizardPages, AnAddressThatMayNotBeOpenedIsShown) {
    recorder = Recorder();
    recorder.shellResult = kOpenRefused;
    FinishChoices faq = {1, 0, 0};
    CarryOutFinishActions(faq, L"C:\\Apps\\Glimmerly\\");
    EXPECT_EQ(CHyperLink::LaunchUrl(L"https://www.glimmerly.example/lizenz.html", SW_SHOW), kOpenRefused);
    EXPECT_EQ(recorder.boxes,
              (std::vector<std::wstring>{L"Bitte \u00F6ffnen Sie diese Seite in Ihrem "
                                         L"Browser:\n\nhttps://www.glimmerly.example/deutsch/faq.html",
                                         L"Bitte \u00F6ffnen Sie diese Seite in Ihrem "
                                         L"Browser:\n\nhttps://www.glimmerly.example/lizenz.html"}));
    EXPECT_EQ(recorder.runs, 0);
}

// "&Fertig stellen" after an installation that needs a restart: the viewer is not offered, later is the
// default, and only "now" asks Windows to restart, through the seam.
TEST_F(WizardPages, RestartIsAskedForOnlyWhenChosenAndTheViewerIsNotStarted) {
    HWND page = CreatePage(IDD_FINISH);
    ASSERT_NE(page, nullptr);
    auto shown = [page](int id) {
        return (GetWindowLongW(GetDlgItem(page, id), GWL_STYLE) & WS_VISIBLE) != 0;
    };
    CheckDlgButton(page, IDC_SHOW_FAQ, BST_CHECKED);
    CheckDlgButton(page, IDC_START_VIEWER, BST_CHECKED);
    EXPECT_FALSE(shown(IDC_RESTART_NOW) || shown(IDC_RESTART_LATER)) << "offered only when needed";
    FinishChoices plain = ReadFinishChoices(page);
    EXPECT_EQ((std::vector<int>{plain.showFaq, plain.startViewer, plain.restartNow}),
              (std::vector<int>{1, 1, 0}));

    OfferRestart(page);
    EXPECT_TRUE(shown(IDC_RESTART_NOW) && shown(IDC_RESTART_LATER));
    EXPECT_EQ((std::vector<UINT>{IsDlgButtonChecked(page, IDC_RESTART_NOW),
                                 IsDlgButtonChecked(page, IDC_RESTART_LATER),
                                 IsDlgButtonChecked(page, IDC_START_VIEWER)}),
              (std::vector<UINT>{BST_UNCHECKED, BST_CHECKED, BST_UNCHECKED}));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_START_VIEWER)));
    const struct { int now, restarts; } cases[] = {{0, 0}, {1, 1}};
    for (const auto& c : cases) {
        recorder = Recorder();
        CheckRadioButton(page, IDC_RESTART_NOW, IDC_RESTART_LATER,
                         c.now ? IDC_RESTART_NOW : IDC_RESTART_LATER);
        // Even a viewer box ticked behind the page's back starts nothing.
        CheckDlgButton(page, IDC_START_VIEWER, BST_CHECKED);
        FinishChoices choices = ReadFinishChoices(page);
        EXPECT_EQ((std::vector<int>{choices.startViewer, choices.restartNow}), (std::vector<int>{0, c.now}));
        CarryOutFinishActions(choices, L"C:\\Apps\\Glimmerly\\");
        EXPECT_EQ(recorder.restarts, c.restarts) << c.now;
        EXPECT_EQ(recorder.opened, L"https://www.glimmerly.example/deutsch/faq.html")
            << "the FAQ box still counts";
    }
    DestroyWindow(GetParent(page));
}

// The logo is averaged down, never sampled: a pixel holds the mean of the source pixels it covers.
TEST(ScaledLogo, EachPixelIsTheMeanOfTheSourcePixelsItCovers) {
    const DWORD black = 0x000000, white = 0xFFFFFF, red = 0xFF0000, blue = 0x0000FF;
    const struct {
        std::vector<DWORD> source;
        int sourceWidth, sourceHeight, width, height;
        std::vector<DWORD> expected;
    } cases[] = {
        // 2 x 2 to 1: black and white make grey.
        {{black, white, white, black}, 2, 2, 1, 1, {0xFF808080}},
        // 4 x 1 to 2 x 1: each half on its own, channels apart.
        {{red, red, blue, white}, 4, 1, 2, 1, {0xFFFF0000, 0xFF8080FF}},
        // 3 x 1 to 2 x 1: the first pixel alone, then the mean of the other two.
        {{white, black, white}, 3, 1, 2, 1, {0xFFFFFFFF, 0xFF808080}},
        // The same size: unchanged, made opaque.
        {{0x123456, 0xABCDEF}, 2, 1, 2, 1, {0xFF123456, 0xFFABCDEF}},
        // Rows too: a 1 x 4 column to 1 x 2.
        {{white, white, black, black}, 1, 4, 1, 2, {0xFFFFFFFF, 0xFF000000}},
    };
    for (const auto& c : cases) {
        std::vector<DWORD> target(c.width * c.height, 0x12345678);
        ScaleDownPixels(c.source.data(), c.sourceWidth, c.sourceHeight, target.data(), c.width, c.height);
        EXPECT_EQ(target, c.expected) << c.sourceWidth << "x" << c.sourceHeight;
    }
}

TEST(ColourStatic, BoldSurvivesTheFaceAndTheBoldChangeResetsTheFace) {
    HWND page = CreatePage(IDD_READY);
    ASSERT_NE(page, nullptr);
    CXColorStatic status;
    ASSERT_TRUE(status.SubclassDlgItem(IDC_STATUS_LINE, page));
    status.ChangeBold(TRUE, FALSE);
    status.ApplyFace(L"Arial", 18, FALSE);
    LOGFONTW font;
    GetObjectW(status.GetOwnFont(), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, L"Arial");
    EXPECT_EQ(font.lfHeight, 18);
    EXPECT_EQ(font.lfWeight, FW_BOLD);

    status.ChangeBold(TRUE, FALSE);
    GetObjectW(status.GetOwnFont(), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, L"Microsoft Sans Serif") << "the window's font again";
    EXPECT_EQ(font.lfWeight, FW_BOLD);
    DestroyWindow(GetParent(page));
}

} // namespace
