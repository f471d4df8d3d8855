#include "wizard/WizPropertyPage.h"

#include "driver/InstallDriver.h"
#include "driver/SetupChoices.h"
#include "install/PathHelpers.h"
#include "res/resource.h"
#include "shell/VersionChecks.h"
#include "wizard/WizPropertySheet.h"

#include <stdio.h>

namespace {

const int kButtons[] = {CPropertySheet::kBackButton, CPropertySheet::kNextButton,
                        CPropertySheet::kCancelButton};

// Called on the installation's thread; the bar moves on the sheet's.
void ShowExtracted(void* bar, unsigned long long done, unsigned long long total) {
    PostMessageW((HWND)bar, PBM_SETPOS, ProgressPosition(done, total, 0, 0), 0);
}
void ShowStep(void* bar, int step, int steps) {
    PostMessageW((HWND)bar, PBM_SETPOS, ProgressPosition(0, 0, step, steps), 0);
}

} // namespace

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

    // The user's choice stays across Back and Next.
    if (firstActivation) {
        int applicationData = sheet->hasRecord ? sheet->recorded.iniFolder[0] != L'\0' : IsVistaOrLater();
        CheckDlgButton(IDC_SETTINGS_IN_PROGRAM_FOLDER, !applicationData);
        CheckDlgButton(IDC_SETTINGS_IN_APPLICATION_DATA, applicationData);
    }
    firstActivation = 0;
}

LRESULT CWizPropertyPage::RunInstallationStep() {
    if (FindWindowW(L"Glimmerly", NULL) != NULL) {
        ShowMessage(IDS_VIEWER_RUNNING, MB_OK | MB_ICONEXCLAMATION);
        sheet->result = kInstallViewerRunning;
        return -1;
    }

    InstallOptions& options = sheet->installation;
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
    HWND bar = GetDlgItem(IDC_INSTALL_PROGRESS);
    sheet->progress = {ShowExtracted, ShowStep, bar};
    options.progress = &sheet->progress;

    ShowWindow(sheet->statusLabel.m_hWnd, SW_SHOW);
    SendMessageW(bar, PBM_SETRANGE32, 0, kProgressRange);
    SendMessageW(bar, PBM_SETPOS, 0, 0);
    ShowWindow(bar, SW_SHOW);
    for (int button : kButtons)
        EnableSheetButton(button, FALSE);
    // The page's choices are taken; a click on them now would only seem to count.
    EnableWindow(m_hWnd, FALSE);
    sheet->StartInstallation();
    return -1;
}

void CWizPropertyPage::EndInstallationStep(InstallResult result) {
    sheet->result = result;
    EnableWindow(m_hWnd, TRUE);
    for (int button : kButtons)
        EnableSheetButton(button, TRUE);
    int next = (int)GetAdjacentPageID(TRUE);
    if (!RanToItsEnd(result)) {
        // Nothing is being installed any more once the welcome page is back.
        ShowWindow(sheet->statusLabel.m_hWnd, SW_HIDE);
        ShowWindow(GetDlgItem(IDC_INSTALL_PROGRESS), SW_HIDE);
        next = (int)PageAt(kWelcomePosition)->GetTemplateId();
    } else {
        // The finish page starts the viewer from where the files went, not from the field as typed.
        CopyText(sheet->installedFolder, kPathChars, sheet->installation.targetFolder);
        RecordChoices(sheet->installation);
    }
    SendMessageW(sheet->m_hWnd, PSM_SETCURSELID, 0, next);
    // The folder is what the user has to change after these two failures.
    if (result == kInstallInvalidFolder || result == kInstallFolderNotCreated)
        PageAt(kWelcomePosition)->FocusFolderField();
}

int ProgressPosition(unsigned long long done, unsigned long long total, int step, int steps) {
    const int extraction = kProgressRange * 9 / 10;
    if (steps > 0)
        return extraction + (kProgressRange - extraction) * (step > 1 ? step - 1 : 0) / steps;
    if (total == 0)
        return 0;
    return done >= total ? extraction : (int)(done * extraction / total);
}
