// RGBA8 PNG files for the lens tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lens::tools {

struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // rows packed, 4 bytes a pixel
};

// Any PNG libpng reads, converted to RGBA8; false with `error` set otherwise.
bool ReadPng(const std::string& path, RgbaImage& image, std::string& error);
bool WritePng(const std::string& path, const RgbaImage& image, std::string& error);

}  // namespace lens::tools
