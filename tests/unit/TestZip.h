#pragma once
#include <stdint.h>
#include <string>
#include <vector>

// A small writer of ZIP archives for tests: stored or deflated members with chosen names and dates,
// and deliberate faults (a wrong CRC-32 or uncompressed size recorded in the headers).
struct TestMember {
    std::string name;
    std::string data;
    bool deflated = true;
    uint32_t dosDateTime = DosDateTime(2019, 11, 23, 14, 7, 36);
    uint32_t crcDelta = 0;
    int64_t sizeDelta = 0;

    static uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
        uint32_t date = (uint32_t)(((year - 1980) << 9) | (month << 5) | day);
        uint32_t time = (uint32_t)((hour << 11) | (minute << 5) | (second / 2));
        return (date << 16) | time;
    }
};

std::string BuildTestZip(const std::vector<TestMember>& members);

// A directory entry ("Name/"), stored and empty.
TestMember DirectoryEntry(const std::string& name);
TestMember FileMember(const std::string& name, const std::string& data, bool deflated = true);
