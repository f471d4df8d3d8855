#include "wizard/WizPropertyPage.h"

#include "controls/HyperLink.h"
#include "driver/InstallDriver.h"
#include "framework/Interaction.h"
#include "install/InstalledViewer.h"
#include "res/resource.h"
#include "wizard/WizPropertySheet.h"

void CWizPropertyPage::SetUpFinishPage() {
    SendDlgItemMessageW(m_hWnd, IDC_FINISH_TITLE, WM_SETFONT, (WPARAM)(HFONT)sheet->titleFont, TRUE);
    CheckDlgButton(IDC_SHOW_FAQ, 1);
    CheckDlgButton(IDC_START_VIEWER, 1);
    if (sheet->result == kInstallRestartNeeded)
        OfferRestart(m_hWnd);
    wchar_t finishText[64] = L"";
    LoadStringW(GetModuleHandleW(NULL), IDS_FINISH_BUTTON, finishText, 64);
    SetWindowTextW(sheet->GetDlgItem(CPropertySheet::kCancelButton), finishText);
    EnableSheetButton(CPropertySheet::kBackButton, FALSE);
    EnableSheetButton(CPropertySheet::kNextButton, FALSE);
    // The page's own words call the installation done; with a file still waiting for the restart, or
    // one skipped for a link, it is not.
    if (sheet->result != kInstallRestartNeeded && sheet->result != kInstallLinkSkipped)
        return;
    int restart = sheet->result == kInstallRestartNeeded;
    wchar_t text[kPathChars * 3] = L"";
    LoadStringW(GetModuleHandleW(NULL), restart ? IDS_RESTART_TITLE : IDS_INCOMPLETE_TITLE, text, 128);
    SetDlgItemText(IDC_FINISH_TITLE, text);
    if (restart)
        LoadStringW(GetModuleHandleW(NULL), IDS_RESTART_NEEDED, text, kPathChars * 3);
    else
        DescribeSkippedFiles(sheet->skipped, text, kPathChars * 3);
    SetDlgItemText(IDC_FINISH_TEXT, text);
}

void RunFinishActions(CWizPropertySheet& sheet) {
    CarryOutFinishActions(ReadFinishChoices(sheet.GetPage(kFinishPosition)->m_hWnd), sheet.installedFolder);
}

void OfferRestart(HWND page) {
    ShowWindow(GetDlgItem(page, IDC_RESTART_NOW), SW_SHOW);
    ShowWindow(GetDlgItem(page, IDC_RESTART_LATER), SW_SHOW);
    CheckRadioButton(page, IDC_RESTART_NOW, IDC_RESTART_LATER, IDC_RESTART_LATER);
    // The viewer now on disk is the earlier one until Windows has replaced the file held open.
    CheckDlgButton(page, IDC_START_VIEWER, BST_UNCHECKED);
    EnableWindow(GetDlgItem(page, IDC_START_VIEWER), FALSE);
}

FinishChoices ReadFinishChoices(HWND page) {
    FinishChoices choices;
    choices.showFaq = IsDlgButtonChecked(page, IDC_SHOW_FAQ) == BST_CHECKED;
    choices.startViewer = IsDlgButtonChecked(page, IDC_START_VIEWER) == BST_CHECKED &&
                          IsWindowEnabled(GetDlgItem(page, IDC_START_VIEWER));
    // Offered only after an installation that needs the restart.
    choices.restartNow = (GetWindowLongW(GetDlgItem(page, IDC_RESTART_NOW), GWL_STYLE) & WS_VISIBLE) &&
                         IsDlgButtonChecked(page, IDC_RESTART_NOW) == BST_CHECKED;
    return choices;
}

void CarryOutFinishActions(const FinishChoices& choices, const wchar_t* installedFolder) {
    if (choices.showFaq && ShellOpen(GetDesktopWindow(), kFaqUrl, NULL, L"", SW_SHOW) == kOpenRefused)
        ShowAddressInstead(GetActiveWindow(), kFaqUrl);
    if (choices.restartNow)
        RestartWindows();
    if (choices.startViewer && !choices.restartNow) {
        wchar_t viewer[kPathChars];
        CopyText(viewer, kPathChars, installedFolder);
        if (!AppendText(viewer, kPathChars, L"gl_main32.exe"))
            return;
        // Only the viewer this installation wrote is started, and it cannot be swapped while it starts.
        HANDLE held = HoldPayloadMember(viewer, IDR_PAYLOAD, L"ZIP", "gl_main32.exe");
        if (held == INVALID_HANDLE_VALUE)
            return;
        ShellOpen(GetActiveWindow(), viewer, L"", NULL, SW_SHOW);
        Sleep(50);
        FindViewerWindow();
        CloseHandle(held);
    }
}
