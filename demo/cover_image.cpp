#include "demo/cover_image.h"

#include <algorithm>
#include <array>

namespace tovani::demo {
namespace {

std::uint32_t crc32(const std::string& data, std::size_t from) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = from; i < data.size(); ++i) {
        c = table[(c ^ static_cast<unsigned char>(data[i])) & 0xFFu] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

void put_u32(std::string& out, std::uint32_t v) {
    out += static_cast<char>((v >> 24) & 0xFF);
    out += static_cast<char>((v >> 16) & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

void put_chunk(std::string& png, const char* type, const std::string& data) {
    put_u32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t crc_from = png.size();
    png += type;
    png += data;
    put_u32(png, crc32(png, crc_from));
}

// zlib stream made of stored (uncompressed) deflate blocks.
std::string zlib_stored(const std::string& raw) {
    std::string z{"\x78\x01", 2};
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(raw.size() - pos, 65535);
        const bool last = pos + n == raw.size();
        z += static_cast<char>(last ? 1 : 0);
        z += static_cast<char>(n & 0xFF);
        z += static_cast<char>((n >> 8) & 0xFF);
        z += static_cast<char>(~n & 0xFF);
        z += static_cast<char>((~n >> 8) & 0xFF);
        z.append(raw, pos, n);
        pos += n;
    } while (pos < raw.size());
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521u;
        b = (b + a) % 65521u;
    }
    put_u32(z, (b << 16) | a);
    return z;
}

} // namespace

std::string cover_png(std::uint32_t seed, int width, int height) {
    const std::uint32_t h = seed * 2654435761u;
    const unsigned char r = static_cast<unsigned char>(80 + (h >> 8) % 150);
    const unsigned char g = static_cast<unsigned char>(80 + (h >> 16) % 150);
    const unsigned char b = static_cast<unsigned char>(80 + (h >> 24) % 150);

    std::string raw;
    raw.reserve(static_cast<std::size_t>(height) * (1 + 3 * static_cast<std::size_t>(width)));
    for (int y = 0; y < height; ++y) {
        raw += '\0'; // filter type: none
        const bool band = y >= height / 6 && y < height / 3;
        for (int x = 0; x < width; ++x) {
            raw += static_cast<char>(band ? r / 2 : r);
            raw += static_cast<char>(band ? g / 2 : g);
            raw += static_cast<char>(band ? b / 2 : b);
        }
    }

    std::string png{"\x89PNG\r\n\x1a\n", 8};
    std::string ihdr;
    put_u32(ihdr, static_cast<std::uint32_t>(width));
    put_u32(ihdr, static_cast<std::uint32_t>(height));
    ihdr += std::string{"\x08\x02\x00\x00\x00", 5}; // 8-bit RGB, deflate, no filter, no interlace
    put_chunk(png, "IHDR", ihdr);
    put_chunk(png, "IDAT", zlib_stored(raw));
    put_chunk(png, "IEND", {});
    return png;
}

} // namespace tovani::demo
