// Little-endian integers in file bytes (WAV and .pmk files).
#pragma once

#include <cstdint>

namespace qern {

inline std::uint16_t load_le16(const unsigned char* b) {
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

inline std::uint32_t load_le32(const unsigned char* b) {
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

inline std::int16_t load_le16_signed(const unsigned char* b) {
    return static_cast<std::int16_t>(load_le16(b));
}

inline std::int32_t load_le32_signed(const unsigned char* b) {
    return static_cast<std::int32_t>(load_le32(b));
}

inline void store_le16(unsigned char* b, std::uint16_t v) {
    b[0] = static_cast<unsigned char>(v & 0xFF);
    b[1] = static_cast<unsigned char>(v >> 8);
}

inline void store_le32(unsigned char* b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

}  // namespace qern
