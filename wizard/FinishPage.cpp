#include "wizard/WizPropertyPage.h"

#include "framework/Interaction.h"
#include "install/InstalledViewer.h"
#include "res/resource.h"
#include "wizard/WizPropertySheet.h"

void CWizPropertyPage::SetUpFinishPage() {
    SendDlgItemMessageW(m_hWnd, IDC_FINISH_TITLE, WM_SETFONT, (WPARAM)(HFONT)sheet->titleFont, TRUE);
    CheckDlgButton(IDC_SHOW_FAQ, 1);
    CheckDlgButton(IDC_START_VIEWER, 1);
    wchar_t finishText[64] = L"";
    LoadStringW(GetModuleHandleW(NULL), IDS_FINISH_BUTTON, finishText, 64);
    SetWindowTextW(sheet->GetDlgItem(CPropertySheet::kCancelButton), finishText);
    EnableSheetButton(CPropertySheet::kBackButton, FALSE);
    EnableSheetButton(CPropertySheet::kNextButton, FALSE);
    // The page's own words call the installation done; with a file still waiting for the restart it
    // is not.
    if (sheet->result == kInstallRestartNeeded) {
        const struct {
            int control, string;
        } restart[] = {{IDC_FINISH_TITLE, IDS_RESTART_TITLE}, {IDC_FINISH_TEXT, IDS_RESTART_NEEDED}};
        for (const auto& line : restart) {
            wchar_t text[128] = L"";
            LoadStringW(GetModuleHandleW(NULL), line.string, text, 128);
            SetDlgItemText(line.control, text);
        }
    }
}

void RunFinishActions(CWizPropertySheet& sheet) {
    CWizPropertyPage* finish = (CWizPropertyPage*)sheet.GetPage(kFinishPosition);
    if (finish->IsDlgButtonChecked(IDC_SHOW_FAQ))
        ShellOpen(GetDesktopWindow(), kFaqUrl, NULL, L"", SW_SHOW);
    if (finish->IsDlgButtonChecked(IDC_START_VIEWER)) {
        wchar_t viewer[kPathChars];
        CopyText(viewer, kPathChars, sheet.installedFolder);
        if (!AppendText(viewer, kPathChars, L"gl_main32.exe"))
            return;
        // Only the viewer this installation wrote is started, and it cannot be swapped while it starts.
        HANDLE held = HoldPayloadMember(viewer, IDR_PAYLOAD, L"ZIP", "gl_main32.exe");
        if (held == INVALID_HANDLE_VALUE)
            return;
        ShellOpen(GetActiveWindow(), viewer, L"", NULL, SW_SHOW);
        Sleep(50);
        sheet.FindViewerWindow();
        CloseHandle(held);
    }
}
