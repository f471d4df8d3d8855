/* The program's load configuration. Windows 10 and later read DependentLoadFlags before the first line
 * of the program runs: the libraries that the imported system libraries load in turn are then looked
 * for in the system folder only, never in the folder the program was started from (the user's
 * downloads), which the program's own restriction at start-up comes too late for. */
#include <stdint.h>

enum { kSearchSystem32 = 0x800 };

/* The fields up to the security cookie; on 32-bit systems those are the 64 bytes Windows XP expects. */
struct LoadConfiguration {
    uint32_t size;
    uint32_t timeDateStamp;
    uint16_t majorVersion;
    uint16_t minorVersion;
    uint32_t globalFlagsClear;
    uint32_t globalFlagsSet;
    uint32_t criticalSectionDefaultTimeout;
    uintptr_t deCommitFreeBlockThreshold;
    uintptr_t deCommitTotalFreeThreshold;
    uintptr_t lockPrefixTable;
    uintptr_t maximumAllocationSize;
    uintptr_t virtualMemoryThreshold;
#ifdef _WIN64
    uintptr_t processAffinityMask;
    uint32_t processHeapFlags;
#else
    uint32_t processHeapFlags;
    uintptr_t processAffinityMask;
#endif
    uint16_t csdVersion;
    uint16_t dependentLoadFlags;
    uintptr_t editList;
    uintptr_t securityCookie;
};

/* The linker points the image's load-configuration entry at this name. */
__attribute__((used)) const struct LoadConfiguration _load_config_used = {
    .size = sizeof(struct LoadConfiguration),
    .dependentLoadFlags = kSearchSystem32,
};
