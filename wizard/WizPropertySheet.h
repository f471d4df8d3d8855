#pragma once
#include "controls/HyperLink.h"
#include "controls/XColorStatic.h"
#include "framework/Font.h"
#include "framework/PropertySheet.h"
#include "install/InstallOptions.h"
#include "install/InstallProgress.h"
#include "install/InstallResult.h"
#include "install/PathHelpers.h"
#include "install/SkippedFiles.h"

// Positions of the five pages in the sheet.
enum { kWelcomePosition, kWhatsNewPosition, kAssociationsPosition, kReadyPosition, kFinishPosition };

// The frame of the interactive installation: a wizard-mode sheet holding the five pages and what
// they share. It asks before the wizard is abandoned, and runs the finish actions when "&Fertig
// stellen" is pressed. While the installation runs, nothing ends it.
class CWizPropertySheet : public CPropertySheet {
  public:
    CWizPropertySheet(const wchar_t* caption, HWND parent = NULL, UINT startPage = 0);
    ~CWizPropertySheet() override;

    void AddPage(class CWizPropertyPage* page);
    // Asks for the default button to be set again once the page shown now has taken the focus.
    void RequestDefaultButton() const;
    // Runs installation on a thread of its own; the ready page hears of its end on this thread.
    void StartInstallation();

    CFont titleFont;
    HWND associationList = NULL;
    CHyperLink eulaLink;
    CXColorStatic statusLabel;
    wchar_t captionText[kPathChars] = L"";
    // The folder the last successful installation went to, with its trailing backslash.
    wchar_t installedFolder[kPathChars] = L"";
    // What the wizard ends with: the outcome of the last installation the ready page started, or
    // kInstallCancelled when the user leaves before any.
    InstallResult result = kInstallCancelled;
    // The choices of the installation that runs, and where it reports its progress.
    InstallOptions installation;
    InstallProgress progress;
    // The files that installation skipped because a link stood in their place.
    SkippedFiles skipped = {};
    // What the installation's thread last reported for the line under the bar: the step after the
    // extraction (0 while it extracts) and the member being written. The line reads it on a timer.
    CRITICAL_SECTION stepLock;
    int currentStep = 0;
    char currentMember[520] = "";
    HWND progressBar = NULL;
    // The choices of the last installation the wizard completed, where they were recorded; the pages
    // start from them.
    InstallOptions recorded;
    int hasRecord = 0;

  protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void OnSysCommand(UINT id, LPARAM lParam) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    // String 3; TRUE when the user answered Yes.
    BOOL ConfirmExit();
    void ApplyDefaultButton();

    BOOL exitConfirmed_ = FALSE;
    // The close box on the finish page: the program ends without the finish actions.
    BOOL closedWithoutActions_ = FALSE;
    HANDLE installer_ = NULL;
};

// The one sheet of the program.
extern CWizPropertySheet wizardSheet;

// 1 when the viewer's window was found and brought to the front, else 0.
int FindViewerWindow();

// The web pages the wizard opens.
extern const wchar_t kLicenceUrl[];
extern const wchar_t kFaqUrl[];
