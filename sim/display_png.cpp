#include "sim/display_png.h"

#ifdef ORVA_SIM_PNG
#include <png.h>
#endif

#include <vector>

namespace sim {

namespace {

uint8_t Between(uint8_t from, uint8_t to, int part, int whole)
{
    return static_cast<uint8_t>(from + ((to - from) * part + (to > from ? whole / 2 : -whole / 2)) / whole);
}

}  // namespace

PanelColours ColoursFor(const PanelLook &look)
{
    PanelColours colours{};
    int contrast = look.contrast < 0 ? kFullContrast : look.contrast & 0xFF;
    for (int i = 0; i < 3; ++i) {
        colours.background[i] = kPngBackground[i];
        colours.lit[i] = kPngLit[i];
        if (contrast < kFullContrast)
            colours.lit[i] = Between(kPngBackground[i], kPngLit[i], contrast, kFullContrast);
        else
            colours.background[i] = Between(kPngBackground[i], kPngLit[i], contrast - kFullContrast,
                                            2 * (0xFF - kFullContrast));
        if (!look.shown)
            colours.lit[i] = colours.background[i] = kPngBackground[i];
    }
    return colours;
}

#ifdef ORVA_SIM_PNG

bool DisplayPngSupported() { return true; }

namespace {

// One palette index per pixel; two entries make libpng write one bit each.
struct Picture {
    Picture(const PanelRam &ram, const PanelLook &look) : indices(static_cast<size_t>(kWidth) * kHeight)
    {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                indices[static_cast<size_t>(y) * kWidth + x] = look.shown &&
                                                               PanelPixel(ram, x / kPngScale, y / kPngScale);
        PanelColours colours = ColoursFor(look);
        for (int i = 0; i < 3; ++i) {
            palette[i] = colours.background[i];
            palette[3 + i] = colours.lit[i];
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

bool WritePanelPng(const PanelRam &ram, const PanelLook &look, const std::string &hostPath, std::string *error)
{
    Picture picture(ram, look);
    if (png_image_write_to_file(&picture.image, hostPath.c_str(), 0, picture.indices.data(), Picture::kWidth,
                                picture.palette))
        return true;
    if (error)
        *error = "cannot write " + hostPath + ": " + picture.image.message;
    return false;
}

bool EncodePanelPng(const PanelRam &ram, const PanelLook &look, std::vector<uint8_t> *png, std::string *error)
{
    Picture picture(ram, look);
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

bool WritePanelPng(const PanelRam &, const PanelLook &, const std::string &, std::string *error)
{
    if (error)
        *error = kNoPng;
    return false;
}

bool EncodePanelPng(const PanelRam &, const PanelLook &, std::vector<uint8_t> *, std::string *error)
{
    if (error)
        *error = kNoPng;
    return false;
}

#endif

}  // namespace sim
