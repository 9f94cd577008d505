#include "sim_pictures.h"

#include <string.h>

#include <algorithm>

namespace simsession {

sim::PanelLook LookOf(const PanelFrame &frame)
{
    sim::PanelLook look;
    look.shown = frame.Shown();
    look.contrast = frame.contrast;
    return look;
}

FrameRecorder::FrameRecorder(std::shared_ptr<sim::Display> display, Timeline &timeline)
    : m_display(std::move(display)), m_timeline(timeline), m_last(m_display->Ram()), m_contrast(m_display->Contrast())
{}

ssize_t FrameRecorder::Write(const void *data, size_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    bool commands = m_display->Mode() == sim::Display::kCommandMode;
    if (commands && m_lastPage >= 0) {
        for (size_t i = 0; i < size; ++i) {
            bool pageSelect = bytes[i] >= 0xB0 && bytes[i] < 0xB0 + sim::Display::kPages;
            if (pageSelect && bytes[i] - 0xB0 <= m_lastPage) {
                SaveLocked();
                break;
            }
        }
    }
    int page = m_display->Page();
    ssize_t written = m_display->Write(data, size);
    if (commands && m_display->Contrast() != m_contrast) {
        if (m_lastPage >= 0)
            SaveLocked();
        // A new frame only when the picture shows it.
        sim::PanelColours before = sim::ColoursFor({m_supplyOn, m_contrast});
        m_contrast = m_display->Contrast();
        sim::PanelColours after = sim::ColoursFor({m_supplyOn, m_contrast});
        if (memcmp(&before, &after, sizeof before) != 0)
            PublishLocked();
    }
    if (!commands && written > 0) {
        m_lastPage = page;
        m_lastData = Clock::now();
        if (!m_worker.joinable() && !m_stopping)
            m_worker = QuietThread([this] { Watch(); });
        m_changed.notify_all();
    }
    return written;
}

void FrameRecorder::Supply(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (on == m_supplyOn)
        return;
    if (m_lastPage >= 0)
        SaveLocked();
    m_supplyOn = on;
    PublishLocked();
}

void FrameRecorder::End()
{
    StopWorker();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_lastPage >= 0)
        SaveLocked();
    m_ended = true;
}

// A flush followed by a pause is over.
void FrameRecorder::Watch()
{
    // Long enough for a flush slowed by the sanitizers to stay one frame.
    const std::chrono::milliseconds kPause{20};
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        if (m_lastPage < 0)
            m_changed.wait(lock);
        else if (Clock::now() < m_lastData + kPause)
            m_changed.wait_until(lock, m_lastData + kPause);
        else
            SaveLocked();
    }
}

void FrameRecorder::StopWorker()
{
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        worker = std::move(m_worker);
    }
    m_changed.notify_all();
    if (worker.joinable())
        worker.join();
}

void FrameRecorder::SaveLocked()
{
    m_lastPage = -1;
    sim::PanelRam ram = m_display->Ram();
    if (ram == m_last)
        return;
    m_last = ram;
    // The panel showed it once its last page was written.
    PublishLocked(m_timeline.At(m_lastData));
}

void FrameRecorder::PublishLocked(ReceiverMs ms)
{
    if (m_ended)
        return;
    PanelFrame frame;
    std::copy(m_last.begin(), m_last.end(), frame.ram.begin());
    frame.supplyOn = m_supplyOn;
    frame.contrast = m_contrast;
    m_timeline.PublishFrame(frame, ms < 0 ? m_timeline.Now() : ms);
}

PictureWriter::PictureWriter(std::string framesDirectory, std::string gifPath)
    : m_directory(std::move(framesDirectory)), m_gifPath(std::move(gifPath))
{}

PictureWriter::~PictureWriter()
{
    if (m_list)
        fclose(m_list);
}

bool PictureWriter::Start(Timeline &timeline, std::string *error)
{
    if (!m_directory.empty()) {
        m_list = fopen((m_directory + "/frames.txt").c_str(), "we");
        if (!m_list) {
            *error = "cannot write " + m_directory + "/frames.txt";
            return false;
        }
    }
    if (!m_gifPath.empty()) {
        if (!m_gif.Open(m_gifPath, error))
            return false;
        m_gifOpen = true;
    }
    m_timeline = &timeline;
    TimelineListener listener;
    listener.frame = [this](const PanelFrame &frame) { Frame(frame); };
    listener.end = [this](ReceiverMs ms) { End(ms); };
    m_listener = timeline.AddListener(listener);
    return true;
}

void PictureWriter::Frame(const PanelFrame &frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ended)
        return;
    m_frames.push_back({frame.number, frame.ms, frame.Shown(), frame.contrast});
    sim::PanelRam ram;
    std::copy(frame.ram.begin(), frame.ram.end(), ram.begin());
    if (m_list) {
        char name[32];
        snprintf(name, sizeof name, "frame-%04d.png", frame.number);
        std::string error;
        if (sim::WritePanelPng(ram, LookOf(frame), m_directory + "/" + name, &error)) {
            ++m_saved;
            std::string look = !frame.Shown()        ? ", unpowered: drawn blank"
                               : frame.contrast >= 0 ? ", contrast " + std::to_string(frame.contrast)
                                                     : "";
            fprintf(m_list, "%s %lld ms%s\n", name, static_cast<long long>(frame.ms), look.c_str());
        } else if (m_error.empty()) {
            m_error = error;
        }
    }
    if (m_gifOpen) {
        AddPendingLocked(frame.ms, false);
        m_pending = frame;
    }
}

void PictureWriter::AddPendingLocked(ReceiverMs until, bool last)
{
    // A picture replaced within the same millisecond was never seen; the
    // last one stands however short.
    ReceiverMs shown = std::max<ReceiverMs>(until - m_pending.ms, last ? 1 : 0);
    if (shown <= 0 || !m_gifError.empty())
        return;
    sim::PanelRam ram;
    std::copy(m_pending.ram.begin(), m_pending.ram.end(), ram.begin());
    m_gif.Add(ram, LookOf(m_pending), shown, &m_gifError);
}

void PictureWriter::End(ReceiverMs ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ended)
        return;
    m_ended = true;
    if (m_gifOpen) {
        AddPendingLocked(ms, true);
        std::string error;
        if (!m_gif.Close(&error) && m_gifError.empty())
            m_gifError = error;
    }
    if (m_list && fclose(m_list) != 0 && m_error.empty())
        m_error = "cannot write " + m_directory + "/frames.txt";
    m_list = nullptr;
}

std::vector<std::string> PictureWriter::Lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> lines;
    if (!m_directory.empty()) {
        lines.push_back("display: " + std::to_string(m_saved) + " frames in " + m_directory +
                        " (their receiver times in frames.txt)");
        if (!m_error.empty())
            lines.push_back("display: " + m_error);
    }
    if (m_gifOpen)
        lines.push_back("display: " + (m_gifError.empty() ? "animation " + m_gifPath + ", " +
                                                                std::to_string(m_gif.Frames()) + " frames"
                                                          : m_gifError));
    return lines;
}

std::vector<FrameNote> PictureWriter::Frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

}  // namespace simsession
