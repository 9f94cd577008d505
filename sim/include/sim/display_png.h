// Pictures of the simulated panel as PNG files: its own RAM, each pixel a
// square block, lit pixels dark on a light background as on the receiver.
//
// The look besides the RAM: a panel whose supply is off shows nothing (all
// background), and the contrast setting decides how dark a lit pixel is.
// 128 (0x80), and a panel that was never given a contrast, draw lit pixels
// at full strength; below that they are lighter in proportion (0: as the
// background, nothing to see); above it the background darkens too, in
// proportion, up to half-way to a lit pixel at 255.
#ifndef SIM_DISPLAY_PNG_H
#define SIM_DISPLAY_PNG_H

#include <stdint.h>

#include <array>
#include <string>
#include <vector>

#include "sim/display.h"

namespace sim {

using PanelRam = std::array<uint8_t, Display::kPages * Display::kColumns>;

// Side of the block that stands for one pixel.
constexpr int kPngScale = 4;
constexpr uint8_t kPngLit[3] = {0x1C, 0x24, 0x2C};
constexpr uint8_t kPngBackground[3] = {0xD8, 0xE4, 0xC4};
// The contrast that draws lit pixels at full strength.
constexpr int kFullContrast = 0x80;

struct PanelLook {
    bool shown = true;  // the display's supply is on
    int contrast = -1;  // the controller's setting, -1 when none was given
};

// RGB of the background and of a lit pixel.
struct PanelColours {
    uint8_t background[3];
    uint8_t lit[3];
};
PanelColours ColoursFor(const PanelLook &look);
// Pixel (x, y) of a panel's RAM: bit y % 8 of byte (y / 8) * 128 + x.
inline size_t PanelByte(int x, int y)
{
    return static_cast<size_t>(y / 8) * Display::kColumns + static_cast<size_t>(x);
}
inline bool PanelPixel(const PanelRam &ram, int x, int y) { return (ram[PanelByte(x, y)] >> (y % 8)) & 1; }

// False in a build made without libpng.
bool DisplayPngSupported();
// False with a reason when the file cannot be written.
bool WritePanelPng(const PanelRam &ram, const PanelLook &look, const std::string &hostPath, std::string *error);
inline bool WritePanelPng(const PanelRam &ram, const std::string &hostPath, std::string *error)
{
    return WritePanelPng(ram, PanelLook{}, hostPath, error);
}
// The same picture in memory, as a PNG file's bytes.
bool EncodePanelPng(const PanelRam &ram, const PanelLook &look, std::vector<uint8_t> *png, std::string *error);
inline bool EncodePanelPng(const PanelRam &ram, std::vector<uint8_t> *png, std::string *error)
{
    return EncodePanelPng(ram, PanelLook{}, png, error);
}
// The panel a picture shows, as WritePanelPng draws it at full contrast:
// 128 x 64 blocks of any one size (1 x 1 for a picture drawn by hand), each
// read at its centre, lit where it is nearer the lit colour than the
// background (black on white reads as lit on background too).  False with a
// reason for a file that is not such a picture.
bool ReadPanelPng(const std::string &hostPath, PanelRam *ram, std::string *error);
// A picture of `seen` held against `expected`, drawn as WritePanelPng draws
// a panel but for the pixels that differ: red where only `seen` is lit, blue
// where only `expected` is; the pixels set in `ignored` are washed out.
bool WritePanelDifferencePng(const PanelRam &seen, const PanelRam &expected, const PanelRam &ignored,
                             const std::string &hostPath, std::string *error);
inline bool WriteDisplayPng(const Display &display, const std::string &hostPath, std::string *error)
{
    return WritePanelPng(display.Ram(), hostPath, error);
}

}  // namespace sim

#endif
