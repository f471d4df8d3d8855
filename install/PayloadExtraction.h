#pragma once
#include "install/InstallResult.h"

#include <stddef.h>
#include <unzip.h>

struct MemoryArchive;

struct InstallProgress;

// Sizes of the extraction's buffers: a member name with its terminator, the member name as UTF-16 with
// its terminator, and a folder path.
enum { kMemberNameBytes = 520, kWideMemberChars = 324, kTempPathChars = 520 };

// The build stores a record beside the payload, under the same id with this resource type: the archive's
// size and the CRC-32 of all its bytes, little-endian (tools/check_payload.py).
constexpr const wchar_t* kPayloadRecordType = L"ZIPSUM";
enum { kPayloadRecordBytes = 8 };

// Size in bytes of the icons library that this setup would install as version 4.30.
constexpr unsigned long long kIconsLibraryBytes = 226816;

// Extracts the payload resource straight from the program's mapped image into targetFolder (absolute,
// ending in a backslash), as ExtractArchive does; no archive file is written. A payload that differs from
// its record fails before anything is written. progress (may be NULL) hears of the member bytes
// extracted; restartFile (may be NULL) gets the file replaced at the next start of Windows.
InstallResult ExtractPayload(int resourceId, const wchar_t* resourceType, const wchar_t* targetFolder,
                             int keepIcons, const InstallProgress* progress, wchar_t* restartFile,
                             size_t restartChars);

// 1 when size bytes are the archive that the record describes; the record has kPayloadRecordBytes.
int PayloadMatchesRecord(const void* bytes, unsigned long size, const void* record, unsigned long recordSize);

// Checks the member names and the free space, then extracts the archive into targetFolder all or nothing
// (install/SwitchOver.h). kInstallComplete, or kInstallRestartNeeded when a file held open is replaced at
// the next start of Windows: targetFolder stays the current directory. kInstallFailed: the previous
// installation is back (every file as it was), no work file is left, and the previous current directory
// is restored, so the caller's log lands there.
InstallResult ExtractArchive(const wchar_t* archivePath, const wchar_t* targetFolder, int keepIcons,
                             const InstallProgress* progress, wchar_t* restartFile, size_t restartChars);

// The same for an archive minizip opens through functions, with archiveName handed to their open.
// checked: the same archive in memory where its bytes matched their record, read there directly.
InstallResult ExtractArchiveThrough(zlib_filefunc64_def* functions, const void* archiveName,
                                    const wchar_t* targetFolder, int keepIcons,
                                    const InstallProgress* progress, wchar_t* restartFile,
                                    size_t restartChars, const MemoryArchive* checked = NULL);

// The payload's member data in bytes and its members, from the central directory; 1 when read.
int MeasurePayload(int resourceId, const wchar_t* resourceType, unsigned long long* bytes,
                   unsigned long long* files);

// Walks the central directory only: every name readable, within bounds and safe. 0 when all are, -1
// otherwise. Inflates and writes nothing. total (may be NULL) gets the bytes of the members that keepIcons
// leaves to be written.
int CheckMemberNames(unzFile archive, int keepIcons, unsigned long long* total);

// Writes the members below the current directory (the work folder's staged folder when an installation
// runs); the writing is done by a writer thread (install/MemberWriters.h) while the walk inflates the next
// members. With second, another reader of the same archive, and where the members of a MiB or more hold a
// tenth of the bytes or more, two walks share the members instead, each writing its own. The members of a
// MiB or more are taken first, the largest first, and the rest in archive order; each walk takes its
// members in that order, the two together in any.
// overwrite is not consulted (files are always overwritten); with keepIcons 1, members whose name contains
// "icons.dll" in any case are skipped. progress (may be NULL) is told about every MiB read, against total.
// 0 when every member was written, -1 when a walk stopped at an error (the other stops before its next
// member).
int ExtractAllMembers(unzFile archive, int keepPaths, int overwrite, const char* password, int keepIcons,
                      const InstallProgress* progress, unsigned long long total, unzFile second = NULL,
                      const MemoryArchive* checked = NULL);

// Creates a relative folder path with '/' or '\' separators. 1 when done, 0 when a parent was missing,
// -104 when memory ran out.
int CreateMemberFolders(const wchar_t* folder);

// Sets creation and last-write time of the file open as handle (with write access, after its last write)
// from a DOS date (high word) and time (low word) in local time; the last-access time stays.
void SetFileDateFromMember(void* handle, unsigned long dosDateTime);

// 1 when a member name stays below the folder it is extracted into: not empty, not absolute, no drive
// or stream colon, no component of dots that climbs up.
int IsSafeMemberName(const wchar_t* name);

// Whether the icons library at iconsPath of an earlier installation is kept (1) or replaced (0).
int DecideKeepIcons(const wchar_t* iconsPath);

// The keep-icons rule for a library whose version information could be read.
int KeepIconsForVersion(const wchar_t* version, unsigned long long sizeBytes, const wchar_t* company);
