#include "install/JournalRecord.h"

#include "install/PathHelpers.h"
#include "install/SafePath.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

enum {
    kIdentityChars = 24,
    kRecordChars = kWorkNameChars + 2 * kSha256Bytes + kIdentityChars + 16,
    kMaxJournalBytes = 64 << 20
};

const unsigned int kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

unsigned int Rotate(unsigned int x, int n) {
    return (x >> n) | (x << (32 - n));
}

void Compress(unsigned int state[8], const unsigned char block[64]) {
    unsigned int w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = (unsigned int)block[4 * i] << 24 | (unsigned int)block[4 * i + 1] << 16 |
               (unsigned int)block[4 * i + 2] << 8 | block[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        unsigned int s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        unsigned int s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    unsigned int v[8];
    memcpy(v, state, sizeof v);
    for (int i = 0; i < 64; ++i) {
        unsigned int t1 = v[7] + (Rotate(v[4], 6) ^ Rotate(v[4], 11) ^ Rotate(v[4], 25)) +
                          ((v[4] & v[5]) ^ (~v[4] & v[6])) + kRound[i] + w[i];
        unsigned int t2 = (Rotate(v[0], 2) ^ Rotate(v[0], 13) ^ Rotate(v[0], 22)) +
                          ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
        memmove(v + 1, v, 7 * sizeof v[0]);
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i)
        state[i] += v[i];
}

// The folder as a record names it: absolute, without a trailing backslash.
int RecordName(const wchar_t* folder, wchar_t* name) {
    DWORD length = GetFullPathNameW(folder, kPathChars, name, NULL);
    if (length == 0 || length >= kPathChars)
        return 0;
    while (length > 3 && name[length - 1] == L'\\')
        name[--length] = L'\0';
    return 1;
}

// The records' root: the machine's where this run may write there, else the user's.
HKEY RecordRoot() {
    HKEY software = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_CREATE_SUB_KEY, &software) != ERROR_SUCCESS)
        return HKEY_CURRENT_USER;
    RegCloseKey(software);
    return HKEY_LOCAL_MACHINE;
}

// The records' key, made only to record.
HKEY OpenRecords(REGSAM access, int create) {
    HKEY key = NULL, root = RecordRoot();
    LONG opened = create ? RegCreateKeyExW(root, kJournalRecordKey, 0, NULL, 0, access, NULL, &key, NULL)
                         : RegOpenKeyExW(root, kJournalRecordKey, 0, access, &key);
    return opened == ERROR_SUCCESS ? key : NULL;
}

// Removes the key path and those above it up to "SOFTWARE" while they hold nothing at all.
void RemoveEmptyKeys(HKEY root, const wchar_t* path) {
    wchar_t key[kPathChars];
    CopyText(key, kPathChars, path);
    for (wchar_t* last = wcsrchr(key, L'\\'); last != NULL; last = wcsrchr(key, L'\\')) {
        HKEY opened = NULL;
        DWORD subkeys = 1, values = 1;
        if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
            return;
        RegQueryInfoKeyW(opened, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL, NULL);
        RegCloseKey(opened);
        if (subkeys != 0 || values != 0 || RegDeleteKeyW(root, key) != ERROR_SUCCESS)
            return;
        *last = L'\0';
    }
}

