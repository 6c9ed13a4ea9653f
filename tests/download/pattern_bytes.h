#pragma once

#include <cstddef>
#include <fstream>
#include <string>
#include <vector>

// The byte at a position of a test body: it differs from position to position, so a
// misplaced or repeated piece shows.
inline char patternByte(size_t offset)
{
    return static_cast<char>((offset * 7 + offset / 65536) % 251);
}

inline std::string patternBytes(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = patternByte(i);
    return bytes;
}

// Reads the file piece by piece, so a large file costs no memory of its size.
inline bool fileHoldsPattern(const std::string& path, size_t size)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> piece(1 << 20);
    size_t offset = 0;
    while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i, ++offset)
            if (piece[static_cast<size_t>(i)] != patternByte(offset))
                return false;
    }
    return offset == size;
}
