#include "install/InstallOptions.h"

#include <string.h>

void ResetInstallOptions(InstallOptions& options) {
    memset(&options, 0, sizeof options);
    options.caption = L"Glimmerly 32-bit Setup";
}
