// Pictures of the simulated panel as PNG files: its own RAM, each pixel a
// square block, lit pixels dark on a light background as on the receiver.
#ifndef SIM_DISPLAY_PNG_H
#define SIM_DISPLAY_PNG_H

#include <stdint.h>

#include <array>
#include <string>

#include "sim/display.h"

namespace sim {

using PanelRam = std::array<uint8_t, Display::kPages * Display::kColumns>;

// Side of the block that stands for one pixel.
constexpr int kPngScale = 4;
constexpr uint8_t kPngLit[3] = {0x1C, 0x24, 0x2C};
constexpr uint8_t kPngBackground[3] = {0xD8, 0xE4, 0xC4};

// False in a build made without libpng.
bool DisplayPngSupported();
// False with a reason when the file cannot be written.
bool WritePanelPng(const PanelRam &ram, const std::string &hostPath, std::string *error);
// The panel a picture shows, as WritePanelPng draws it: 128 x 64 blocks of
// any one size (1 x 1 for a picture drawn by hand), each read at its centre,
// lit where it is nearer the lit colour than the background (black on white
// reads as lit on background too).  False with a reason for a file that is
// not such a picture.
bool ReadPanelPng(const std::string &hostPath, PanelRam *ram, std::string *error);
// A picture of `seen` held against `expected`, drawn as WritePanelPng draws
// a panel but for the pixels that differ: red where only `seen` is lit, blue
// where only `expected` is; the pixels set in `ignored` are washed out.
bool WritePanelDifferencePng(const PanelRam &seen, const PanelRam &expected, const PanelRam &ignored,
                             const std::string &hostPath, std::string *error);
// Pixel (x, y) of a panel's RAM: bit y % 8 of byte (y / 8) * 128 + x.
inline size_t PanelByte(int x, int y)
{
    return static_cast<size_t>(y / 8) * Display::kColumns + static_cast<size_t>(x);
}
inline bool PanelPixel(const PanelRam &ram, int x, int y) { return (ram[PanelByte(x, y)] >> (y % 8)) & 1; }

inline bool WriteDisplayPng(const Display &display, const std::string &hostPath, std::string *error)
{
    return WritePanelPng(display.Ram(), hostPath, error);
}

}  // namespace sim

#endif
