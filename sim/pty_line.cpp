#include "sim/pty_line.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "sim/receiver.h"

namespace sim {

unsigned BitRateOfSpeed(speed_t speed)
{
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 0;
    }
}

PtyLine::PtyLine(Receiver &receiver, const std::string &boardPath) : m_receiver(receiver), m_boardPath(boardPath)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot open a pseudo-terminal");
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0)
        throw std::runtime_error("cannot name the pseudo-terminal");
    m_slaveName = name;
    m_slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        throw std::runtime_error("cannot open the pseudo-terminal's slave");
    // A new pty echoes and cooks; the line must be quiet until the program sets it.
    termios raw;
    tcgetattr(m_slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slave, TCSANOW, &raw);

    m_linkPath = receiver.HostPath(boardPath);
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(m_linkPath).parent_path());
    std::filesystem::remove(m_linkPath, ignored);
    std::filesystem::create_symlink(m_slaveName, m_linkPath);
    receiver.WatchLine(boardPath, &m_traffic);
}

PtyLine::~PtyLine()
{
    m_receiver.WatchLine(m_boardPath, nullptr);
    std::error_code ignored;
    std::filesystem::remove(m_linkPath, ignored);
    if (m_slave >= 0)
        close(m_slave);
    if (m_master >= 0)
        close(m_master);
}

size_t PtyLine::Unread() const
{
    // The slave's input queue is the line's, whoever holds a descriptor of it.
    int count = 0;
    return ioctl(m_slave, FIONREAD, &count) == 0 && count > 0 ? static_cast<size_t>(count) : 0;
}

termios PtyLine::HostSettings() const
{
    termios settings{};
    tcgetattr(m_slave, &settings);
    return settings;
}

unsigned PtyLine::HostBitRate() const
{
    termios settings = HostSettings();
    return BitRateOfSpeed(cfgetospeed(&settings));
}

bool PtyLine::Send(const void *data, size_t size)
{
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    while (size > 0) {
        ssize_t written = write(m_master, bytes, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
        m_traffic.NoteSent(written);
    }
    return true;
}

namespace {

unsigned SteadyMs()
{
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// Bytes counted as sent and not yet taken: waited for while they may still
// be on their way, then given up (`given` grows); shrinks `given` again when
// the bytes came after all.
bool OnTheirWay(long sent, long taken, std::atomic<long> &given, unsigned sentAt, unsigned now)
{
    constexpr unsigned kDeliveryMs = 250;
    long missing = sent - taken - given;
    if (missing < 0)
        given += missing;
    if (missing <= 0)
        return false;
    if (now - sentAt < kDeliveryMs)
        return true;
    given += missing;
    return false;
}

}  // namespace

void LineTraffic::NoteWritten(long count)
{
    writtenAt = SteadyMs();
    written += count;
}

void LineTraffic::NoteSent(long count)
{
    sentAt = SteadyMs();
    sent += count;
}

void LineTraffic::NoteFlush(bool input, bool output)
{
    if (input)
        dropped = sent - read;
    if (output)
        unheard = written - heard;
}

void LineTraffic::AwaitFarEnd(int fd)
{
    constexpr unsigned kAnswerMs = 1000;
    const unsigned start = SteadyMs();
    for (;;) {
        pollfd line{fd, POLLIN, 0};
        if (poll(&line, 1, 0) != 0)
            return;
        // Heard before quiet: the far end clears quiet before it reads.
        long heardNow = heard;
        bool answering = listening && !quiet;
        unsigned now = SteadyMs();
        bool toFarEnd = listening && OnTheirWay(written, heardNow, unheard, writtenAt, now);
        bool toProgram = OnTheirWay(sent, read, dropped, sentAt, now);
        if (!(toFarEnd || toProgram || answering) || now - start > kAnswerMs)
            return;
        poll(&line, 1, 1);
    }
}

long PtyLine::Receive(void *buffer, size_t size, int timeoutMs)
{
    pollfd waiting{m_master, POLLIN, 0};
    int ready;
    do {
        ready = poll(&waiting, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0)
        return -1;
    if (ready == 0)
        return 0;
    ssize_t count;
    do {
        count = read(m_master, buffer, size);
    } while (count < 0 && errno == EINTR);
    return count;
}

}  // namespace sim
