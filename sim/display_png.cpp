#include "sim/display_png.h"

#ifdef ORVA_SIM_PNG
#include <png.h>
#endif

#include <vector>

namespace sim {

#ifdef ORVA_SIM_PNG

bool DisplayPngSupported() { return true; }

bool WritePanelPng(const PanelRam &ram, const std::string &hostPath, std::string *error)
{
    const int width = Display::kWidth * kPngScale;
    const int height = Display::kHeight * kPngScale;
    // One palette index per pixel; two entries make libpng write one bit each.
    std::vector<png_byte> indices(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int column = x / kPngScale, row = y / kPngScale;
            bool lit = (ram[(row / 8) * Display::kColumns + column] >> (row % 8)) & 1;
            indices[static_cast<size_t>(y) * width + x] = lit ? 1 : 0;
        }
    }
    png_byte palette[6];
    for (int i = 0; i < 3; ++i) {
        palette[i] = kPngBackground[i];
        palette[3 + i] = kPngLit[i];
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB_COLORMAP;
    image.colormap_entries = 2;
    if (png_image_write_to_file(&image, hostPath.c_str(), 0, indices.data(), width, palette))
        return true;
    if (error)
        *error = "cannot write " + hostPath + ": " + image.message;
    return false;
}

#else

bool DisplayPngSupported() { return false; }

bool WritePanelPng(const PanelRam &, const std::string &, std::string *error)
{
    if (error)
        *error = "this build has no PNG support (libpng was not found when it was configured)";
    return false;
}

#endif

}  // namespace sim
