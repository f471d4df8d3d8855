#include "TestZip.h"

#include <zlib.h>

namespace {

void Put16(std::string& out, uint32_t value) {
    out.push_back((char)(value & 0xFF));
    out.push_back((char)((value >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

std::string RawDeflate(const std::string& data) {
    z_stream stream = {};
    deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, (uLong)data.size()) + 16, '\0');
    stream.next_in = (Bytef*)data.data();
    stream.avail_in = (uInt)data.size();
    stream.next_out = (Bytef*)&out[0];
    stream.avail_out = (uInt)out.size();
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

} // namespace

TestMember DirectoryEntry(const std::string& name) {
    TestMember member;
    member.name = name;
    member.deflated = false;
    return member;
}

TestMember FileMember(const std::string& name, const std::string& data, bool deflated) {
    TestMember member;
    member.name = name;
    member.data = data;
    member.deflated = deflated;
    return member;
}

std::string BuildTestZip(const std::vector<TestMember>& members) {
    std::string out, central;
    for (const TestMember& member : members) {
        std::string body = member.deflated ? RawDeflate(member.data) : member.data;
        uint32_t crc = (uint32_t)crc32(0, (const Bytef*)member.data.data(), (uInt)member.data.size());
        crc += member.crcDelta;
        uint32_t size = (uint32_t)((int64_t)member.data.size() + member.sizeDelta);
        uint32_t method = member.deflated ? 8 : 0;
        uint32_t offset = (uint32_t)out.size();
        bool directory = !member.name.empty() && member.name.back() == '/';

        Put32(out, 0x04034b50);
        Put16(out, 20);
        Put16(out, 0);
        Put16(out, method);
        Put32(out, member.dosDateTime);
        Put32(out, crc);
        Put32(out, (uint32_t)body.size());
        Put32(out, size);
        Put16(out, (uint32_t)member.name.size());
        Put16(out, 0);
        out += member.name;
        out += body;

        Put32(central, 0x02014b50);
        Put16(central, 20);
        Put16(central, 20);
        Put16(central, 0);
        Put16(central, method);
        Put32(central, member.dosDateTime);
        Put32(central, crc);
        Put32(central, (uint32_t)body.size());
        Put32(central, size);
        Put16(central, (uint32_t)member.name.size());
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, directory ? 0x10 : 0x20);
        Put32(central, offset);
        central += member.name;
    }
    uint32_t centralOffset = (uint32_t)out.size();
    out += central;
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, (uint32_t)members.size());
    Put16(out, (uint32_t)members.size());
    Put32(out, (uint32_t)central.size());
    Put32(out, centralOffset);
    Put16(out, 0);
    return out;
}
