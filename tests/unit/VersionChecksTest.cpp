#include "shell/VersionChecks.h"

#include <gtest/gtest.h>

namespace {

struct ReportedVersion {
    const char* systems;
    WindowsVersion version;
    int vistaOrLater;
    int windows8OrLater;
    int windows8Exactly;
    WindowsFamily family;
};

// Every version the program can be told, with the answers it must give.
const ReportedVersion kReportedVersions[] = {
    {"Windows 98", {1, 4, 10}, 0, 0, 0, Older},
    {"Windows Me", {1, 4, 90}, 0, 0, 0, Older},
    {"NT 4", {2, 4, 0}, 0, 0, 0, Older},
    {"Windows 2000", {2, 5, 0}, 0, 0, 0, Older},
    {"Windows XP", {2, 5, 1}, 0, 0, 0, Xp},
    {"XP x64, Server 2003", {2, 5, 2}, 0, 0, 0, Xp},
    {"Vista, Server 2008", {2, 6, 0}, 1, 0, 0, Vista},
    {"Windows 7", {2, 6, 1}, 1, 0, 0, Vista},
    {"Windows 8 and everything later without a manifest", {2, 6, 2}, 1, 1, 1, Vista},
    {"Windows 8.1 with a manifest that declares it", {2, 6, 3}, 1, 1, 0, Vista},
    {"Windows 10 and 11 with a manifest that declares them", {2, 10, 0}, 1, 0, 0, Vista},
    {"a failed query", {0, 0, 0}, 0, 0, 0, Older},
};

TEST(VersionChecks, AnswerEveryReportedVersionByTheTable) {
    for (const ReportedVersion& row : kReportedVersions) {
        SCOPED_TRACE(row.systems);
        EXPECT_EQ(IsVistaOrLater(row.version), row.vistaOrLater);
        EXPECT_EQ(IsWindows8OrLater(row.version), row.windows8OrLater);
        EXPECT_EQ(IsWindows8Exactly(row.version), row.windows8Exactly);
        EXPECT_EQ(ClassifyWindowsFamily(row.version), row.family);
    }
}

TEST(VersionChecks, CountOnlyTheNtPlatform) {
    // A version number of an NT system on any other platform id gets the negative answers.
    const unsigned int platforms[] = {0, 1, 3, 0xFFFFFFFFu};
    for (unsigned int platform : platforms) {
        SCOPED_TRACE(platform);
        WindowsVersion windows8 = {platform, 6, 2};
        WindowsVersion xp = {platform, 5, 1};
        EXPECT_EQ(IsVistaOrLater(windows8), 0);
        EXPECT_EQ(IsWindows8OrLater(windows8), 0);
        EXPECT_EQ(IsWindows8Exactly(windows8), 0);
        EXPECT_EQ(ClassifyWindowsFamily(windows8), Older);
        EXPECT_EQ(ClassifyWindowsFamily(xp), Older);
    }
}

TEST(VersionChecks, CompareUnsignedValues) {
    // Values with the top bit set are large, not negative.
    WindowsVersion huge = {2, 0x80000000u, 0x80000000u};
    EXPECT_EQ(IsVistaOrLater(huge), 1);
    EXPECT_EQ(IsWindows8OrLater(huge), 1);
    EXPECT_EQ(IsWindows8Exactly(huge), 0);
    EXPECT_EQ(ClassifyWindowsFamily(huge), Vista);
    WindowsVersion xpHugeMinor = {2, 5, 0x80000000u};
    EXPECT_EQ(ClassifyWindowsFamily(xpHugeMinor), Xp);
}

} // namespace
