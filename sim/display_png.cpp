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

bool WritePanelPng(const PanelRam &ram, const PanelLook &look, const std::string &hostPath, std::string *error)
{
    const int width = Display::kWidth * kPngScale;
    const int height = Display::kHeight * kPngScale;
    // One palette index per pixel; two entries make libpng write one bit each.
    std::vector<png_byte> indices(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            indices[static_cast<size_t>(y) * width + x] = look.shown && PanelPixel(ram, x / kPngScale, y / kPngScale);
    PanelColours colours = ColoursFor(look);
    png_byte palette[6];
    for (int i = 0; i < 3; ++i) {
        palette[i] = colours.background[i];
        palette[3 + i] = colours.lit[i];
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

bool WritePanelPng(const PanelRam &, const PanelLook &, const std::string &, std::string *error)
{
    if (error)
        *error = "this build has no PNG support (libpng was not found when it was configured)";
    return false;
}

#endif

}  // namespace sim
