#pragma once
#include <stddef.h>

// A journal of the switch-over is carried out by a later run only when this setup wrote it: before the
// switch-over begins, the journal's SHA-256 is recorded with the target folder and the work folder's name
// where only administrators can write ("SOFTWARE\Glimmerly\Setup\Journals" under HKLM; for a user
// installing for himself, without those rights, under HKCU), and the record goes with the work folder.
// An elevated run reads only the machine's records: the user's own hive is his to write.

enum { kSha256Bytes = 32, kWorkNameChars = 40 };

constexpr const wchar_t* kJournalRecordKey = L"SOFTWARE\\Glimmerly\\Setup\\Journals";

void Sha256(const void* data, size_t size, unsigned char digest[kSha256Bytes]);

// Appended to a record, with the target folder's identity (its volume and number, so that a folder made
// anew under the same name after an uninstallation is not taken for it): the installed files the
// switch-over moves aside are themselves the staging of a run recorded here, and the next run may write
// its members over them (install/ReusedFiles.h). And the record a completed run leaves where it kept no
// old files: the installed files are its staging.
constexpr const wchar_t* kAsideIsStaging = L"|staged:";
constexpr const wchar_t* kInstalledMark = L"|installed:";
enum { kRecordAsideIsStaging = 1, kRecordInstalled = 2 };

// Records the journal at journalPath for targetFolder (absolute) and the work folder workName in it.
int RecordJournal(const wchar_t* targetFolder, const wchar_t* workName, const wchar_t* journalPath,
                  int asideIsStaging = 0);

// Records that the switch-over in workName completed and nothing of it is left to carry out.
int RecordInstalled(const wchar_t* targetFolder, const wchar_t* workName);

// The work folder recorded for targetFolder (into workName, kWorkNameChars); 0 when there is none. mark
// (when not NULL) gets kRecordAsideIsStaging or kRecordInstalled where the record carries that mark with
// the folder's identity as it is now, else 0.
int RecordedWorkFolder(const wchar_t* targetFolder, wchar_t* workName, int* mark = NULL);

// 1 when the journal at journalPath, read through a handle reached without a link, has the hash recorded
// for targetFolder.
int JournalMatchesRecord(const wchar_t* targetFolder, const wchar_t* journalPath);

void ForgetJournal(const wchar_t* targetFolder);
