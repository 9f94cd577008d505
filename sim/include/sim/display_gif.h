// An animation of the simulated panel as a GIF file, written a frame at a
// time, each picture as the PNG pictures draw it (sim/display_png.h) and
// shown for its own time.  The animation repeats.
#ifndef SIM_DISPLAY_GIF_H
#define SIM_DISPLAY_GIF_H

#include <stdint.h>

#include <string>

#include "sim/display_png.h"

namespace sim {

// A frame's time on screen as a GIF holds it: hundredths of a second, at
// least 2 (viewers show shorter ones as 100 ms) and at most 10 s, so that a
// long pause does not stop the animation.
constexpr int64_t kGifMinDelayMs = 20;
constexpr int64_t kGifMaxDelayMs = 10000;
int GifDelayHundredths(int64_t ms);

// False in a build made without giflib.
bool DisplayGifSupported();

class PanelGif {
public:
    PanelGif() = default;
    ~PanelGif();
    PanelGif(const PanelGif &) = delete;
    PanelGif &operator=(const PanelGif &) = delete;

    // False with a reason when the file cannot be written.
    bool Open(const std::string &hostPath, std::string *error);
    // The picture, shown for `ms` of the receiver's time.
    bool Add(const PanelRam &ram, const PanelLook &look, int64_t ms, std::string *error);
    // Completes the file; false when a write failed.
    bool Close(std::string *error);
    int Frames() const { return m_frames; }

private:
    void *m_file = nullptr;
    std::string m_path;
    int m_frames = 0;
};

}  // namespace sim

#endif
