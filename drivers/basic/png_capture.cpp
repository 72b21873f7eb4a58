#include "drivers/basic/png_capture.h"

#include <png.h>

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

namespace qor::basic {

std::string CaptureFilePath(const std::string& folder, const std::string& title, uint64_t number) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%06llu", static_cast<unsigned long long>(number));
    return folder + "/" + title + "_" + digits + ".png";
}

bool WriteCapturePng(const std::string& path, const uint32_t* argb, uint32_t width, uint32_t height) {
    if (argb == nullptr || width == 0 || height == 0) return false;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    uint8_t* out = rgb.data();
    for (size_t i = 0, count = static_cast<size_t>(width) * height; i < count; ++i) {
        const uint32_t pixel = argb[i];
        *out++ = static_cast<uint8_t>(pixel >> 16);
        *out++ = static_cast<uint8_t>(pixel >> 8);
        *out++ = static_cast<uint8_t>(pixel);
    }

    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    image.flags = PNG_IMAGE_FLAG_FAST;
    const std::string temporary = path + ".tmp";
    if (png_image_write_to_file(&image, temporary.c_str(), 0, rgb.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        std::remove(temporary.c_str());
        return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace qor::basic
