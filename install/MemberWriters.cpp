#include "install/MemberWriters.h"

#include "install/PayloadExtraction.h"
#include "install/PathHelpers.h"
#include "install/MemberFile.h"

#include <windows.h>
#include <process.h>
#include <stdlib.h>
#include <string.h>

namespace {

// A thread that may sleep until another one changes the shared state.
struct Waiter {
    HANDLE event;
    int waiting;
    MemberWriters* owner;
    HeldFolders folders; // those this thread wrote into
};

struct Job {
    Job* next;
    WriterBlock* first;
    WriterBlock* last;
    Waiter* writer; // the writer that took it
    int ended;
    int isFolder;
    unsigned long dosDate;
    wchar_t path[kWideMemberChars];
    wchar_t folder[kWideMemberChars];
};

} // namespace

struct MemberWriters {
    CRITICAL_SECTION lock;
    Job* head; // oldest member no writer has taken yet
    Job* tail;
    Job* current; // the file the caller fills
    int jobs;     // members queued or being written
    WriterBlock* freeBlocks;
    int freeCount; // blocks in freeBlocks
    int blocks;    // blocks allocated
    int done;      // the caller queues nothing more
    int failed;    // a write failed: no member after it is started
    Waiter caller;
    Waiter writer[kWriterThreads];
    HANDLE threads[kWriterThreads];
    int threadCount;   // 0: every call writes at once, on the caller's thread
    MemberFile direct; // then the file being written
    wchar_t directPath[kWideMemberChars];
};

namespace {

// Called with the lock held; sleeping releases it meanwhile.
void Await(MemberWriters* w, Waiter* self) {
    self->waiting = 1;
    LeaveCriticalSection(&w->lock);
    WaitForSingleObject(self->event, INFINITE);
    EnterCriticalSection(&w->lock);
}

void Wake(Waiter* waiter) {
    if (waiter != NULL && waiter->waiting) {
        waiter->waiting = 0;
        SetEvent(waiter->event);
    }
}

// With the lock held. A caller waiting for room is woken once half the blocks it has and half the members'
// places are free, or at a failure, not for each block or member: under Wine every wake and every wait is
// a round trip to its server. It waits only while every block, or every place, is with the writers, and
// they free them all, so the wake comes.
void WakeCallerForRoom(MemberWriters* w) {
    if (w->failed || (2 * w->freeCount >= w->blocks && w->jobs <= kWriterJobs / 2))
        Wake(&w->caller);
}

// With the lock held.
void FreeBlocks(MemberWriters* w, WriterBlock* blocks) {
    while (blocks != NULL) {
        WriterBlock* next = blocks->next;
        blocks->next = w->freeBlocks;
        w->freeBlocks = blocks;
        ++w->freeCount;
        blocks = next;
    }
    WakeCallerForRoom(w);
}

// Writes one member taken from the queue; called and returning with the lock held. The first failed
// write stops everything at once: the caller gets no further block, no later member is started, and a
// member another writer is filling meanwhile counts as cut.
void WriteJob(MemberWriters* w, Waiter* self, Job* job) {
    int failed = w->failed;
    LeaveCriticalSection(&w->lock);
    MemberFile file =
        StartMember(job->isFolder, job->path, job->folder, job->dosDate, failed, &self->folders);
    EnterCriticalSection(&w->lock);
    // A folder that could not be made fails the extraction as a file does, also one that stays empty.
    if (job->isFolder)
        w->failed |= file.failed;

    while (!job->isFolder) {
        // The caller ends every member it started, also after a failure, so the job is not left early.
        while (job->first == NULL && !job->ended)
            Await(w, self);
        WriterBlock* blocks = job->first;
        int ended = job->ended;
        job->first = job->last = NULL;
        file.failed |= w->failed;
        LeaveCriticalSection(&w->lock);
        for (WriterBlock* block = blocks; block != NULL; block = block->next)
            WriteBlock(&file, block);
        if (ended)
            CloseMemberFile(&file, job->path);
        EnterCriticalSection(&w->lock);
        w->failed |= file.failed;
        FreeBlocks(w, blocks);
        if (ended)
            break;
    }
    free(job);
    --w->jobs;
    WakeCallerForRoom(w);
}

unsigned __stdcall WriterThread(void* argument) {
    Waiter* self = (Waiter*)argument;
    MemberWriters* w = self->owner;
    EnterCriticalSection(&w->lock);
    for (;;) {
        Job* job = w->head;
        if (job != NULL) {
            w->head = job->next;
            if (w->head == NULL)
                w->tail = NULL;
            job->writer = self;
            WriteJob(w, self, job);
        } else if (w->done) {
            LetGoOfFolders(&self->folders);
            break;
        } else {
            Await(w, self);
        }
    }
    LeaveCriticalSection(&w->lock);
    return 0;
}

int InitWaiter(Waiter* waiter, MemberWriters* owner) {
    waiter->owner = owner;
    waiter->waiting = 0;
    waiter->folders.count = waiter->folders.next = 0;
    waiter->event = CreateEventW(NULL, FALSE, FALSE, NULL);
    return waiter->event != NULL;
}

// Hands a member to the writers, or writes it at once without them; 0 once a write failed.
int QueueJob(MemberWriters* w, Job* job) {
    if (w->threadCount == 0) {
        w->direct =
            StartMember(job->isFolder, job->path, job->folder, job->dosDate, w->failed, &w->caller.folders);
        CopyText(w->directPath, kWideMemberChars, job->path);
        w->failed |= w->direct.failed;
        free(job);
        return !w->failed;
    }
    EnterCriticalSection(&w->lock);
    while (w->jobs >= kWriterJobs && !w->failed)
        Await(w, &w->caller);
    int queued = !w->failed;
    if (queued) {
        if (w->tail != NULL)
            w->tail->next = job;
        else
            w->head = job;
        w->tail = job;
        ++w->jobs;
        w->current = job->isFolder ? NULL : job;
        for (int i = 0; i < w->threadCount; ++i)
            Wake(&w->writer[i]);
    }
    LeaveCriticalSection(&w->lock);
    if (!queued)
        free(job);
    return queued;
}

Job* NewJob(const wchar_t* path, const wchar_t* folder, int isFolder, unsigned long dosDate) {
    Job* job = (Job*)calloc(1, sizeof(Job));
    if (job == NULL)
        return NULL;
    job->isFolder = isFolder;
    job->dosDate = dosDate;
    if (!CopyText(job->path, kWideMemberChars, path) ||
        !CopyText(job->folder, kWideMemberChars, folder != NULL ? folder : L"")) {
        free(job);
        return NULL;
    }
    return job;
}

} // namespace

