#include "wizard/WizPropertyPage.h"

#include "driver/InstallDriver.h"
#include "driver/SetupChoices.h"
#include "install/PathHelpers.h"
#include "install/PayloadExtraction.h"
#include "install/SwitchOver.h"
#include "res/resource.h"
#include "shell/VersionChecks.h"
#include "wizard/WizPropertySheet.h"

#include <stdio.h>

namespace {

const int kButtons[] = {CPropertySheet::kBackButton, CPropertySheet::kNextButton,
                        CPropertySheet::kCancelButton};

// Called on the installation's thread; the bar moves on the sheet's, and the line under it is read there.
void ShowExtracted(void* context, unsigned long long done, unsigned long long total) {
    PostMessageW(((CWizPropertySheet*)context)->progressBar, PBM_SETPOS, ProgressPosition(done, total, 0, 0),
                 0);
}
void ShowStep(void* context, int step, int steps) {
    CWizPropertySheet* sheet = (CWizPropertySheet*)context;
    PostMessageW(sheet->progressBar, PBM_SETPOS, ProgressPosition(0, 0, step, steps), 0);
    EnterCriticalSection(&sheet->stepLock);
    sheet->currentStep = step;
    LeaveCriticalSection(&sheet->stepLock);
}
void ShowMember(void* context, const char* name) {
    CWizPropertySheet* sheet = (CWizPropertySheet*)context;
    EnterCriticalSection(&sheet->stepLock);
    lstrcpynA(sheet->currentMember, name, sizeof sheet->currentMember);
    LeaveCriticalSection(&sheet->stepLock);
}

// A string of the table with one text put in for its %s.
void FormatMessageText(int id, wchar_t* text, size_t chars, const wchar_t* first,
                       const wchar_t* second = NULL, const wchar_t* third = NULL) {
    wchar_t format[256] = L"";
    LoadStringW(GetModuleHandleW(NULL), id, format, 256);
    _snwprintf(text, chars - 1, format, first, second, third);
    text[chars - 1] = L'\0';
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
    ShowSpaceLine(folder);

    // The user's choice stays across Back and Next.
    if (firstActivation) {
        int applicationData = sheet->hasRecord ? sheet->recorded.iniFolder[0] != L'\0' : IsVistaOrLater();
        CheckDlgButton(IDC_SETTINGS_IN_PROGRAM_FOLDER, !applicationData);
        CheckDlgButton(IDC_SETTINGS_IN_APPLICATION_DATA, applicationData);
    }
    firstActivation = 0;
}

// The space the installation needs (as the installation itself reckons it) and the space free on the
// target's drive, and a warning in their place when it does not fit.
void CWizPropertyPage::ShowSpaceLine(const wchar_t* folder) {
    unsigned long long bytes = 0, files = 0;
    if (!MeasurePayload(IDR_PAYLOAD, L"ZIP", &bytes, &files)) {
        SetDlgItemText(IDC_SPACE_LINE, L"");
        return;
    }
    wchar_t needed[32], freeText[32], drive[3] = {folder[0], folder[0] != L'\0' ? folder[1] : L'\0', L'\0'};
    FormatByteSize(bytes + files * kFileSlackBytes, needed, 32);
    wchar_t root[4] = {drive[0], drive[1], L'\\', L'\0'};
    ULARGE_INTEGER available;
    wchar_t line[256];
    FormatMessageText(IDS_SPACE_NEEDED, line, 256, needed);
    if (drive[1] == L':' && GetDiskFreeSpaceExW(root, &available, NULL, NULL)) {
        FormatByteSize(available.QuadPart, freeText, 32);
        wchar_t sentence[256];
        CopyText(sentence, 256, line);
        if (bytes + files * kFileSlackBytes <= available.QuadPart)
            FormatMessageText(IDS_SPACE_FREE, line, 256, sentence, drive, freeText);
        else
            FormatMessageText(IDS_SPACE_SHORT, line, 256, drive, needed, freeText);
    }
    SetDlgItemText(IDC_SPACE_LINE, line);
}

void CWizPropertyPage::ShowCurrentStep() {
    int step;
    char member[sizeof sheet->currentMember];
    EnterCriticalSection(&sheet->stepLock);
    step = sheet->currentStep;
    CopyMemory(member, sheet->currentMember, sizeof member);
    LeaveCriticalSection(&sheet->stepLock);
    wchar_t text[kPathChars + 64] = L"";
    if (step > 0 && step <= kInstallationSteps) {
        LoadStringW(GetModuleHandleW(NULL), IDS_STEP_SETTINGS + step - 1, text, kPathChars + 64);
    } else if (member[0] != '\0') {
        wchar_t name[kPathChars] = L"";
        if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, member, -1, name, kPathChars))
            MultiByteToWideChar(CP_OEMCP, 0, member, -1, name, kPathChars);
        name[kPathChars - 1] = L'\0';
        for (wchar_t* c = name; *c != L'\0'; ++c)
            if (*c == L'/')
                *c = L'\\';
        FormatMessageText(IDS_STEP_FILES, text, kPathChars + 64, name);
    }
    wchar_t shown[kPathChars + 64] = L"";
    GetDlgItemText(IDC_PROGRESS_STEP, shown, kPathChars + 64);
    if (wcscmp(shown, text) != 0)
        SetDlgItemText(IDC_PROGRESS_STEP, text);
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
    sheet->progressBar = bar;
    sheet->progress = {ShowExtracted, ShowStep, ShowMember, sheet};
    options.progress = &sheet->progress;

    ShowWindow(sheet->statusLabel.m_hWnd, SW_SHOW);
    SendMessageW(bar, PBM_SETRANGE32, 0, kProgressRange);
    SendMessageW(bar, PBM_SETPOS, 0, 0);
    ShowWindow(bar, SW_SHOW);
    SetDlgItemText(IDC_PROGRESS_STEP, L"");
    ShowWindow(GetDlgItem(IDC_PROGRESS_STEP), SW_SHOW);
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
        ShowWindow(GetDlgItem(IDC_PROGRESS_STEP), SW_HIDE);
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

void FormatByteSize(unsigned long long bytes, wchar_t* text, size_t chars) {
    // Tenths of a megabyte, rounded; past 1023.9 MB tenths of a gigabyte.
    unsigned long long tenths = (bytes * 10 + (1ULL << 19)) >> 20;
    const wchar_t* unit = L"MB";
    if (tenths >= 10240) {
        tenths = (bytes * 10 + (1ULL << 29)) >> 30;
        unit = L"GB";
    }
    _snwprintf(text, chars - 1, L"%I64u,%u %s", tenths / 10, (unsigned)(tenths % 10), unit);
    text[chars - 1] = L'\0';
}

int ProgressPosition(unsigned long long done, unsigned long long total, int step, int steps) {
    const int extraction = kProgressRange * 9 / 10;
    if (steps > 0)
        return extraction + (kProgressRange - extraction) * (step > 1 ? step - 1 : 0) / steps;
    if (total == 0)
        return 0;
    return done >= total ? extraction : (int)(done * extraction / total);
}
