// Pictures of the simulated panel as PNG files: its own RAM, each pixel a
// square block, lit pixels dark on a light background as on the receiver.
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

// False in a build made without libpng.
bool DisplayPngSupported();
// False with a reason when the file cannot be written.
bool WritePanelPng(const PanelRam &ram, const std::string &hostPath, std::string *error);
// The same picture in memory, as a PNG file's bytes.
bool EncodePanelPng(const PanelRam &ram, std::vector<uint8_t> *png, std::string *error);
inline bool WriteDisplayPng(const Display &display, const std::string &hostPath, std::string *error)
{
    return WritePanelPng(display.Ram(), hostPath, error);
}

}  // namespace sim

#endif
