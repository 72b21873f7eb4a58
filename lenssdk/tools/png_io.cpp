#include "lenssdk/tools/png_io.h"

#include <png.h>

#include <cstring>

namespace lens::tools {

namespace {
// Larger images are refused before their pixels are allocated.
constexpr png_uint_32 kMostPixels = 16384u * 16384u;
}  // namespace

bool ReadPng(const std::string& path, RgbaImage& image, std::string& error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        error = png.message;
        return false;
    }
    if (png.width == 0 || png.height == 0 || png.width > 16384 || png.height > 16384 ||
        png.width * png.height > kMostPixels) {
        png_image_free(&png);
        error = "image size out of range";
        return false;
    }
    png.format = PNG_FORMAT_RGBA;
    image.width = int(png.width);
    image.height = int(png.height);
    image.pixels.assign(PNG_IMAGE_SIZE(png), 0);
    if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr)) {
        error = png.message;
        png_image_free(&png);
        return false;
    }
    return true;
}

bool WritePng(const std::string& path, const RgbaImage& image, std::string& error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(image.width);
    png.height = png_uint_32(image.height);
    png.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&png, path.c_str(), 0, image.pixels.data(), 0, nullptr)) {
        error = png.message;
        return false;
    }
    return true;
}

}  // namespace lens::tools