MemberWriters* StartMemberWriters(int threads) {
    MemberWriters* w = (MemberWriters*)calloc(1, sizeof(MemberWriters));
    if (w == NULL)
        return NULL;
    InitializeCriticalSection(&w->lock);
    w->direct.handle = INVALID_HANDLE_VALUE;
    if (InitWaiter(&w->caller, w)) {
        // Threads that could not be started leave the work to those that could, or to the caller.
        for (int i = 0; i < threads && i < kWriterThreads && InitWaiter(&w->writer[w->threadCount], w); ++i) {
            HANDLE thread = (HANDLE)_beginthreadex(NULL, 262144, WriterThread, &w->writer[w->threadCount],
                                                   STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
            if (thread == NULL) {
                CloseHandle(w->writer[w->threadCount].event);
                break;
            }
            w->threads[w->threadCount++] = thread;
        }
    }
    return w;
}

int QueueMemberFolder(MemberWriters* w, const wchar_t* path) {
    Job* job = NewJob(path, NULL, 1, 0);
    return job != NULL && QueueJob(w, job);
}

int QueueMemberFile(MemberWriters* w, const wchar_t* path, const wchar_t* folder, unsigned long dosDate) {
    Job* job = NewJob(path, folder, 0, dosDate);
    return job != NULL && QueueJob(w, job);
}

WriterBlock* TakeBlock(MemberWriters* w) {
    EnterCriticalSection(&w->lock);
    WriterBlock* block = NULL;
    for (;;) {
        if (w->failed)
            break;
        if (w->freeBlocks != NULL) {
            block = w->freeBlocks;
            w->freeBlocks = block->next;
            --w->freeCount;
            break;
        }
        if (w->blocks < kWriterBlocks) {
            block = (WriterBlock*)malloc(sizeof(WriterBlock));
            if (block != NULL) {
                ++w->blocks;
                break;
            }
            // Out of memory: the blocks there are will do, and without any the walk stops.
            if (w->blocks == 0 || w->threadCount == 0)
                break;
        }
        Await(w, &w->caller);
    }
    LeaveCriticalSection(&w->lock);
    return block;
}

void ReturnBlock(MemberWriters* w, WriterBlock* block) {
    block->next = NULL;
    EnterCriticalSection(&w->lock);
    FreeBlocks(w, block);
    LeaveCriticalSection(&w->lock);
}

void QueueBlock(MemberWriters* w, WriterBlock* block, unsigned long length) {
    block->next = NULL;
    block->length = length;
    if (w->threadCount == 0) {
        WriteBlock(&w->direct, block);
        w->failed |= w->direct.failed;
        ReturnBlock(w, block);
        return;
    }
    EnterCriticalSection(&w->lock);
    Job* job = w->current;
    if (job->last != NULL)
        job->last->next = block;
    else
        job->first = block;
    job->last = block;
    Wake(job->writer);
    LeaveCriticalSection(&w->lock);
}

void EndMemberFile(MemberWriters* w) {
    if (w->threadCount == 0) {
        if (!CloseMemberFile(&w->direct, w->directPath))
            w->failed = 1;
        return;
    }
    EnterCriticalSection(&w->lock);
    if (w->current != NULL) {
        w->current->ended = 1;
        Wake(w->current->writer);
        w->current = NULL;
    }
    LeaveCriticalSection(&w->lock);
}

int FinishMemberWriters(MemberWriters* w) {
    EndMemberFile(w);
    EnterCriticalSection(&w->lock);
    w->done = 1;
    for (int i = 0; i < w->threadCount; ++i)
        Wake(&w->writer[i]);
    LeaveCriticalSection(&w->lock);
    if (w->threadCount > 0)
        WaitForMultipleObjects((DWORD)w->threadCount, w->threads, TRUE, INFINITE);
    for (int i = 0; i < w->threadCount; ++i) {
        CloseHandle(w->threads[i]);
        CloseHandle(w->writer[i].event);
    }
    if (w->caller.event != NULL)
        CloseHandle(w->caller.event);
    LetGoOfFolders(&w->caller.folders);
    while (w->freeBlocks != NULL) {
        WriterBlock* next = w->freeBlocks->next;
        free(w->freeBlocks);
        w->freeBlocks = next;
    }
    DeleteCriticalSection(&w->lock);
    int result = w->failed ? -1 : 0;
    free(w);
    return result;
}
