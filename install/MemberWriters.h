#pragma once
#include <stddef.h>

// Writes the extracted members below the current directory on writer threads while the caller inflates
// the next ones: creating a file waits for the Wine server (or the file system), and inflating
// needs only the processor, so the two overlap.
//
// The caller queues its members in the order it reads them and queues a member only after the one before it
// was read and checked whole, so no file of its is touched behind a damaged member, as in a walk without
// threads. The writers take the queued members in that order; each member is written whole by one
// writer. (Where two walks share an archive's members, each has writers of its own.)
// Memory stays bounded: at most kWriterBlocks blocks of data and kWriterJobs members are queued, the
// caller waits for free ones. Where no thread can be started, every call does its writing at once.

// Size of one block of member data, how many blocks and members may be queued at once, and how many writer
// threads there may be. A member below a block's size takes a block of its own, so 32 let the caller run
// up to 32 small members ahead of a writer that waits for the file system (8 MiB at most).
enum { kWriterBlockBytes = 262144, kWriterBlocks = 32, kWriterJobs = 64, kWriterThreads = 2 };

struct MemberWriters;

struct WriterBlock {
    WriterBlock* next;
    unsigned long length;
    char data[kWriterBlockBytes];
};

// Starts up to threads writer threads, at most kWriterThreads (one for a walk alone; 0, for each of two
// walks, writes everything on the caller's thread). NULL when not even the memory for the queue can be had.
MemberWriters* StartMemberWriters(int threads);

// Queue a folder to create, or a new file to create with the member's date (DOS date in the high word,
// time in the low word, local time); a name taken already fails the write. folder is the file's folder
// part (NULL or empty when it has none); it is made with the folders above it, and none on the way may be
// a link. 0 once a writer failed.
int QueueMemberFolder(MemberWriters* writers, const wchar_t* path);
int QueueMemberFile(MemberWriters* writers, const wchar_t* path, const wchar_t* folder,
                    unsigned long dosDate);

// A free block for the file queued last; NULL once a writer failed. Each block taken goes back through
// exactly one of QueueBlock (length bytes filled) or ReturnBlock.
WriterBlock* TakeBlock(MemberWriters* writers);
void QueueBlock(MemberWriters* writers, WriterBlock* block, unsigned long length);
void ReturnBlock(MemberWriters* writers, WriterBlock* block);

// The file queued last has all its data: its date is set and it is closed.
void EndMemberFile(MemberWriters* writers);

// Waits until every queued member is written, ends the threads and frees everything. 0 when all writes
// succeeded, -1 after a failed write (a file that could not be created is one). The first failed write
// stops the writing at once: no later member is started, and none that was cut is dated.
int FinishMemberWriters(MemberWriters* writers);

// A seam for the tests: how a member's file is created, by its name in the held folder of the member (NULL
// for a member at the top, which path then names). NULL puts back the product's: always a new file, with
// write access, others reading.
typedef void* (*MemberFileCreator)(void* folder, const wchar_t* path);
void SetMemberFileCreator(MemberFileCreator creator);
