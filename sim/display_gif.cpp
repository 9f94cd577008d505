#include "sim/display_gif.h"

#ifdef ORVA_SIM_GIF
#include <gif_lib.h>
#endif

#include <algorithm>
#include <vector>

namespace sim {

int GifDelayHundredths(int64_t ms)
{
    return static_cast<int>((std::clamp(ms, kGifMinDelayMs, kGifMaxDelayMs) + 5) / 10);
}

#ifdef ORVA_SIM_GIF

namespace {

const int kWidth = Display::kWidth * kPngScale;
const int kHeight = Display::kHeight * kPngScale;

std::string Why(const std::string &path, int code)
{
    const char *text = GifErrorString(code);
    return "cannot write " + path + ": " + (text ? text : "GIF error");
}

// Two entries: the background, then a lit pixel.
ColorMapObject *Colours(const PanelLook &look)
{
    PanelColours colours = ColoursFor(look);
    GifColorType entries[2] = {{colours.background[0], colours.background[1], colours.background[2]},
                               {colours.lit[0], colours.lit[1], colours.lit[2]}};
    return GifMakeMapObject(2, entries);
}

}  // namespace

bool DisplayGifSupported() { return true; }

PanelGif::~PanelGif()
{
    if (m_file) {
        int code = 0;
        EGifCloseFile(static_cast<GifFileType *>(m_file), &code);
    }
}

bool PanelGif::Open(const std::string &hostPath, std::string *error)
{
    int code = 0;
    GifFileType *gif = EGifOpenFileName(hostPath.c_str(), false, &code);
    if (!gif) {
        *error = Why(hostPath, code);
        return false;
    }
    m_file = gif;
    m_path = hostPath;
    EGifSetGifVersion(gif, true);
    ColorMapObject *screen = Colours(PanelLook{});
    bool written = EGifPutScreenDesc(gif, kWidth, kHeight, 1, 0, screen) == GIF_OK;
    GifFreeMapObject(screen);
    // The application extension that makes viewers repeat it, for ever.
    static const GifByteType kLoop[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    static const GifByteType kForever[] = {1, 0, 0};
    written = written && EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
              EGifPutExtensionBlock(gif, sizeof kLoop, kLoop) == GIF_OK &&
              EGifPutExtensionBlock(gif, sizeof kForever, kForever) == GIF_OK && EGifPutExtensionTrailer(gif) == GIF_OK;
    if (!written)
        *error = Why(hostPath, gif->Error);
    return written;
}

bool PanelGif::Add(const PanelRam &ram, const PanelLook &look, int64_t ms, std::string *error)
{
    GifFileType *gif = static_cast<GifFileType *>(m_file);
    if (!gif)
        return false;
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.DelayTime = GifDelayHundredths(ms);
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    size_t length = EGifGCBToExtension(&control, extension);
    ColorMapObject *colours = Colours(look);
    bool written = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) == GIF_OK &&
                   EGifPutImageDesc(gif, 0, 0, kWidth, kHeight, false, colours) == GIF_OK;
    GifFreeMapObject(colours);
    std::vector<GifPixelType> line(kWidth);
    for (int y = 0; written && y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x)
            line[static_cast<size_t>(x)] = look.shown && PanelPixel(ram, x / kPngScale, y / kPngScale);
        written = EGifPutLine(gif, line.data(), kWidth) == GIF_OK;
    }
    if (!written) {
        *error = Why(m_path, gif->Error);
        return false;
    }
    ++m_frames;
    return true;
}

bool PanelGif::Close(std::string *error)
{
    GifFileType *gif = static_cast<GifFileType *>(m_file);
    m_file = nullptr;
    int code = 0;
    if (!gif || EGifCloseFile(gif, &code) == GIF_OK)
        return gif != nullptr;
    *error = Why(m_path, code);
    return false;
}

#else

bool DisplayGifSupported() { return false; }

PanelGif::~PanelGif() = default;

bool PanelGif::Open(const std::string &, std::string *error)
{
    *error = "this build has no GIF support (giflib was not found when it was configured)";
    return false;
}

bool PanelGif::Add(const PanelRam &, const PanelLook &, int64_t, std::string *) { return false; }

bool PanelGif::Close(std::string *) { return false; }

#endif

}  // namespace sim
