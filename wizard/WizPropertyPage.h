#pragma once
#include "framework/PropertySheet.h"
#include "install/InstallOptions.h"
#include "install/InstallResult.h"

#include <shlobj.h>

class CWizPropertySheet;

// The one page class of the wizard. The five pages differ only in their dialog template; every
// override picks the behaviour of the page by its position in the sheet.
class CWizPropertyPage : public CPropertyPage {
  public:
    explicit CWizPropertyPage(UINT templateId) : CPropertyPage(templateId) {}

    BOOL firstActivation = 1;
    COLORREF listBackColor = 0;
    COLORREF listTextColor = 0xFFFFFFFF; // not saved yet
    CWizPropertySheet* sheet = NULL;

    // The ready page after its installation: on to the finish page, or back to the welcome page.
    void EndInstallationStep(InstallResult result);
    // The ready page's line under the bar: the step the installation has reached.
    void ShowCurrentStep();
    // The welcome page's folder field takes the focus, its text selected for typing over.
    void FocusFolderField();

  protected:
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    void DoDataExchange() override;
    BOOL OnSetActive() override;
    LRESULT OnWizardBack() override;
    LRESULT OnWizardNext() override;
    BOOL OnCommand(WORD id, WORD code, HWND control) override;
    // The template id of the page before or after this one, -1 at either end.
    virtual LRESULT GetAdjacentPageID(BOOL forward);

  private:
    int Position() const;
    CWizPropertyPage* PageAt(int position) const;
    void EnableSheetButton(int id, BOOL enable) const;
    int ShowMessage(int stringId, UINT type) const;

    // Welcome page
    void SetUpWelcomePage();
    BOOL CheckTargetFolder();
    void OnShortcutBoxClicked();
    void OnNoShortcuts();
    void OnBrowseFolder();
    // What's-new page
    void LoadChangesText();
    // Associations page
    void SetUpAssociationsPage();
    void OnWriteAssociationsClicked();
    void OnImagesOnly();
    void OnSelectAll();
    void OnSelectNone();
    void SetAllStates(int first, int end, int checked);
    // Ready page
    void SetUpReadyPage();
    void ShowSpaceLine(const wchar_t* folder);
    LRESULT RunInstallationStep();
    // Finish page
    void SetUpFinishPage();
};

// Runs the finish page's offers: the FAQ page, the installed viewer and the restart, as its boxes say.
void RunFinishActions(CWizPropertySheet& sheet);

// What the finish page's boxes ask for when "&Fertig stellen" is pressed.
struct FinishChoices {
    int showFaq, startViewer, restartNow;
};
FinishChoices ReadFinishChoices(HWND finishPage);
// The viewer is started from installedFolder, only as the payload holds it, and not when Windows restarts.
void CarryOutFinishActions(const FinishChoices& choices, const wchar_t* installedFolder);
// The finish page after an installation that needs a restart: now or later (the default) to choose, and
// no viewer to start.
void OfferRestart(HWND finishPage);

// ---- window-free rules of the pages --------------------------------------------------------------

// The welcome page accepts a folder that is not empty and has a drive part (its second character is a
// colon).
int IsAcceptedTargetFolder(const wchar_t* folder);

// A folder chosen in the browser always ends up named after the viewer: a backslash is made sure of,
// then "Glimmerly\" is appended unless the last folder name is already "glimmerly" in any case, or
// the text is no drive root and has no folder name. path holds kPathChars characters.
void AppendViewerFolderName(wchar_t* path);

// The system's folder browser starting at path; 1 with the chosen folder and a trailing backslash
// in path (kPathChars), 0 when nothing was chosen.
int BrowseForTargetFolder(HWND owner, wchar_t* path);
int CALLBACK BrowseCallbackProc(HWND window, UINT message, LPARAM parameter, LPARAM data);

// The changes text as the page shows it: the resource's bytes cut to 20479, then the trailing
// characters that are not letters or digits removed. text holds kChangesChars characters.
enum { kChangesChars = 10240 };
void PrepareChangesText(const void* data, unsigned long size, wchar_t* text);

// Tab, Enter and Esc in the read-only changes box act on the wizard, as on every other page.
void LeaveDialogKeysToWizard(HWND box);

// The progress bar's position, 0 to kProgressRange: the extraction's bytes fill the first nine tenths;
// after it, step (from 1) of steps begun fills its share of the last tenth.
enum { kProgressRange = 1000 };
int ProgressPosition(unsigned long long done, unsigned long long total, int step, int steps);

// The logo scaled to its static's size: each pixel the mean of the source pixels it covers (0xAARRGGBB,
// rows top first; alpha made opaque).
void ScaleDownPixels(const DWORD* source, int sourceWidth, int sourceHeight, DWORD* target, int width,
                     int height);
void ShowScaledLogo(HWND control);

// A size for the ready page: megabytes with one decimal (a decimal comma), from 1024 MB on gigabytes.
void FormatByteSize(unsigned long long bytes, wchar_t* text, size_t chars);

// Enables or disables the association list with its colours and the page's three buttons.
void EnableAssociationList(CWnd* page, HWND list, BOOL enable, COLORREF backColor, COLORREF textColor);

// The association choices of the list for the installation: flag i for every row i below 64 that is
// not unchecked, while the list is enabled; nothing while it is disabled.
void ReadAssociationSelection(HWND list, InstallOptions& options);