int HashJournal(const wchar_t* journalPath, wchar_t hex[2 * kSha256Bytes + 1]) {
    HANDLE file = OpenWithoutLink(journalPath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD size = GetFileSize(file, NULL), read = 0;
    void* data = size != INVALID_FILE_SIZE && size < kMaxJournalBytes ? malloc(size + 1) : NULL;
    int ok = data != NULL && ReadFile(file, data, size, &read, NULL) && read == size;
    CloseHandle(file);
    unsigned char digest[kSha256Bytes];
    if (ok)
        Sha256(data, size, digest);
    free(data);
    for (int i = 0; ok && i < kSha256Bytes; ++i)
        _snwprintf(hex + 2 * i, 3, L"%02x", digest[i]);
    return ok;
}

// The folder's volume and its number on it: a folder made anew under the same name is another one.
int FolderIdentity(const wchar_t* folder, wchar_t identity[kIdentityChars + 1]) {
    HANDLE held = HoldFolder(folder);
    BY_HANDLE_FILE_INFORMATION info;
    int ok = held != INVALID_HANDLE_VALUE && GetFileInformationByHandle(held, &info);
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    if (ok)
        _snwprintf(identity, kIdentityChars + 1, L"%08lx%08lx%08lx", info.dwVolumeSerialNumber,
                   info.nFileIndexHigh, info.nFileIndexLow);
    return ok;
}

int WriteRecord(const wchar_t* targetFolder, const wchar_t* record) {
    wchar_t name[kPathChars];
    HKEY key = RecordName(targetFolder, name) ? OpenRecords(KEY_SET_VALUE, 1) : NULL;
    if (key == NULL)
        return 0;
    int ok = RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)record,
                            (DWORD)((wcslen(record) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
             RegFlushKey(key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

// Appends mark and the target folder's identity to record.
int AppendMark(wchar_t* record, const wchar_t* targetFolder, const wchar_t* mark) {
    wchar_t identity[kIdentityChars + 1];
    return FolderIdentity(targetFolder, identity) && AppendText(record, kRecordChars, mark) &&
           AppendText(record, kRecordChars, identity);
}

// 1 when the record's rest is mark with the identity of the target folder as it is now.
int HasMark(const wchar_t* rest, const wchar_t* targetFolder, const wchar_t* mark) {
    wchar_t identity[kIdentityChars + 1];
    size_t length = wcslen(mark);
    return _wcsnicmp(rest, mark, length) == 0 && FolderIdentity(targetFolder, identity) &&
           _wcsicmp(rest + length, identity) == 0;
}

int ReadRecord(const wchar_t* targetFolder, wchar_t record[kRecordChars]) {
    wchar_t name[kPathChars];
    HKEY key = RecordName(targetFolder, name) ? OpenRecords(KEY_QUERY_VALUE, 0) : NULL;
    if (key == NULL)
        return 0;
    DWORD type = 0, bytes = (kRecordChars - 1) * sizeof(wchar_t);
    int ok =
        RegQueryValueExW(key, name, NULL, &type, (BYTE*)record, &bytes) == ERROR_SUCCESS && type == REG_SZ;
    RegCloseKey(key);
    record[ok ? bytes / sizeof(wchar_t) : 0] = L'\0';
    return ok && wcschr(record, L'|') != NULL;
}

} // namespace

void Sha256(const void* data, size_t size, unsigned char digest[kSha256Bytes]) {
    unsigned int state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    const unsigned char* bytes = (const unsigned char*)data;
    size_t whole = size - size % 64;
    for (size_t i = 0; i < whole; i += 64)
        Compress(state, bytes + i);
    // The rest, the bit 1, zeros and the length in bits fill one or two last blocks.
    unsigned char last[128];
    memset(last, 0, sizeof last);
    size_t rest = size - whole;
    memcpy(last, bytes + whole, rest);
    last[rest] = 0x80;
    size_t blocks = rest + 9 > 64 ? 2 : 1;
    unsigned long long bits = (unsigned long long)size * 8;
    for (int i = 0; i < 8; ++i)
        last[64 * blocks - 1 - i] = (unsigned char)(bits >> (8 * i));
    for (size_t i = 0; i < blocks; ++i)
        Compress(state, last + 64 * i);
    for (int i = 0; i < 32; ++i)
        digest[i] = (unsigned char)(state[i / 4] >> (24 - 8 * (i % 4)));
}

int RecordJournal(const wchar_t* targetFolder, const wchar_t* workName, const wchar_t* journalPath,
                  int asideIsStaging) {
    wchar_t hex[2 * kSha256Bytes + 1], record[kRecordChars];
    return HashJournal(journalPath, hex) && CopyText(record, kRecordChars, workName) &&
           AppendText(record, kRecordChars, L"|") && AppendText(record, kRecordChars, hex) &&
           (!asideIsStaging || AppendMark(record, targetFolder, kAsideIsStaging)) &&
           WriteRecord(targetFolder, record);
}

int RecordInstalled(const wchar_t* targetFolder, const wchar_t* workName) {
    wchar_t record[kRecordChars];
    return CopyText(record, kRecordChars, workName) && AppendMark(record, targetFolder, kInstalledMark) &&
           WriteRecord(targetFolder, record);
}

int RecordedWorkFolder(const wchar_t* targetFolder, wchar_t* workName, int* mark) {
    wchar_t record[kRecordChars];
    if (!ReadRecord(targetFolder, record))
        return 0;
    wchar_t* rest = wcschr(record, L'|');
    if (mark != NULL) {
        const wchar_t* flag = wcslen(rest) > 2 * kSha256Bytes ? rest + 1 + 2 * kSha256Bytes : L"";
        *mark = HasMark(rest, targetFolder, kInstalledMark)    ? kRecordInstalled
                : HasMark(flag, targetFolder, kAsideIsStaging) ? kRecordAsideIsStaging
                                                               : 0;
    }
    *rest = L'\0';
    return CopyText(workName, kWorkNameChars, record);
}

int JournalMatchesRecord(const wchar_t* targetFolder, const wchar_t* journalPath) {
    wchar_t record[kRecordChars], hex[2 * kSha256Bytes + 1];
    if (!ReadRecord(targetFolder, record) || !HashJournal(journalPath, hex))
        return 0;
    const wchar_t* hash = wcschr(record, L'|') + 1;
    return wcslen(hash) >= 2 * kSha256Bytes && _wcsnicmp(hash, hex, 2 * kSha256Bytes) == 0 &&
           (hash[2 * kSha256Bytes] == L'\0' || hash[2 * kSha256Bytes] == L'|');
}

void ForgetJournal(const wchar_t* targetFolder) {
    wchar_t name[kPathChars];
    HKEY key = RecordName(targetFolder, name) ? OpenRecords(KEY_SET_VALUE, 0) : NULL;
    if (key == NULL)
        return;
    RegDeleteValueW(key, name);
    RegCloseKey(key);
    // No trace of the records is left once none is needed.
    RemoveEmptyKeys(RecordRoot(), kJournalRecordKey);
}
