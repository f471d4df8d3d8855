#pragma once
#include <gtest/gtest.h>
#include <stdio.h>
#include <string>

// Whole-file reads and writes for the unit tests.

// The file's bytes; false when it cannot be opened.
inline bool ReadFileBytes(const std::wstring& path, std::string* data) {
    data->clear();
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == NULL)
        return false;
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0)
        data->append(buffer, count);
    fclose(file);
    return true;
}

inline void WriteFileBytes(const std::wstring& path, const std::string& data) {
    FILE* file = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(file, nullptr) << "cannot write the test file";
    fwrite(data.data(), 1, data.size(), file);
    fclose(file);
}
