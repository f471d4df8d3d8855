// The viewer's uninstaller: removes what the setup program wrote for the installation in its own folder,
// and nothing that names another installation or another program. The user's settings folder stays.
#include "payload/uninstall.h"

#include "app/StartUp.h"
#include "install/PayloadExtraction.h"
#include "install/SwitchOver.h"

#include <stdio.h>

namespace uninstall {

namespace {

const wchar_t kTitle[] = L"Glimmerly deinstallieren";

// The payload archive's members, listed when the archive is packed; folders end in a backslash.
const wchar_t* const kPayloadMembers[] = {
#include "payload_members.inc"
};
// Written beside the payload by the setup program: the settings or the pointer to them, and the file
// of their conversion to UTF-16.
const wchar_t* const kSetupFiles[] = {L"gl_main32.ini", L"gl_main32.ini_temp"};

// The files that could not be deleted, each with the system's reason; the first few are named.
class Leftovers {
  public:
    void Add(const wchar_t* file, DWORD error) {
        if (count_++ >= kNamed)
            return;
        wchar_t reason[160] = L"";
        DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error,
                                      0, reason, 160, NULL);
        if (length == 0 || length >= 160)
            length = (DWORD)_snwprintf(reason, 159, L"Fehler %lu", error);
        reason[159] = L'\0';
        while (length > 0 && length < 160 && wcschr(L"\r\n .", reason[length - 1]) != NULL)
            reason[--length] = L'\0';
        list_.Append(L"\n").Append(file).Append(L": ").Append(reason);
    }
    bool Empty() const { return count_ == 0; }
    Text List() const {
        if (count_ <= kNamed)
            return list_;
        wchar_t more[40];
        _snwprintf(more, 39, L"\nund %d weitere", count_ - kNamed);
        more[39] = L'\0';
        return list_ + more;
    }

  private:
    static const int kNamed = 6;
    int count_ = 0;
    Text list_;
};

bool IsFolderMember(const wchar_t* member) {
    return member[wcslen(member) - 1] == L'\\';
}

// The setup program keeps a newer or foreign icons library instead of writing its own; that one stays.
bool KeptIcons(const Installation& installation, const wchar_t* member) {
    Text path = installation.folder + member;
    return Same(member, L"Plugins\\Icons.dll") && path.Usable() && DecideKeepIcons(path.c_str()) != 0;
}

// Files first, then the folders left empty: what the user put into them keeps them. The uninstaller's
// own file goes only with all the others, so that the uninstall entry can start it again. The setup
// program's work folders go before them: an upgrade leaves the previous version's files hidden in one for
// the next run to delete, and what a killed run left is given back first, as the next run would.
void RemoveFiles(const Installation& installation, Leftovers& leftovers) {
    RepairInterruptedInstallation(installation.folder.c_str());
    auto remove = [&](const wchar_t* file) {
        DWORD error;
        if (installation.Delete(file, error) == Removal::kFailed)
            leftovers.Add(file, error);
    };
    for (const wchar_t* member : kPayloadMembers)
        if (!IsFolderMember(member) && !Same(member, L"gl_uninstall.exe") && !KeptIcons(installation, member))
            remove(member);
    for (const wchar_t* file : kSetupFiles)
        remove(file);
    if (leftovers.Empty())
        remove(L"gl_uninstall.exe");
    DWORD ignored;
    for (size_t i = sizeof kPayloadMembers / sizeof kPayloadMembers[0]; i-- > 0;)
        if (IsFolderMember(kPayloadMembers[i]))
            installation.Delete(kPayloadMembers[i], ignored);
    installation.Delete(L"", ignored);
}

void RemoveInstallation(const Installation& installation, bool silent) {
    Leftovers leftovers;
    RemoveFiles(installation, leftovers);
    RemoveLinks(installation);
    RemoveRegistration(installation);
    if (leftovers.Empty())
        RemoveUninstallEntry(installation);
    if (silent)
        return;
    Text done(L"Glimmerly wurde von Ihrem Computer entfernt.");
    if (!leftovers.Empty())
        done = Text(L"Glimmerly wurde nicht vollst\u00E4ndig entfernt. Diese Dateien in ") +
               installation.folder + L" lassen sich nicht l\u00F6schen:\n" + leftovers.List() +
               L"\n\nBeenden Sie die Programme, die sie verwenden, und starten Sie die Deinstallation noch "
               L"einmal: Ihr Eintrag in der Liste der installierten Programme bleibt daf\u00FCr bestehen.";
    else if (GetFileAttributesW(installation.folder.c_str()) != INVALID_FILE_ATTRIBUTES)
        done =
            done + L"\n\nDer Ordner " + installation.folder +
            L" enth\u00E4lt noch Dateien, die diese Installation nicht geschrieben hat, und bleibt bestehen.";
    MessageBoxW(NULL, done.c_str(), kTitle, MB_OK | MB_ICONINFORMATION);
}

} // namespace

} // namespace uninstall

using namespace uninstall;

// gl_uninstall.exe [/silent]; the copy that does the work gets /after=PROCESS /copy=FILE /folder=FOLDER as
// well: handles of the program that started it and of its own file, and the installation's folder.
// Exit status: 0 removal started or done, 1 declined, impossible or not this installation's folder, 2 the
// viewer runs.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    RestrictDllSearchPath();
    const wchar_t* line = commandLine != NULL ? commandLine : L"";
    const wchar_t* after = wcsstr(line, L"/after=");
    const wchar_t* folder = wcsstr(line, L"/folder=");
    if (after != NULL && folder != NULL && after < folder) {
        Text options(line, folder - line);
        bool silent = wcsstr(options.c_str(), L"/silent") != NULL;
        HANDLE original = (HANDLE)(ULONG_PTR)_wcstoui64(after + 7, NULL, 10);
        WaitForSingleObject(original, 60000);
        CloseHandle(original);
        const wchar_t* copy = wcsstr(options.c_str(), L"/copy=");
        HANDLE file = copy != NULL ? (HANDLE)(ULONG_PTR)_wcstoui64(copy + 6, NULL, 10) : NULL;
        Installation installation(folder + 8);
        bool confirmed = installation.Confirm();
        if (confirmed)
            RemoveInstallation(installation, silent);
        MoveOutOfFolder(file);
        return confirmed ? 0 : 1;
    }

    bool silent = wcsstr(line, L"/silent") != NULL;
    // A running viewer holds its files; removing the rest would leave a broken half.
    if (FindWindowW(L"Glimmerly", NULL) != NULL) {
        if (!silent)
            MessageBoxW(NULL,
                        L"Glimmerly l\u00E4uft!\nBeenden Sie bitte Glimmerly, bevor Sie es deinstallieren.",
                        kTitle, MB_OK | MB_ICONWARNING);
        return 2;
    }
    Text self = ModulePath();
    if (!self.Usable())
        return 1;
    Installation installation(self.Parent());
    if (!installation.Confirm()) {
        if (!silent)
            MessageBoxW(
                NULL,
                (Text(L"Der Ordner ") + installation.folder +
                 L" ist nicht der Ordner, in dem Windows Glimmerly als installiert f\u00FChrt. Es wurde "
                 L"nichts entfernt.")
                    .c_str(),
                kTitle, MB_OK | MB_ICONWARNING);
        return 1;
    }
    if (!silent && MessageBoxW(NULL,
                               L"M\u00F6chten Sie Glimmerly 4.62 und alle zugeh\u00F6rigen Komponenten von "
                               L"Ihrem Computer entfernen?",
                               kTitle, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return 1;
    if (!StartRemovalCopy(installation, silent))
        RemoveInstallation(installation, silent);
    return 0;
}
