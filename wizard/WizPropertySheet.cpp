#include "wizard/WizPropertySheet.h"

#include "driver/InstallDriver.h"
#include "driver/SetupChoices.h"
#include "framework/Interaction.h"
#include "framework/SystemLibrary.h"
#include "res/resource.h"
#include "wizard/WizPropertyPage.h"

#include <process.h>

CWizPropertySheet wizardSheet(L"Glimmerly Setup");

namespace {

const UINT kApplyDefaultButton = WM_APP + 1, kInstallationEnded = WM_APP + 2;
// The line under the bar changes at most ten times a second, however fast the members go by.
const UINT_PTR kStepTimer = 1;
const UINT kStepMilliseconds = 100;

typedef BOOL(WINAPI* BlockReasonCreateFunction)(HWND, LPCWSTR);
typedef BOOL(WINAPI* BlockReasonDestroyFunction)(HWND);

// Only Vista and later show a reason beside a program that holds up the shutdown.
void BlockShutdown(HWND sheet, const wchar_t* reason) {
    if (BlockReasonCreateFunction create =
            SystemFunction<BlockReasonCreateFunction>(L"user32.dll", "ShutdownBlockReasonCreate"))
        create(sheet, reason);
}

void AllowShutdown(HWND sheet) {
    if (BlockReasonDestroyFunction destroy =
            SystemFunction<BlockReasonDestroyFunction>(L"user32.dll", "ShutdownBlockReasonDestroy"))
        destroy(sheet);
}

// The sheet in the middle of the work area of the screen it is on.
void CentreOnWorkArea(HWND window) {
    RECT area, frame;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0) || !GetWindowRect(window, &frame))
        return;
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    int left = area.left + (area.right - area.left - width) / 2,
        top = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(window, NULL, left > area.left ? left : area.left, top > area.top ? top : area.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

unsigned __stdcall InstallationThread(void* data) {
    CWizPropertySheet* sheet = (CWizPropertySheet*)data;
    PostMessageW(sheet->m_hWnd, kInstallationEnded, RunInstallation(sheet->installation, &sheet->skipped), 0);
    return 0;
}

} // namespace

const wchar_t kLicenceUrl[] = L"https://www.glimmerly.example/deutsch/lizenz.html";
const wchar_t kFaqUrl[] = L"https://www.glimmerly.example/deutsch/faq.html";

CWizPropertySheet::CWizPropertySheet(const wchar_t* caption, HWND parent, UINT startPage)
    : CPropertySheet(caption, parent, startPage) {
    m_psh.dwFlags |= PSH_WIZARD;
    InitializeCriticalSection(&stepLock);
}

CWizPropertySheet::~CWizPropertySheet() {
    DeleteCriticalSection(&stepLock);
}

void CWizPropertySheet::AddPage(CWizPropertyPage* page) {
    CPropertySheet::AddPage(page);
    page->sheet = this;
}

BOOL CWizPropertySheet::OnInitDialog() {
    CopyText(captionText, kPathChars, L"Glimmerly 32-bit Setup");
    ResetInstallOptions(recorded);
    hasRecord = ReadRecordedChoices(recorded);
    BOOL result = CPropertySheet::OnInitDialog();
    wchar_t exitText[64] = L"";
    LoadStringW(GetModuleHandleW(NULL), IDS_EXIT_BUTTON, exitText, 64);
    SetDlgItemText(kCancelButton, exitText);
    SetWindowTextW(m_hWnd, captionText);
    CentreOnWorkArea(m_hWnd);
    return result;
}

BOOL CWizPropertySheet::ConfirmExit() {
    wchar_t question[256] = L"";
    LoadStringW(GetModuleHandleW(NULL), IDS_CONFIRM_EXIT, question, 256);
    return MessageBox(question, captionText, MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) == IDYES;
}

BOOL CWizPropertySheet::OnCommand(WPARAM wParam, LPARAM lParam) {
    // Esc and anything else that reaches the sheet while the installation runs is dropped, so it
    // does not act on the page that follows.
    if (installer_ != NULL)
        return TRUE;
    if (LOWORD(wParam) == kCancelButton) {
        if (GetActiveIndex() == kFinishPosition) {
            // Esc and the close box leave the finish page as they leave any window: without its actions.
            if (!closedWithoutActions_ && GetKeyState(VK_ESCAPE) >= 0)
                RunFinishActions(*this);
        }
        // The close box asks first and then arrives here as Cancel: one question is enough.
        else if (!exitConfirmed_ && !ConfirmExit())
            return TRUE;
    }
    return CPropertySheet::OnCommand(wParam, lParam);
}

