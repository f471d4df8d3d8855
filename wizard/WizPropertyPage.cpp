#include "wizard/WizPropertyPage.h"

#include "res/resource.h"
#include "wizard/WizPropertySheet.h"

int CWizPropertyPage::Position() const {
    return sheet->GetPageIndex(this);
}

CWizPropertyPage* CWizPropertyPage::PageAt(int position) const {
    return (CWizPropertyPage*)sheet->GetPage(position);
}

void CWizPropertyPage::EnableSheetButton(int id, BOOL enable) const {
    EnableWindow(sheet->GetDlgItem(id), enable);
}

int CWizPropertyPage::ShowMessage(int stringId, UINT type) const {
    wchar_t text[1024] = L"";
    LoadStringW(GetModuleHandleW(NULL), stringId, text, 1024);
    return MessageBox(text, sheet->captionText, type);
}

BOOL CWizPropertyPage::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
    return CPropertyPage::OnNotify(wParam, lParam, result);
}

void CWizPropertyPage::DoDataExchange() {
    ShowScaledLogo(GetDlgItem(IDC_LOGO));
    switch (Position()) {
    case kWelcomePosition:
        // Attaching resets the underline mode, so the mode is set afterwards.
        sheet->eulaLink.SubclassDlgItem(IDC_EULA_LINK, m_hWnd);
        sheet->eulaLink.SetUnderlineMode(1);
        sheet->eulaLink.SetLinkUrl(kLicenceUrl);
        break;
    case kWhatsNewPosition:
        LeaveDialogKeysToWizard(GetDlgItem(IDC_CHANGES));
        break;
    case kReadyPosition: {
        int dpi = 96;
        if (HDC dc = GetDC(sheet->m_hWnd)) {
            dpi = GetDeviceCaps(dc, LOGPIXELSX);
            ReleaseDC(sheet->m_hWnd, dc);
        }
        // The bold change rebuilds the font from the window's, so the face comes last.
        sheet->statusLabel.SubclassDlgItem(IDC_STATUS_LINE, m_hWnd);
        sheet->statusLabel.ChangeTextColour(RGB(255, 0, 0), FALSE);
        sheet->statusLabel.ChangeBold(TRUE, TRUE);
        sheet->statusLabel.ApplyFace(L"Arial", MulDiv(18, dpi, 96), TRUE);
        break;
    }
    }
}

BOOL CWizPropertyPage::OnSetActive() {
    switch (Position()) {
    case kWelcomePosition:
        SetUpWelcomePage();
        break;
    case kWhatsNewPosition:
        LoadChangesText();
        break;
    case kAssociationsPosition:
        SetUpAssociationsPage();
        break;
    case kReadyPosition:
        SetUpReadyPage();
        break;
    case kFinishPosition:
        SetUpFinishPage();
        break;
    }
    sheet->RequestDefaultButton();
    return CPropertyPage::OnSetActive();
}

LRESULT CWizPropertyPage::GetAdjacentPageID(BOOL forward) {
    int position = Position() + (forward ? 1 : -1);
    if (position < 0 || position >= sheet->GetPageCount())
        return -1;
    return PageAt(position)->GetTemplateId();
}

LRESULT CWizPropertyPage::OnWizardBack() {
    return GetAdjacentPageID(FALSE);
}

LRESULT CWizPropertyPage::OnWizardNext() {
    EnableSheetButton(CPropertySheet::kBackButton, TRUE);
    switch (Position()) {
    case kWelcomePosition:
        if (!CheckTargetFolder()) {
            ShowMessage(IDS_INVALID_FOLDER, MB_OK | MB_ICONERROR);
            EnableSheetButton(CPropertySheet::kBackButton, FALSE);
            FocusFolderField();
            return -1;
        }
        break;
    case kReadyPosition:
        return RunInstallationStep();
    }
    return GetAdjacentPageID(TRUE);
}

BOOL CWizPropertyPage::OnCommand(WORD id, WORD code, HWND control) {
    if (code != BN_CLICKED || control == NULL)
        return FALSE;
    switch (id) {
    case IDC_BROWSE:
        OnBrowseFolder();
        return TRUE;
    case IDC_DESKTOP_SHORTCUT:
    case IDC_THUMBNAILS_SHORTCUT:
    case IDC_START_MENU_GROUP:
        OnShortcutBoxClicked();
        return TRUE;
    case IDC_NO_SHORTCUTS:
        OnNoShortcuts();
        return TRUE;
    case IDC_WRITE_ASSOCIATIONS:
        OnWriteAssociationsClicked();
        return TRUE;
    case IDC_IMAGES_ONLY:
        OnImagesOnly();
        return TRUE;
    case IDC_SELECT_ALL:
        OnSelectAll();
        return TRUE;
    case IDC_SELECT_NONE:
        OnSelectNone();
        return TRUE;
    }
    return FALSE;
}
