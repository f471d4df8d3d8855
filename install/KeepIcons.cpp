#include "install/PayloadExtraction.h"

#include "install/ExistingInstallation.h"
#include "install/PathHelpers.h"

#include <windows.h>
#include <limits.h>
#include <stdlib.h>
#include <wchar.h>

// Apart from the extraction, so the uninstaller applies the same rule without carrying the extraction.
namespace {

int VersionThousandths(const wchar_t* version) {
    char text[kPathChars];
    if (WideCharToMultiByte(CP_ACP, 0, version, -1, text, (int)sizeof text, NULL, NULL) == 0)
        text[0] = '\0';
    // volatile keeps the x87 unit from carrying extra precision past each single-precision step.
    volatile float value = (float)atof(text);
    volatile float scaled = value * 1000.0f;
    float result = scaled;
    if (!(result > (float)INT_MIN && result < (float)INT_MAX))
        return result > 0 ? INT_MAX : INT_MIN;
    return (int)result;
}

} // namespace

int DecideKeepIcons(const wchar_t* iconsPath) {
    wchar_t version[kPathChars];
    wchar_t company[kPathChars];
    if (!ReadFileVersionInfo(iconsPath, version, company, kPathChars))
        return 0;
    return KeepIconsForVersion(version, GetFileSizeBytes(iconsPath), company);
}

int KeepIconsForVersion(const wchar_t* version, unsigned long long sizeBytes, const wchar_t* company) {
    int installed = VersionThousandths(version);
    int threshold = VersionThousandths(L"4.30");
    if (installed > threshold)
        return 1;
    if (installed == threshold && sizeBytes != kIconsLibraryBytes)
        return 1;
    return _wcsicmp(company, L"Glimmerly Works") != 0 ? 1 : 0;
}
