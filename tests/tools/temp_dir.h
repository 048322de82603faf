// A scratch folder of its own per test, removed with everything in it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "keylightsend-XXXXXX").string();
        _path = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Writes bytes into a file of that name and returns its path.
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        const std::string file = (_path / name).string();
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return file;
    }
    std::string path(const std::string& name) const { return (_path / name).string(); }

private:
    std::filesystem::path _path;
};

// A 24-bit BMP file of width x height pixels, every pixel blue, green, red.
inline std::vector<uint8_t> bmp24(int width, int height, uint8_t blue, uint8_t green, uint8_t red) {
    const int row_bytes = (3 * width + 3) / 4 * 4;
    const uint32_t file_size = static_cast<uint32_t>(54 + row_bytes * height);
    std::vector<uint8_t> bmp(file_size, 0);
    auto put32 = [&bmp](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            bmp[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
        }
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, file_size);
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    bmp[26] = 1;
    bmp[28] = 24;
    put32(34, file_size - 54);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t at = static_cast<size_t>(54 + y * row_bytes + 3 * x);
            bmp[at] = blue;
            bmp[at + 1] = green;
            bmp[at + 2] = red;
        }
    }
    return bmp;
}
