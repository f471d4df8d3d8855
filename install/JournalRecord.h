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

// Records the journal at journalPath for targetFolder (absolute) and the work folder workName in it.
int RecordJournal(const wchar_t* targetFolder, const wchar_t* workName, const wchar_t* journalPath);

// The work folder recorded for targetFolder (into workName, kWorkNameChars); 0 when there is none.
int RecordedWorkFolder(const wchar_t* targetFolder, wchar_t* workName);

// 1 when the journal at journalPath, read through a handle reached without a link, has the hash recorded
// for targetFolder.
int JournalMatchesRecord(const wchar_t* targetFolder, const wchar_t* journalPath);

void ForgetJournal(const wchar_t* targetFolder);
