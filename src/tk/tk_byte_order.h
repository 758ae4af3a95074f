// Little- and big-endian integers read from and written to byte buffers.
//
// Every function works byte by byte with shifts, so a value may sit at any
// address and reads the same on a host of either byte order. The caller
// makes sure the 2, 4 or 8 bytes exist. The char overloads of the stores
// serve buffers held in std::string.
#pragma once

#include <cstdint>

constexpr uint16_t load_le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

constexpr uint32_t load_le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

constexpr uint64_t load_le64(const unsigned char* p) {
    return load_le32(p) | (static_cast<uint64_t>(load_le32(p + 4)) << 32);
}

constexpr uint16_t load_be16(const unsigned char* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

constexpr uint32_t load_be32(const unsigned char* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

constexpr uint64_t load_be64(const unsigned char* p) {
    return (static_cast<uint64_t>(load_be32(p)) << 32) | load_be32(p + 4);
}

constexpr void store_le16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

constexpr void store_le32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

constexpr void store_le64(unsigned char* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

constexpr void store_be16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}

constexpr void store_be32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * (3 - i)));
}

inline void store_le16(char* p, uint16_t v) { store_le16(reinterpret_cast<unsigned char*>(p), v); }
inline void store_le32(char* p, uint32_t v) { store_le32(reinterpret_cast<unsigned char*>(p), v); }
inline void store_le64(char* p, uint64_t v) { store_le64(reinterpret_cast<unsigned char*>(p), v); }
inline void store_be16(char* p, uint16_t v) { store_be16(reinterpret_cast<unsigned char*>(p), v); }
inline void store_be32(char* p, uint32_t v) { store_be32(reinterpret_cast<unsigned char*>(p), v); }
