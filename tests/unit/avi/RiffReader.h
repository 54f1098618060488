#pragma once
// Reads a RIFF file back into a chunk tree so tests can check its bytes field by field.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace torvane::avi::test {

inline std::string fourccText(uint32_t v) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) s[i] = char(v >> (8 * i));
    return s;
}

struct Chunk {
    std::string id;          // "RIFF", "LIST", "avih", "00dc", ...
    std::string listType;    // for RIFF and LIST
    uint64_t offset = 0;     // of the chunk header in the file
    uint32_t size = 0;       // as stored in the header
    uint64_t dataOffset = 0; // of the data (after the list type for RIFF/LIST)
    uint64_t dataSize = 0;   // as parsed (to the end of the file for an unfinished list)
    std::vector<Chunk> children;

    const Chunk* find(const std::string& wantedId, const std::string& wantedList = "") const {
        for (const auto& c : children)
            if (c.id == wantedId && (wantedList.empty() || c.listType == wantedList)) return &c;
        return nullptr;
    }
    std::vector<const Chunk*> all(const std::string& wantedId, const std::string& wantedList = "") const {
        std::vector<const Chunk*> r;
        for (const auto& c : children)
            if (c.id == wantedId && (wantedList.empty() || c.listType == wantedList)) r.push_back(&c);
        return r;
    }
};

class RiffFile {
public:
    explicit RiffFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
        parse(0, bytes.size(), root.children);
    }

    uint8_t u8(uint64_t at) const { return at < bytes.size() ? bytes[at] : 0; }
    uint16_t u16(uint64_t at) const { return uint16_t(u8(at) | u8(at + 1) << 8); }
    uint32_t u32(uint64_t at) const { return uint32_t(u16(at) | uint32_t(u16(at + 2)) << 16); }
    uint64_t u64(uint64_t at) const { return u32(at) | uint64_t(u32(at + 4)) << 32; }
    int16_t i16(uint64_t at) const { return int16_t(u16(at)); }
    std::string text(uint64_t at) const { return fourccText(u32(at)); }
    std::vector<uint8_t> data(const Chunk& c) const {
        const uint64_t end = std::min<uint64_t>(c.dataOffset + c.dataSize, bytes.size());
        return std::vector<uint8_t>(bytes.begin() + long(c.dataOffset), bytes.begin() + long(end));
    }

    std::vector<uint8_t> bytes;
    Chunk root;   // its children are the top-level RIFF chunks
    bool truncated = false;

private:
    void parse(uint64_t begin, uint64_t end, std::vector<Chunk>& out) {
        uint64_t at = begin;
        while (at + 8 <= end) {
            Chunk c;
            c.offset = at;
            c.id = text(at);
            c.size = u32(at + 4);
            const bool list = c.id == "RIFF" || c.id == "LIST";
            uint64_t size = c.size;
            if (list && size == 0) size = end - at - 8;   // unfinished: up to the end
            if (at + 8 + size > end) {
                truncated = true;
                size = end - at - 8;
            }
            if (list) {
                c.listType = text(at + 8);
                c.dataOffset = at + 12;
                c.dataSize = size >= 4 ? size - 4 : 0;
                parse(c.dataOffset, c.dataOffset + c.dataSize, c.children);
            } else {
                c.dataOffset = at + 8;
                c.dataSize = size;
            }
            out.push_back(std::move(c));
            at += 8 + size + (size & 1);
        }
    }
};

}  // namespace torvane::avi::test
