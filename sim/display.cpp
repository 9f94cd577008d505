#include "sim/display.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>

#include <fstream>

namespace sim {

namespace {

constexpr uint8_t kPageCommand = 0xB0;
constexpr uint8_t kContrastCommand = 0x81;

std::string Hex(const uint8_t *bytes, size_t size)
{
    std::string text;
    char byte[4];
    for (size_t i = 0; i < size; ++i) {
        snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
        text += byte;
    }
    return text;
}

}  // namespace

std::vector<Display::Transfer> Display::Transfers() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_transfers;
}

std::vector<int> Display::ModeSelects() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_modeSelects;
}

void Display::ClearTranscript()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_transfers.clear();
    m_modeSelects.clear();
    m_log.Clear();
}

std::array<uint8_t, Display::kPages * Display::kColumns> Display::Ram() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ram;
}

bool Display::PixelLocked(int x, int y) const
{
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight)
        return false;
    return (m_ram[(y / 8) * kColumns + x] >> (y % 8)) & 1;
}

bool Display::Pixel(int x, int y) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return PixelLocked(x, y);
}

void Display::FillRam(uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ram.fill(value);
}

int Display::Page() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_page;
}

int Display::Column() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_column;
}

int Display::Mode() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mode;
}

int Display::Contrast() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_contrast;
}

size_t Display::DroppedBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}

int Display::OpenFlags() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_openFlags;
}

std::string Display::Render() const { return Render(0, 0, kWidth, kHeight); }

std::string Display::Render(int x, int y, int width, int height) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string text;
    for (int row = y; row < y + height; ++row) {
        for (int column = x; column < x + width; ++column)
            text += PixelLocked(column, row) ? '#' : '.';
        text += '\n';
    }
    return text;
}

bool Display::WritePbm(const std::string &hostPath) const
{
    std::string image = "P1\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n";
    std::string panel = Render();
    for (char pixel : panel)
        image += pixel == '#' ? '1' : pixel == '.' ? '0' : '\n';
    std::ofstream file(hostPath, std::ios::binary | std::ios::trunc);
    file << image;
    return static_cast<bool>(file.flush());
}

void Display::FailModeSelects(int count, int mode)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failModeSelects = count;
    m_failModeOf = mode;
}

void Display::ShortenDataWrites(size_t limit, int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shortLimit = limit;
    m_shortDataWrites = count;
}

void Display::FailWrites(int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failWrites = count;
}

void Display::ClearFaults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failModeSelects = 0;
    m_failModeOf = -1;
    m_shortDataWrites = 0;
    m_failWrites = 0;
}

bool Display::TakeFault(int &count)
{
    if (count == 0)
        return false;
    if (count > 0)
        --count;
    return true;
}

int Display::Open(int flags)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openFlags = flags;
    // The node is write-only: the driver has nothing to read.
    if ((flags & O_ACCMODE) != O_WRONLY) {
        m_log.Add("open refused: not write-only");
        errno = EACCES;
        return -1;
    }
    m_log.Add("open");
    return 0;
}

void Display::Close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.Add("close");
}

int Display::Ioctl(unsigned long request, void *argument)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (request != kModeIoctl || argument == nullptr) {
        errno = request != kModeIoctl ? ENOTTY : EFAULT;
        return -1;
    }
    int mode = *static_cast<const int *>(argument);
    m_modeSelects.push_back(mode);
    if ((m_failModeOf < 0 || m_failModeOf == mode) && TakeFault(m_failModeSelects)) {
        m_log.Add("mode failed");
        errno = EIO;
        return -1;
    }
    if (mode != kCommandMode && mode != kDataMode) {
        m_log.Addf("mode %d refused", mode);
        errno = EINVAL;
        return -1;
    }
    m_mode = mode;
    m_log.Addf("mode %d", mode);
    return 0;
}

ssize_t Display::Write(const void *data, size_t size)
{
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (TakeFault(m_failWrites)) {
        m_log.Add("write failed");
        errno = EIO;
        return -1;
    }
    size_t taken = size;
    if (m_mode == kDataMode && TakeFault(m_shortDataWrites) && m_shortLimit < size) {
        taken = m_shortLimit;
        m_log.Addf("short write %zu of %zu", taken, size);
    }
    m_transfers.push_back({m_mode, std::vector<uint8_t>(bytes, bytes + taken)});
    if (m_mode == kCommandMode)
        CommandLocked(bytes, taken);
    else
        DataLocked(bytes, taken);
    return static_cast<ssize_t>(taken);
}

void Display::CommandLocked(const uint8_t *bytes, size_t size)
{
    m_log.Add("command " + Hex(bytes, size));
    for (size_t i = 0; i < size; ++i) {
        uint8_t byte = bytes[i];
        if (m_awaitingContrast) {
            m_contrast = byte;
            m_awaitingContrast = false;
        } else if (byte >= kPageCommand && byte < kPageCommand + kPages) {
            m_page = byte - kPageCommand;
        } else if (byte <= 0x0F) {
            m_column = (m_column & 0xF0) | byte;
        } else if (byte >= 0x10 && byte <= 0x1F) {
            m_column = ((byte & 0x0F) << 4) | (m_column & 0x0F);
        } else if (byte == kContrastCommand) {
            m_awaitingContrast = true;
        } else {
            m_log.Addf("unknown command %02X", byte);
        }
    }
}

void Display::DataLocked(const uint8_t *bytes, size_t size)
{
    m_log.Addf("data page %d column %d: %zu bytes", m_page, m_column, size);
    for (size_t i = 0; i < size; ++i) {
        if (m_column < kColumns)
            m_ram[m_page * kColumns + m_column] = bytes[i];
        else
            ++m_dropped;
        // The controller's column counter stops at its last address.
        if (m_column < 0xFF)
            ++m_column;
    }
}

}  // namespace sim
