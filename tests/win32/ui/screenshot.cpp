#include "screenshot.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace kelvane::testing {
namespace {

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBE(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void PutChunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& body) {
    PutBE(png, static_cast<std::uint32_t>(body.size()));
    std::vector<std::uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    png.insert(png.end(), typed.begin(), typed.end());
    PutBE(png, Crc32(typed.data(), typed.size()));
}

// RGB rows into a PNG whose zlib stream uses stored (uncompressed) blocks:
// larger files, but no compressor to carry.
std::vector<std::uint8_t> EncodePng(int width, int height, const std::vector<std::uint8_t>& rgbRows) {
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> ihdr;
    PutBE(ihdr, static_cast<std::uint32_t>(width));
    PutBE(ihdr, static_cast<std::uint32_t>(height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    PutChunk(png, "IHDR", ihdr);

    std::vector<std::uint8_t> z = {0x78, 0x01};
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : rgbRows) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    for (std::size_t pos = 0; pos < rgbRows.size() || pos == 0;) {
        const std::size_t n = std::min<std::size_t>(65535, rgbRows.size() - pos);
        const bool last = pos + n == rgbRows.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(n & 0xFF));
        z.push_back(static_cast<std::uint8_t>(n >> 8));
        z.push_back(static_cast<std::uint8_t>(~n & 0xFF));
        z.push_back(static_cast<std::uint8_t>((~n >> 8) & 0xFF));
        z.insert(z.end(), rgbRows.begin() + static_cast<std::ptrdiff_t>(pos),
                 rgbRows.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
        if (last) break;
    }
    PutBE(z, (b << 16) | a);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", {});
    return png;
}

}  // namespace

std::string SaveWindowPng(HWND hwnd, const std::string& name) {
    // Paint everything first, then read the window's own pixels: the screen
    // may lag behind them, as Wine copies them to X on its own schedule.
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT rc;
    if (!GetWindowRect(hwnd, &rc)) return {};
    const int width = rc.right - rc.left, height = rc.bottom - rc.top;
    if (width <= 0 || height <= 0) return {};

    const HDC window = GetWindowDC(hwnd);
    const HDC mem = CreateCompatibleDC(window);
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;  // top-down
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const HBITMAP dib = CreateDIBSection(window, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(mem, dib);
    const BOOL copied = BitBlt(mem, 0, 0, width, height, window, 0, 0, SRCCOPY);
    GdiFlush();

    std::vector<std::uint8_t> rows;
    if (copied && bits) {
        const auto* px = static_cast<const std::uint8_t*>(bits);
        rows.reserve(static_cast<std::size_t>(height) * (1 + 3 * static_cast<std::size_t>(width)));
        for (int y = 0; y < height; ++y) {
            rows.push_back(0);  // no filter
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* p = px + (static_cast<std::size_t>(y) * width + x) * 4;
                rows.insert(rows.end(), {p[2], p[1], p[0]});
            }
        }
    }
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(hwnd, window);
    if (rows.empty()) return {};

    const std::string dir = KELVANE_SCREENSHOT_DIR;
    CreateDirectoryA(dir.c_str(), nullptr);
    const std::string path = dir + "/" + name + ".png";
    const auto png = EncodePng(width, height, rows);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return {};
    const bool written = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    return std::fclose(f) == 0 && written ? path : std::string();
}

}  // namespace kelvane::testing
