#include "sim/display_png.h"

#ifdef ORVA_SIM_PNG
#include <png.h>
#endif

#include <vector>

namespace sim {

#ifdef ORVA_SIM_PNG

bool DisplayPngSupported() { return true; }

namespace {

// One palette index per pixel; two entries make libpng write one bit each.
struct Picture {
    explicit Picture(const PanelRam &ram) : indices(static_cast<size_t>(kWidth) * kHeight)
    {
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                int column = x / kPngScale, row = y / kPngScale;
                bool lit = (ram[(row / 8) * Display::kColumns + column] >> (row % 8)) & 1;
                indices[static_cast<size_t>(y) * kWidth + x] = lit ? 1 : 0;
            }
        }
        for (int i = 0; i < 3; ++i) {
            palette[i] = kPngBackground[i];
            palette[3 + i] = kPngLit[i];
        }
        image.version = PNG_IMAGE_VERSION;
        image.width = kWidth;
        image.height = kHeight;
        image.format = PNG_FORMAT_RGB_COLORMAP;
        image.colormap_entries = 2;
    }
    static constexpr int kWidth = Display::kWidth * kPngScale;
    static constexpr int kHeight = Display::kHeight * kPngScale;
    std::vector<png_byte> indices;
    png_byte palette[6];
    png_image image{};
};

}  // namespace

bool WritePanelPng(const PanelRam &ram, const std::string &hostPath, std::string *error)
{
    Picture picture(ram);
    if (png_image_write_to_file(&picture.image, hostPath.c_str(), 0, picture.indices.data(), Picture::kWidth,
                                picture.palette))
        return true;
    if (error)
        *error = "cannot write " + hostPath + ": " + picture.image.message;
    return false;
}

bool EncodePanelPng(const PanelRam &ram, std::vector<uint8_t> *png, std::string *error)
{
    Picture picture(ram);
    png_alloc_size_t size = 0;
    // The first call measures, the second writes.
    if (png_image_write_to_memory(&picture.image, nullptr, &size, 0, picture.indices.data(), Picture::kWidth,
                                  picture.palette)) {
        png->resize(size);
        if (png_image_write_to_memory(&picture.image, png->data(), &size, 0, picture.indices.data(), Picture::kWidth,
                                      picture.palette)) {
            png->resize(size);
            return true;
        }
    }
    if (error)
        *error = std::string("cannot make the picture: ") + picture.image.message;
    return false;
}

#else

const char kNoPng[] = "this build has no PNG support (libpng was not found when it was configured)";

bool DisplayPngSupported() { return false; }

bool WritePanelPng(const PanelRam &, const std::string &, std::string *error)
{
    if (error)
        *error = kNoPng;
    return false;
}

bool EncodePanelPng(const PanelRam &, std::vector<uint8_t> *, std::string *error)
{
    if (error)
        *error = kNoPng;
    return false;
}

#endif

}  // namespace sim
