#include "wizard/WizPropertyPage.h"

#include "res/resource.h"
#include "shell/FileTypeCatalogue.h"
#include "shell/VersionChecks.h"
#include "wizard/WizPropertySheet.h"

namespace {

const COLORREF kDisabledBackColor = RGB(192, 192, 192);
// Dark orange on grey: 4.9 : 1, so the types can be read before the list is enabled.
const COLORREF kDisabledTextColor = RGB(128, 48, 0);
const UINT kUnchecked = INDEXTOSTATEIMAGEMASK(1);
const UINT kChecked = INDEXTOSTATEIMAGEMASK(2);

} // namespace

void CWizPropertyPage::SetUpAssociationsPage() {
    if (IsVistaOrLater())
        ShowWindow(GetDlgItem(IDC_ASSOCIATIONS_FOR_ALL_USERS), SW_HIDE);
    if (sheet->associationList == NULL) {
        HWND list = GetDlgItem(IDC_ASSOCIATION_LIST);
        sheet->associationList = list;
        if (IsVistaOrLater())
            CheckDlgButton(IDC_WRITE_ASSOCIATIONS, 0);
        const InstallOptions& recorded = sheet->recorded;
        if (sheet->hasRecord) {
            CheckDlgButton(IDC_WRITE_ASSOCIATIONS, recorded.associationsRequested);
            CheckDlgButton(IDC_ASSOCIATIONS_FOR_ALL_USERS, recorded.associationsForAllUsers);
        }
        if (listTextColor == 0xFFFFFFFF) {
            listBackColor = ListView_GetBkColor(list);
            listTextColor = ListView_GetTextColor(list);
        }
        // Mask 0 replaces every extended style.
        SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);

        RECT bounds;
        GetWindowRect(list, &bounds);
        int width = bounds.right - bounds.left;
        int dpi = 96;
        if (HDC dc = GetDC(list)) {
            dpi = GetDeviceCaps(dc, LOGPIXELSX);
            ReleaseDC(list, dc);
        }
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.fmt = LVCFMT_LEFT;
        column.pszText = (LPWSTR)L"";
        column.cx = width / 3;
        ListView_InsertColumn(list, 0, &column);
        column.cx = 2 * width / 3 - MulDiv(25, dpi, 96);
        ListView_InsertColumn(list, 1, &column);
        for (int row = 0; row < fileTypeRowCount; ++row)
            InsertFileTypeRow(
                list, FileTypeCatalogue[row].extensions, FileTypeCatalogue[row].description,
                sheet->hasRecord && row < kAssociationFlags && recorded.associationSelection[row], row);
        // Tab then lands on a row that shows the focus, not on a list without any.
        ListView_SetItemState(list, 0, LVIS_FOCUSED, LVIS_FOCUSED);
    }
    if (!IsDlgButtonChecked(IDC_WRITE_ASSOCIATIONS))
        EnableAssociationList(this, sheet->associationList, FALSE, kDisabledBackColor, kDisabledTextColor);
}

void CWizPropertyPage::OnWriteAssociationsClicked() {
    if (IsDlgButtonChecked(IDC_WRITE_ASSOCIATIONS))
        EnableAssociationList(this, sheet->associationList, TRUE, listBackColor, listTextColor);
    else
        EnableAssociationList(this, sheet->associationList, FALSE, kDisabledBackColor, kDisabledTextColor);
}

void CWizPropertyPage::SetAllStates(int first, int end, int checked) {
    for (int item = first; item < end; ++item)
        ListView_SetItemState(sheet->associationList, item, checked ? kChecked : kUnchecked,
                              LVIS_STATEIMAGEMASK);
}

void CWizPropertyPage::OnSelectAll() {
    SetAllStates(0, ListView_GetItemCount(sheet->associationList), 1);
}

void CWizPropertyPage::OnSelectNone() {
    SetAllStates(0, ListView_GetItemCount(sheet->associationList), 0);
}

void CWizPropertyPage::OnImagesOnly() {
    SetAllStates(0, imageRowCount, 1);
    SetAllStates(imageRowCount, ListView_GetItemCount(sheet->associationList), 0);
}

void EnableAssociationList(CWnd* page, HWND list, BOOL enable, COLORREF backColor, COLORREF textColor) {
    if (list == NULL)
        return;
    EnableWindow(list, enable);
    ListView_SetBkColor(list, backColor);
    // The rows' own background too, or the disabled rows stay white behind the orange text.
    ListView_SetTextBkColor(list, backColor);
    ListView_SetTextColor(list, textColor);
    InvalidateRect(list, NULL, TRUE);
    page->EnableDlgItem(IDC_IMAGES_ONLY, enable);
    page->EnableDlgItem(IDC_SELECT_ALL, enable);
    page->EnableDlgItem(IDC_SELECT_NONE, enable);
}

void ReadAssociationSelection(HWND list, InstallOptions& options) {
    for (int i = 0; i < kAssociationFlags; ++i)
        options.associationSelection[i] = 0;
    options.associationsRequested = 0;
    if (!IsWindowEnabled(list))
        return;
    int count = ListView_GetItemCount(list);
    for (int item = 0; item < count && item < kAssociationFlags; ++item) {
        if (ListView_GetItemState(list, item, LVIS_STATEIMAGEMASK) != kUnchecked) {
            options.associationSelection[item] = 1;
            options.associationsRequested = 1;
        }
    }
}
