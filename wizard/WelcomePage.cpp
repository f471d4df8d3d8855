#include "wizard/WizPropertyPage.h"

#include "framework/Interaction.h"
#include "install/ExistingInstallation.h"
#include "install/PathHelpers.h"
#include "res/resource.h"
#include "shell/ProductVersion.h"
#include "wizard/WizPropertySheet.h"

#include <stdio.h>
#include <wchar.h>

namespace {

const wchar_t kBitWidth[] = L"32";

// Replaces a control's text by the text formed with its template text as the format.
void FormatControlText(CWnd& page, int id, const wchar_t* first, const wchar_t* second) {
    wchar_t format[kPathChars];
    page.GetDlgItemText(id, format, kPathChars);
    wchar_t text[2 * kPathChars];
    _snwprintf(text, 2 * kPathChars - 1, format, first, second);
    text[2 * kPathChars - 1] = L'\0';
    page.SetDlgItemText(id, text);
}

} // namespace

void CWizPropertyPage::SetUpWelcomePage() {
    EnableSheetButton(CPropertySheet::kBackButton, FALSE);
    SendMessageW(sheet->m_hWnd, WM_SETICON, ICON_BIG,
                 (LPARAM)LoadIconW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDI_SETUP)));
    if (firstActivation) {
        SetWindowTextW(sheet->GetDlgItem(CPropertySheet::kBackButton), L"< &Zurück");
        SetWindowTextW(sheet->GetDlgItem(CPropertySheet::kNextButton), L"&Weiter >");
        SendDlgItemMessageW(m_hWnd, IDC_WELCOME_TITLE, WM_SETFONT, (WPARAM)(HFONT)sheet->titleFont, TRUE);

        wchar_t version[16];
        _snwprintf(version, 15, L"%d.%d", kProductMajor, kProductMinor);
        version[15] = L'\0';
        FormatControlText(*this, IDC_WELCOME_TITLE, kBitWidth, NULL);
        FormatControlText(*this, IDC_VERSION_LINE, version, kBitWidth);

        const InstallOptions& recorded = sheet->recorded;
        int record = sheet->hasRecord;
        CheckDlgButton(IDC_DESKTOP_SHORTCUT, record ? recorded.desktopShortcut : 1);
        CheckDlgButton(IDC_THUMBNAILS_SHORTCUT, record ? recorded.thumbnailsShortcut : 1);
        CheckDlgButton(IDC_START_MENU_GROUP, record ? recorded.startMenuGroup : 1);
        CheckRadioButton(m_hWnd, IDC_CURRENT_USER, IDC_ALL_USERS,
                         record && recorded.shortcutsForAllUsers ? IDC_ALL_USERS : IDC_CURRENT_USER);
        OnShortcutBoxClicked();

        wchar_t folder[kPathChars];
        GetDefaultInstallFolder(folder);
        SetDlgItemText(IDC_FOLDER, folder);
        if (ReadInstalledFolder(folder))
            SetDlgItemText(IDC_FOLDER, folder);
    }
    if (FindWindowW(L"Glimmerly", NULL) != NULL)
        ShowMessage(IDS_VIEWER_RUNNING, MB_OK | MB_ICONEXCLAMATION);
    firstActivation = 0;
}

BOOL CWizPropertyPage::CheckTargetFolder() {
    wchar_t folder[kPathChars];
    GetDlgItemText(IDC_FOLDER, folder, kPathChars);
    return IsAcceptedTargetFolder(folder);
}

void CWizPropertyPage::FocusFolderField() {
    SendMessageW(sheet->m_hWnd, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(IDC_FOLDER), TRUE);
}

void CWizPropertyPage::OnShortcutBoxClicked() {
    BOOL any = IsDlgButtonChecked(IDC_DESKTOP_SHORTCUT) || IsDlgButtonChecked(IDC_THUMBNAILS_SHORTCUT) ||
               IsDlgButtonChecked(IDC_START_MENU_GROUP);
    EnableDlgItem(IDC_CURRENT_USER, any);
    EnableDlgItem(IDC_ALL_USERS, any);
}

void CWizPropertyPage::OnNoShortcuts() {
    CheckDlgButton(IDC_DESKTOP_SHORTCUT, 0);
    CheckDlgButton(IDC_THUMBNAILS_SHORTCUT, 0);
    CheckDlgButton(IDC_START_MENU_GROUP, 0);
    EnableDlgItem(IDC_CURRENT_USER, FALSE);
    EnableDlgItem(IDC_ALL_USERS, FALSE);
}

void CWizPropertyPage::OnBrowseFolder() {
    wchar_t folder[kPathChars];
    GetDlgItemText(IDC_FOLDER, folder, kPathChars);
    if (!BrowseForTargetFolder(GetActiveWindow(), folder))
        return;
    AppendViewerFolderName(folder);
    SetDlgItemText(IDC_FOLDER, folder);
}

int IsAcceptedTargetFolder(const wchar_t* folder) {
    return folder[0] != L'\0' && folder[1] == L':';
}

void AppendViewerFolderName(wchar_t* path) {
    size_t length = wcslen(path);
    if ((length == 0 || path[length - 1] != L'\\') && AppendText(path, kPathChars, L"\\"))
        ++length;
    // The backslash that starts the last folder name, looking from before the final one.
    int start = (int)length - 2;
    while (start > 0 && path[start] != L'\\')
        --start;
    bool append = start > 0 ? _wcsicmp(path + start, L"\\glimmerly\\") != 0 : length == 3;
    // Appended only whole: a cut name would be a wrong folder.
    if (append && length + 10 < kPathChars)
        AppendText(path, kPathChars, L"Glimmerly\\");
}

int BrowseForTargetFolder(HWND owner, wchar_t* path) {
    wchar_t instruction[50] = L"";
    LoadStringW(GetModuleHandleW(NULL), IDS_TARGET_FOLDER_LABEL, instruction, 50);
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.lpszTitle = instruction;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = BrowseCallbackProc;
    info.lParam = (LPARAM)path;
    wchar_t chosen[kPathChars] = L"";
    if (!BrowseForFolder(&info, chosen))
        return 0;
    CopyText(path, kPathChars, chosen);
    AppendBackslash(path);
    return 1;
}

int CALLBACK BrowseCallbackProc(HWND window, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED) {
        wchar_t start[kPathChars];
        CopyText(start, kPathChars, (const wchar_t*)data);
        size_t length = wcslen(start);
        if (length > 3 && start[length - 1] == L'\\')
            start[length - 1] = L'\0';
        SendMessageW(window, BFFM_SETSELECTIONW, TRUE, (LPARAM)start);
    }
    return 0;
}
