#include "install/WorkFolderRemoval.h"

#include "install/StepLog.h"
#include "install/SwitchPlan.h"

#include <process.h>
#include <wchar.h>

using namespace switchplan;

WorkFolderRemoval* WorkFolderRemoval::running_ = NULL;

WorkFolderRemoval::WorkFolderRemoval()
    : thread_(NULL), count_(0), started_(0), ok_(1), files_(0), folders_(0), skip_(0) {
    target_[0] = base_[0] = L'\0';
}

WorkFolderRemoval::~WorkFolderRemoval() {
    Finish();
}

int WorkFolderRemoval::Add(const wchar_t* targetFolder, const wchar_t* name) {
    if (started_ || count_ == kMaxFolders || (count_ > 0 && _wcsicmp(target_, targetFolder) != 0) ||
        !CopyText(target_, kChars, targetFolder) || !CopyText(names_[count_], kNameChars, name))
        return 0;
    size_t length = wcslen(target_);
    if (length == 0 || target_[length - 1] != L'\\')
        return 0;
    ++count_;
    return 1;
}

void WorkFolderRemoval::Start() {
    if (started_ || count_ == 0)
        return;
    started_ = 1;
    // Each file's handle is checked against the name the system keeps for the target folder: one
    // question per file. Each folder is found reached without a link on the way before it is removed.
    static_assert((int)kChars >= (int)kFolderChars, "the base of RemoveTree");
    skip_ = wcslen(target_);
    wchar_t folder[kChars];
    CopyText(folder, kChars, target_);
    folder[skip_ - 1] = L'\0';
    FolderObjectName(folder, base_);
    thread_ = (HANDLE)_beginthreadex(NULL, 1 << 20, Run, this, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    if (thread_ == NULL)
        RemoveAll();
    else
        running_ = this;
}

unsigned __stdcall WorkFolderRemoval::Run(void* argument) {
    ((WorkFolderRemoval*)argument)->RemoveAll();
    return 0;
}

void WorkFolderRemoval::RemoveAll() {
    for (int i = 0; i < count_; ++i) {
        wchar_t path[kChars];
        TreeTally tally = {0, 0};
        ok_ &= Join(path, kChars, target_, names_[i]) && IsReachedWithoutLink(path) &&
               RemoveTree(path, base_[0] != L'\0' ? base_ : NULL, &tally, skip_);
        files_ += tally.files;
        folders_ += tally.folders;
    }
}

int WorkFolderRemoval::Finish() {
    if (thread_ != NULL) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = NULL;
    }
    if (running_ == this)
        running_ = NULL;
    if (started_ && count_ > 0) {
        LogStep(
            ok_ ? L"earlier work folders deleted: %ld files, %ld folders"
                : L"earlier work folders deleted in part: %ld files, %ld folders; a later run removes the "
                  L"rest",
            files_, folders_);
        count_ = 0;
    }
    return ok_;
}

void WorkFolderRemoval::WaitForRunning() {
    if (running_ != NULL)
        running_->Finish();
}
