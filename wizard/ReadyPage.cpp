#include "wizard/WizPropertyPage.h"

#include "driver/InstallDriver.h"
#include "install/PathHelpers.h"
#include "res/resource.h"
#include "shell/VersionChecks.h"
#include "wizard/WizPropertySheet.h"

#include <stdio.h>

void CWizPropertyPage::SetUpReadyPage() {
    SendDlgItemMessageW(m_hWnd, IDC_READY_TITLE, WM_SETFONT, (WPARAM)(HFONT)sheet->titleFont, TRUE);

    wchar_t folder[kPathChars];
    PageAt(kWelcomePosition)->GetDlgItemText(IDC_FOLDER, folder, kPathChars);
    TrimBlanks(folder);
    wchar_t word[50] = L"";
    LoadStringW(GetModuleHandleW(NULL), IDS_TARGET_FOLDER, word, 50);
    wchar_t line[50 + 2 + kPathChars];
    _snwprintf(line, sizeof line / sizeof line[0] - 1, L"%s: %s", word, folder);
    line[sizeof line / sizeof line[0] - 1] = L'\0';
    SetDlgItemText(IDC_TARGET_LINE, line);

    int vista = IsVistaOrLater();
    CheckDlgButton(IDC_SETTINGS_IN_PROGRAM_FOLDER, !vista);
    CheckDlgButton(IDC_SETTINGS_IN_APPLICATION_DATA, vista);
}

LRESULT CWizPropertyPage::RunInstallationStep() {
    if (FindWindowW(L"Glimmerly", NULL) != NULL) {
        ShowMessage(IDS_VIEWER_RUNNING, MB_OK | MB_ICONEXCLAMATION);
        sheet->result = kInstallViewerRunning;
        return -1;
    }

    InstallOptions options;
    ResetInstallOptions(options);
    CWizPropertyPage* welcome = PageAt(kWelcomePosition);
    wchar_t folder[kPathChars];
    welcome->GetDlgItemText(IDC_FOLDER, folder, kPathChars);
    TrimBlanks(folder);
    CopyText(options.targetFolder, kOptionsFolderChars, folder);
    options.startMenuGroup = welcome->IsDlgButtonChecked(IDC_START_MENU_GROUP);
    options.desktopShortcut = welcome->IsDlgButtonChecked(IDC_DESKTOP_SHORTCUT);
    options.thumbnailsShortcut = welcome->IsDlgButtonChecked(IDC_THUMBNAILS_SHORTCUT);
    options.shortcutsForAllUsers = welcome->IsDlgButtonChecked(IDC_ALL_USERS);
    CWizPropertyPage* associations = PageAt(kAssociationsPosition);
    options.associationsForAllUsers = associations->IsDlgButtonChecked(IDC_ASSOCIATIONS_FOR_ALL_USERS);
    ReadAssociationSelection(sheet->associationList, options);
    if (IsDlgButtonChecked(IDC_SETTINGS_IN_APPLICATION_DATA))
        CopyText(options.iniFolder, kOptionsFolderChars, L"%APPDATA%\\Glimmerly");
    options.silent = 0;
    options.caption = sheet->captionText;

    // Painted now: the installation blocks the window until it returns.
    ShowWindow(sheet->statusLabel.m_hWnd, SW_SHOW);
    UpdateWindow(sheet->statusLabel.m_hWnd);
    const int buttons[] = {CPropertySheet::kBackButton, CPropertySheet::kNextButton,
                           CPropertySheet::kCancelButton};
    for (int button : buttons)
        EnableSheetButton(button, FALSE);
    sheet->result = RunInstallation(options);
    for (int button : buttons)
        EnableSheetButton(button, TRUE);

    if (sheet->result != kInstallComplete && sheet->result != kInstallRestartNeeded)
        return PageAt(kWelcomePosition)->GetTemplateId();
    // The finish page starts the viewer from where the files went, not from the field as typed.
    CopyText(sheet->installedFolder, kPathChars, options.targetFolder);
    return GetAdjacentPageID(TRUE);
}