void CWizPropertySheet::OnSysCommand(UINT id, LPARAM lParam) {
    // The close box and Alt+F4 do nothing while the installation runs: ending it half-way would leave
    // a broken installation.
    if (id == SC_CLOSE && installer_ != NULL)
        return;
    if (id == SC_CLOSE && GetActiveIndex() != kFinishPosition) {
        if (!ConfirmExit())
            return;
        exitConfirmed_ = TRUE;
    }
    if (id == SC_CLOSE)
        closedWithoutActions_ = TRUE;
    CPropertySheet::OnSysCommand(id, lParam);
}

LRESULT CWizPropertySheet::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kApplyDefaultButton) {
        ApplyDefaultButton();
        return 0;
    }
    // Ending the program half-way would leave a broken installation, whoever asks for it.
    if (message == WM_CLOSE && installer_ != NULL)
        return 0;
    if (message == WM_QUERYENDSESSION && installer_ != NULL)
        return FALSE;
    if (message == WM_TIMER && wParam == kStepTimer) {
        ((CWizPropertyPage*)GetPage(kReadyPosition))->ShowCurrentStep();
        return 0;
    }
    if (message == kInstallationEnded && installer_ != NULL) {
        KillTimer(m_hWnd, kStepTimer);
        WaitForSingleObject(installer_, INFINITE);
        CloseHandle(installer_);
        installer_ = NULL;
        AllowShutdown(m_hWnd);
        SetMessageBoxOwner(NULL);
        ((CWizPropertyPage*)GetPage(kReadyPosition))->EndInstallationStep((InstallResult)wParam);
        return 0;
    }
    // The platform names a wizard after each page it shows; the pages have no caption of their own,
    // and the sheet keeps its one title.
    if (message == WM_SETTEXT && captionText[0] != L'\0')
        lParam = (LPARAM)captionText;
    return CPropertySheet::WindowProc(message, wParam, lParam);
}

// The sheet keeps its message loop meanwhile; the installation's questions and failures are still
// shown by this thread, owned by the sheet.
void CWizPropertySheet::StartInstallation() {
    SetMessageBoxOwner(m_hWnd);
    wchar_t reason[256] = L"";
    GetWindowTextW(statusLabel.m_hWnd, reason, 256);
    BlockShutdown(m_hWnd, reason);
    EnterCriticalSection(&stepLock);
    currentStep = 0;
    currentMember[0] = '\0';
    LeaveCriticalSection(&stepLock);
    SetTimer(m_hWnd, kStepTimer, kStepMilliseconds, NULL);
    installer_ = (HANDLE)_beginthreadex(NULL, 0, InstallationThread, this, 0, NULL);
    if (installer_ == NULL) {
        KillTimer(m_hWnd, kStepTimer);
        SetMessageBoxOwner(NULL);
        AllowShutdown(m_hWnd);
        ((CWizPropertyPage*)GetPage(kReadyPosition))
            ->EndInstallationStep(RunInstallation(installation, &skipped));
    }
}

void CWizPropertySheet::RequestDefaultButton() const {
    PostMessageW(m_hWnd, kApplyDefaultButton, 0, 0);
}

// Enter moves on: Next, or "&Fertig stellen" on the finish page. A pressed button becomes the
// platform's default, and Back stayed it after going back, so this runs after every page change.
void CWizPropertySheet::ApplyDefaultButton() {
    int id = GetActiveIndex() == kFinishPosition ? (int)kCancelButton : (int)kNextButton;
    SendMessageW(m_hWnd, DM_SETDEFID, id, 0);
    HWND focus = GetFocus();
    if (focus == NULL || !IsWindowEnabled(focus) || !IsChild(m_hWnd, focus)) {
        HWND page = (HWND)SendMessageW(m_hWnd, PSM_GETCURRENTPAGEHWND, 0, 0);
        HWND first = GetNextDlgTabItem(page, NULL, FALSE);
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, (WPARAM)(first != NULL ? first : GetDlgItem(id)), TRUE);
    }
}

int FindViewerWindow() {
    for (int attempt = 0; attempt < 5; ++attempt) {
        HWND viewer = FindWindowExW(NULL, NULL, L"Glimmerly", NULL);
        if (viewer != NULL) {
            SetForegroundWindow(viewer);
            return 1;
        }
        Sleep(500);
    }
    return 0;
}
