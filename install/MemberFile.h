#pragma once
// One member as a writer thread makes it (install/MemberWriters.h): its folder, made and held, and its file,
// created new (or an old one written over, install/ReusedFiles.h), written and dated.
#include "install/MemberWriters.h"
#include "install/PayloadExtraction.h"

#include <windows.h>

// The folders a writer made or found and wrote into, held while it writes (members come in any order of
// their folders), so none can be swapped for a link meanwhile; the oldest goes when there are more.
enum { kHeldFolders = 64 };

struct HeldFolders {
    int count, next;
    struct {
        HANDLE handle;
        wchar_t path[kWideMemberChars];
    } folder[kHeldFolders];
};

void LetGoOfFolders(HeldFolders* held);

// Where a member's file stands while it is written.
struct MemberFile {
    HANDLE handle;
    int failed;
    unsigned long dosDate;
    // The size of an old file written over when it was opened (0 for a new file); what this run wrote.
    unsigned long long oldSize, written;
};

// Makes a member's folder, or creates its file; nothing once a write failed. A file that cannot be created
// is a failed write: the members are written into a folder of their own, where nothing stands in the way.
MemberFile StartMember(int isFolder, const wchar_t* path, const wchar_t* folder, unsigned long dosDate,
                       int failed, HeldFolders* held);

void WriteBlock(MemberFile* file, const WriterBlock* block);

// The date is set through the handle that wrote the file, then it is closed and logged as written under
// path; a file cut short keeps the date of its creation. 0 after a failed write.
int CloseMemberFile(MemberFile* file, const wchar_t* path);
