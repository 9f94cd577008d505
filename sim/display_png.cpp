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

namespace {

const int kPictureWidth = Display::kWidth * kPngScale;
const int kPictureHeight = Display::kHeight * kPngScale;

// Palette indices of a panel picture, one per picture pixel, from the index
// each panel pixel takes.
template <typename Index>
std::vector<png_byte> Blocks(Index index)
{
    std::vector<png_byte> indices(static_cast<size_t>(kPictureWidth) * kPictureHeight);
    for (int y = 0; y < kPictureHeight; ++y)
        for (int x = 0; x < kPictureWidth; ++x)
            indices[static_cast<size_t>(y) * kPictureWidth + x] = index(x / kPngScale, y / kPngScale);
    return indices;
}

png_image IndexedImage(const std::vector<png_byte> &palette)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kPictureWidth;
    image.height = kPictureHeight;
    image.format = PNG_FORMAT_RGB_COLORMAP;
    image.colormap_entries = static_cast<png_uint_32>(palette.size() / 3);
    return image;
}

bool WriteIndexed(const std::vector<png_byte> &indices, const std::vector<png_byte> &palette,
                  const std::string &hostPath, std::string *error)
{
    png_image image = IndexedImage(palette);
    if (png_image_write_to_file(&image, hostPath.c_str(), 0, indices.data(), kPictureWidth, palette.data()))
        return true;
    if (error)
        *error = "cannot write " + hostPath + ": " + image.message;
    return false;
}

// Two entries make libpng write one bit per pixel.
std::vector<png_byte> LookPalette(const PanelLook &look)
{
    PanelColours colours = ColoursFor(look);
    return {colours.background[0], colours.background[1], colours.background[2],
            colours.lit[0],        colours.lit[1],        colours.lit[2]};
}

std::vector<png_byte> LookBlocks(const PanelRam &ram, const PanelLook &look)
{
    return Blocks([&](int x, int y) { return look.shown && PanelPixel(ram, x, y) ? 1 : 0; });
}

int Distance(const png_byte *pixel, const uint8_t *colour)
{
    int sum = 0;
    for (int i = 0; i < 3; ++i)
        sum += (pixel[i] - colour[i]) * (pixel[i] - colour[i]);
    return sum;
}

}  // namespace

bool DisplayPngSupported() { return true; }

bool WritePanelPng(const PanelRam &ram, const PanelLook &look, const std::string &hostPath, std::string *error)
{
    return WriteIndexed(LookBlocks(ram, look), LookPalette(look), hostPath, error);
}

bool EncodePanelPng(const PanelRam &ram, const PanelLook &look, std::vector<uint8_t> *png, std::string *error)
{
    std::vector<png_byte> palette = LookPalette(look), indices = LookBlocks(ram, look);
    png_image image = IndexedImage(palette);
    png_alloc_size_t size = 0;
    // The first call measures, the second writes.
    if (png_image_write_to_memory(&image, nullptr, &size, 0, indices.data(), kPictureWidth, palette.data())) {
        png->resize(size);
        if (png_image_write_to_memory(&image, png->data(), &size, 0, indices.data(), kPictureWidth, palette.data())) {
            png->resize(size);
            return true;
        }
    }
    if (error)
        *error = std::string("cannot make the picture: ") + image.message;
    return false;
}

bool ReadPanelPng(const std::string &hostPath, PanelRam *ram, std::string *error)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, hostPath.c_str())) {
        *error = hostPath + ": " + image.message;
        return false;
    }
    unsigned scale = image.width / Display::kWidth;
    if (scale == 0 || image.width != scale * Display::kWidth || image.height != scale * Display::kHeight) {
        png_image_free(&image);
        *error = hostPath + ": " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                 " pixels is not a picture of the 128 x 64 panel (nor a multiple of it)";
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
    // A transparent picture is read over the background.
    png_color background{kPngBackground[0], kPngBackground[1], kPngBackground[2]};
    if (!png_image_finish_read(&image, &background, pixels.data(), 0, nullptr)) {
        *error = hostPath + ": " + image.message;
        return false;
    }
    ram->fill(0);
    for (int y = 0; y < Display::kHeight; ++y) {
        for (int x = 0; x < Display::kWidth; ++x) {
            size_t at = (static_cast<size_t>(y * scale + scale / 2) * image.width + x * scale + scale / 2) * 3;
            if (Distance(&pixels[at], kPngLit) < Distance(&pixels[at], kPngBackground))
                (*ram)[PanelByte(x, y)] |= static_cast<uint8_t>(1 << (y % 8));
        }
    }
    return true;
}

bool WritePanelDifferencePng(const PanelRam &seen, const PanelRam &expected, const PanelRam &ignored,
                             const std::string &hostPath, std::string *error)
{
    enum { kBackground, kLit, kOnlySeen, kOnlyExpected, kIgnoredBackground, kIgnoredLit };
    const png_byte kRed[3] = {0xE0, 0x20, 0x20}, kBlue[3] = {0x20, 0x40, 0xE0};
    std::vector<png_byte> palette(kPngBackground, kPngBackground + 3);
    palette.insert(palette.end(), kPngLit, kPngLit + 3);
    palette.insert(palette.end(), kRed, kRed + 3);
    palette.insert(palette.end(), kBlue, kBlue + 3);
    // Washed out: halfway to white.
    for (const uint8_t *colour : {kPngBackground, kPngLit})
        for (int i = 0; i < 3; ++i)
            palette.push_back(static_cast<png_byte>((colour[i] + 0xFF) / 2));
    return WriteIndexed(Blocks([&](int x, int y) {
                            bool lit = PanelPixel(seen, x, y), wanted = PanelPixel(expected, x, y);
                            if (PanelPixel(ignored, x, y))
                                return lit ? kIgnoredLit : kIgnoredBackground;
                            if (lit != wanted)
                                return lit ? kOnlySeen : kOnlyExpected;
                            return lit ? kLit : kBackground;
                        }),
                        palette, hostPath, error);
}

#else

namespace {
const char kNoPng[] = "this build has no PNG support (libpng was not found when it was configured)";
}

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

bool ReadPanelPng(const std::string &, PanelRam *, std::string *error)
{
    *error = kNoPng;
    return false;
}

bool WritePanelDifferencePng(const PanelRam &, const PanelRam &, const PanelRam &, const std::string &,
                             std::string *error)
{
    *error = kNoPng;
    return false;
}

#endif

}  // namespace sim
