#include "install/PayloadExtraction.h"

#include "ExtractionFixture.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>

namespace {

// The test program carries payloads as resources "ZIP" (see tests/fixtures/extraction_payloads.rc.in).
class PayloadResource : public Extraction {};

TEST_F(PayloadResource, ExtractsFromTheProgramsOwnResource) {
    ASSERT_EQ(ExtractPayload(1974, L"ZIP", target.c_str(), 0, NULL, NULL, 0), kInstallComplete);
    EXPECT_EQ(ReadFile(InTarget("Docs/readme.txt")), "Glimmerly test payload\r\n");
    EXPECT_EQ(ReadFile(InTarget("top.txt")), "top");
    EXPECT_EQ(CurrentDirectory() + L"\\", target);
}

// Read where the resource is mapped: members of several blocks, one deflated and one stored as it is.
TEST_F(PayloadResource, MembersOfSeveralBlocksAndStoredOnes) {
    ASSERT_EQ(ExtractPayload(1978, L"ZIP", target.c_str(), 0, NULL, NULL, 0), kInstallComplete);
    std::string large, stored;
    for (int i = 0; i < 8000; ++i)
        large += "line " + std::string(6 - std::to_string(i).size(), '0') + std::to_string(i) +
                 " of the larger member\r\n";
    for (int i = 0; i < 300000; ++i)
        stored += (char)(i % 251);
    EXPECT_EQ(ReadFile(InTarget("Docs/large.txt")), large);
    EXPECT_EQ(ReadFile(InTarget("stored.bin")), stored);
    EXPECT_EQ(ReadFile(InTarget("top.txt")), "top");
}

// 1976 is the sound archive with one byte flipped after its record was made; 1977 has no record; 1979 to
// 1982 match records made after their last member was broken.
TEST_F(PayloadResource, FailuresLeaveTheInstallation) {
    WriteFile(InTarget("top.txt"), "installed");
    FILETIME installedTime = LastWriteTime(InTarget("top.txt"));
    EXPECT_EQ(ExtractPayload(1976, L"ZIP", target.c_str(), 0, NULL, NULL, 0), kInstallFailed) << "damaged";
    EXPECT_EQ(ExtractPayload(1977, L"ZIP", target.c_str(), 0, NULL, NULL, 0), kInstallFailed) << "no record";
    // Broken before the record was made: the data themselves fail the member.
    EXPECT_EQ(ExtractPayload(1979, L"ZIP", target.c_str(), 0, NULL, NULL, 0), kInstallFailed)
        << "invalid data";
    EXPECT_EQ(ExtractPayload(1980, L"ZIP", target.c_str(), 0, NULL, NULL, 0), kInstallFailed) << "size short";
    EXPECT_EQ(ExtractPayload(1981, L"ZIP", target.c_str(), 0, NULL, NULL, 0), kInstallFailed) << "size long";
    EXPECT_EQ(ExtractPayload(1982, L"ZIP", target.c_str(), 0, NULL, NULL, 0), kInstallFailed)
        << "past the end";
    EXPECT_EQ(ExtractPayload(1975, L"ZIP", target.c_str(), 0, NULL, NULL, 0), kInstallFailed) << "absent";
    EXPECT_EQ(ExtractPayload(1974, L"TXT", target.c_str(), 0, NULL, NULL, 0), kInstallFailed) << "other type";
    EXPECT_EQ(ExtractPayload(1974, L"ZIP", (root + L"\\absent\\").c_str(), 0, NULL, NULL, 0), kInstallFailed);
    EXPECT_EQ(ReadFile(InTarget("top.txt")), "installed");
    EXPECT_EQ(Ticks(LastWriteTime(InTarget("top.txt"))), Ticks(installedTime));
    EXPECT_EQ(FolderEntries(target), std::vector<std::wstring>{L"top.txt"});
}

std::string OwnResource(int id, const wchar_t* type) {
    HRSRC found = FindResourceW(NULL, MAKEINTRESOURCEW(id), type);
    const char* bytes = found != NULL ? (const char*)LockResource(LoadResource(NULL, found)) : NULL;
    return bytes != NULL ? std::string(bytes, SizeofResource(NULL, found)) : std::string();
}

// The record is the one the build wrote for the sound archive; any change of the bytes fails it.
TEST(PayloadMatchesRecord, AnyDamageOfTheArchiveOrTheRecordFails) {
    const std::string sound = OwnResource(1974, L"ZIP"), record = OwnResource(1974, kPayloadRecordType);
    ASSERT_EQ(record.size(), (size_t)kPayloadRecordBytes);
    auto flipped = [&](size_t at) {
        std::string copy = sound;
        copy[at] ^= 0x20;
        return copy;
    };
    const struct {
        const char* what;
        std::string bytes, record;
        int matches;
    } cases[] = {
        {"sound", sound, record, 1},
        {"first byte flipped", flipped(0), record, 0},
        {"middle byte flipped", flipped(sound.size() / 2), record, 0},
        {"last byte flipped", flipped(sound.size() - 1), record, 0},
        {"one byte short", sound.substr(0, sound.size() - 1), record, 0},
        {"one byte more", sound + '\0', record, 0},
        {"record short", sound, record.substr(0, 7), 0},
        {"record long", sound, record + '\0', 0},
        {"record's size changed", sound, std::string(1, (char)(record[0] ^ 1)) + record.substr(1), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PayloadMatchesRecord(c.bytes.data(), (unsigned long)c.bytes.size(), c.record.data(),
                                       (unsigned long)c.record.size()),
                  c.matches)
            << c.what;
}

} // namespace
