// The panel as the session sees it and saves it: the recorder in front of
// the display controller that turns flushes, supply switches and contrast
// changes into panel frames on the timeline, and the writer that saves those
// frames as pictures, each with its receiver time.
#ifndef ORVA_TOOLS_SIM_PICTURES_H
#define ORVA_TOOLS_SIM_PICTURES_H

#include <stdio.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/device.h"
#include "sim/display.h"
#include "sim/display_gif.h"
#include "sim/display_png.h"
#include "sim_timeline.h"

namespace simsession {

sim::PanelLook LookOf(const PanelFrame &frame);

// Stands at "/dev/display" in front of the panel and publishes a frame each
// time a flush that changed the panel is over, when the panel's supply
// switches and when its contrast changes.  A flush writes its pages in
// rising order, back to back: a page at or before the last one written, or a
// pause, ends it.
class FrameRecorder : public sim::Device {
public:
    FrameRecorder(std::shared_ptr<sim::Display> display, Timeline &timeline);
    ~FrameRecorder() override { StopWorker(); }

    int Open(int flags) override { return m_display->Open(flags); }
    void Close() override { m_display->Close(); }
    ssize_t Read(void *buffer, size_t size) override { return m_display->Read(buffer, size); }
    off_t Lseek(off_t offset, int whence) override { return m_display->Lseek(offset, whence); }
    int Ioctl(unsigned long request, void *argument) override { return m_display->Ioctl(request, argument); }
    ssize_t Write(const void *data, size_t size) override;

    // The PMU switched the panel's supply.
    void Supply(bool on);
    // Publishes the flush still open; nothing is published after it.
    void End();

private:
    using Clock = std::chrono::steady_clock;
    void Watch();
    void StopWorker();
    void SaveLocked();
    // At `ms`, or now.
    void PublishLocked(ReceiverMs ms = -1);

    std::shared_ptr<sim::Display> m_display;
    Timeline &m_timeline;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    sim::PanelRam m_last;
    int m_lastPage = -1;
    Clock::time_point m_lastData;
    bool m_supplyOn = false;
    int m_contrast = -1;
    bool m_stopping = false;
    bool m_ended = false;
    std::thread m_worker;
};

// What a frame was, for the report.
struct FrameNote {
    int number = 0;
    ReceiverMs ms = 0;
    bool shown = false;
    int contrast = -1;
};

// Saves the timeline's frames: DIR/frame-0001.png, ... with DIR/frames.txt,
// one line per picture ("frame-0001.png 1250 ms" and its look), and the
// animation, whose frames last as long as they stood in the receiver's time.
// The animation opens with the panel as it powers up, unlit.
class PictureWriter {
public:
    PictureWriter(std::string framesDirectory, std::string gifPath);
    ~PictureWriter();
    PictureWriter(const PictureWriter &) = delete;
    PictureWriter &operator=(const PictureWriter &) = delete;

    // Listens from here on; false with the reason when the animation cannot
    // be written.
    bool Start(Timeline &timeline, std::string *error);
    // Once the timeline has delivered its end: the report's lines about the
    // files, and every frame seen.
    std::vector<std::string> Lines() const;
    std::vector<FrameNote> Frames() const;

private:
    void Frame(const PanelFrame &frame);
    void End(ReceiverMs ms);
    // Adds the frame pending in the animation, shown until `until` (the
    // last one at least a moment).
    void AddPendingLocked(ReceiverMs until, bool last);

    const std::string m_directory;
    const std::string m_gifPath;
    Timeline *m_timeline = nullptr;
    int m_listener = 0;
    mutable std::mutex m_mutex;
    std::vector<FrameNote> m_frames;
    int m_saved = 0;
    std::string m_error;
    FILE *m_list = nullptr;
    sim::PanelGif m_gif;
    bool m_gifOpen = false;
    PanelFrame m_pending;
    std::string m_gifError;
    bool m_ended = false;
};

}  // namespace simsession

#endif
