#include "install/MemberWriters.h"

#include "ExtractionFixture.h"
#include "TestZip.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <windows.h>
#include <string>

namespace {

// At most kWriterJobs members and kWriterBlocks blocks wait in the writers' queue; more members than
// that, and a member of more blocks, still arrive whole and dated, with writer threads or without.
TEST_F(Extraction, WritersPassEveryMemberThroughTheBoundedQueue) {
    std::string large((kWriterBlocks + 2) * kWriterBlockBytes + 17, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = (char)((i * 7919) >> 7);
    auto queueData = [](MemberWriters* writers, const std::string& data) {
        for (size_t done = 0; done < data.size();) {
            WriterBlock* block = TakeBlock(writers);
            ASSERT_NE(block, nullptr);
            unsigned long length = (unsigned long)std::min(data.size() - done, (size_t)kWriterBlockBytes);
            memcpy(block->data, data.data() + done, length);
            QueueBlock(writers, block, length);
            done += length;
        }
        EndMemberFile(writers);
    };
    const uint32_t date = TestMember::DosDateTime(2021, 3, 4, 5, 6, 8);
    const int count = 2 * kWriterJobs;
    for (int threads : {0, 1, (int)kWriterThreads}) {
        SCOPED_TRACE(threads);
        SetCurrentDirectoryW(target.c_str());
        MemberWriters* writers = StartMemberWriters(threads);
        ASSERT_NE(writers, nullptr);
        ASSERT_TRUE(QueueMemberFolder(writers, L"Early"));
        for (int i = 0; i < count; ++i) {
            // Every other file lies in a folder that has no entry: the writer makes it.
            std::wstring folder = i % 2 ? L"Early" : L"Late\\" + std::to_wstring(i % 3);
            ASSERT_TRUE(QueueMemberFile(writers, (folder + L"\\m" + std::to_wstring(i)).c_str(),
                                        folder.c_str(), date));
            queueData(writers, i == count / 2 ? large : std::string(i % 5, (char)('a' + i % 26)));
        }
        EXPECT_EQ(FinishMemberWriters(writers), 0);
        for (int i = 0; i < count; ++i) {
            std::string folder = i % 2 ? "Early" : "Late/" + std::to_string(i % 3);
            std::wstring path = InTarget(folder + "/m" + std::to_string(i));
            EXPECT_EQ(ReadFile(path), i == count / 2 ? large : std::string(i % 5, (char)('a' + i % 26))) << i;
            FILETIME written = LastWriteTime(path), expected, local;
            DosDateTimeToFileTime(HIWORD(date), LOWORD(date), &local);
            LocalFileTimeToFileTime(&local, &expected);
            EXPECT_EQ(Ticks(written), Ticks(expected)) << i;
        }
        SetCurrentDirectoryW(startDirectory.c_str());
        RemoveTree(target);
        CreateDirectoryW(target.c_str(), NULL);
    }
}

// A folder member whose name a file holds cannot be made: that fails the writing as a failed file does,
// with writer threads or without, also where no file goes into the folder.
TEST_F(Extraction, FolderThatCannotBeMadeFailsTheWriters) {
    WriteFile(InTarget("Taken"), "a file");
    for (int threads : {0, 1, (int)kWriterThreads}) {
        SCOPED_TRACE(threads);
        SetCurrentDirectoryW(target.c_str());
        MemberWriters* writers = StartMemberWriters(threads);
        ASSERT_NE(writers, nullptr);
        QueueMemberFolder(writers, L"Taken\\Empty");
        EXPECT_EQ(FinishMemberWriters(writers), -1);
        SetCurrentDirectoryW(startDirectory.c_str());
    }
}

// Wine writes Z:\\dev\\full to the host's /dev/full, where every write fails as on a full disk; a member's
// file is always created new, so the test opens that one as it is. The first failed write stops the
// caller at once: no further block, no later member. A member queued before the failure was known may
// have been started by the other writer: it stops there, cut and undated.
void* CreateOrOpenFull(void*, const wchar_t* path) {
    int full = wcscmp(path, L"Z:\\dev\\full") == 0;
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, full ? OPEN_EXISTING : CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

TEST_F(Extraction, FailedWriteStopsTheWritersAtOnce) {
    SetMemberFileCreator(CreateOrOpenFull);
    const uint32_t date = TestMember::DosDateTime(2021, 3, 4, 5, 6, 8);
    FILETIME local, dated;
    DosDateTimeToFileTime(HIWORD(date), LOWORD(date), &local);
    LocalFileTimeToFileTime(&local, &dated);
    // Which writer learns of the failure first is a race, so the two writers run it many times.
    for (int round = 0; round < 48; ++round) {
        const int threads = round == 0 ? 0 : 1 + round % kWriterThreads;
        SCOPED_TRACE(threads);
        SetCurrentDirectoryW(target.c_str());
        MemberWriters* writers = StartMemberWriters(threads);
        ASSERT_TRUE(QueueMemberFile(writers, L"before.txt", NULL, date));
        WriterBlock* block = TakeBlock(writers);
        block->data[0] = 'b';
        QueueBlock(writers, block, 1);
        EndMemberFile(writers);
        // Written before the failure, so the failure cannot cut it.
        for (int wait = 0; wait < 5000 && ReadFile(InTarget("before.txt")) != "b"; ++wait)
            Sleep(1);
        ASSERT_TRUE(QueueMemberFile(writers, L"Z:\\dev\\full", NULL, date));
        QueueBlock(writers, TakeBlock(writers), kWriterBlockBytes);
        // Written on the caller's thread, the failed write ends the member's blocks before its end.
        if (threads == 0) {
            EXPECT_EQ(TakeBlock(writers), nullptr);
        }
        EndMemberFile(writers);
        int taken = 0;
        if (QueueMemberFile(writers, L"cut.txt", NULL, date)) {
            for (; taken < 64 * kWriterBlocks && (block = TakeBlock(writers)) != NULL; ++taken)
                QueueBlock(writers, block, kWriterBlockBytes);
            EndMemberFile(writers);
        }
        EXPECT_LT(taken, 64 * kWriterBlocks);
        EXPECT_EQ(TakeBlock(writers), nullptr);
        EXPECT_FALSE(QueueMemberFile(writers, L"after.txt", NULL, date));
        EXPECT_EQ(FinishMemberWriters(writers), -1);
        EXPECT_EQ(ReadFile(InTarget("before.txt")), "b");
        EXPECT_NE(Ticks(LastWriteTime(InTarget("cut.txt"))), Ticks(dated));
        EXPECT_FALSE(threads < 2 && Exists(InTarget("cut.txt"))) << "one writer takes it after its failure";
        EXPECT_FALSE(Exists(InTarget("after.txt")));
        SetCurrentDirectoryW(startDirectory.c_str());
        for (const char* name : {"before.txt", "cut.txt"})
            DeleteFileW(InTarget(name).c_str());
    }
    SetMemberFileCreator(NULL);
}

} // namespace
