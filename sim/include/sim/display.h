// The display controller behind "/dev/display", a write-only driver.  The mode
// ioctl (0x4004FF0A, argument a pointer to an int: 0 commands, 1 data) says
// how the following writes are taken; at power-up the controller is in
// command mode.
//
// Commands: 0xB0 to 0xB7 set the page, 0x00 to 0x0F the column's low nibble,
// 0x10 to 0x1F its high nibble, 0x81 takes the next command byte (in the same
// write or a later one) as the contrast.  Any other command byte is logged as
// unknown and otherwise ignored.  Data bytes go into the panel RAM (8 pages of
// 128 columns, bit 0 the page's top row) at the current page and column, the
// column advancing after each; bytes past column 127 are dropped and counted.
//
// An open for anything but writing only is refused (EACCES).
//
// Log lines: "open", "open refused: not write-only", "close", "mode 0", "mode 1", "mode 5 refused",
// "mode failed", "command B1 00 10", "data page 1 column 0: 128 bytes",
// "unknown command AE", "write failed", "short write 60 of 128".
#ifndef SIM_DISPLAY_H
#define SIM_DISPLAY_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "sim/device.h"
#include "sim/event_log.h"

namespace sim {

class Display : public Device {
public:
    static constexpr unsigned long kModeIoctl = 0x4004FF0AUL;
    static constexpr int kCommandMode = 0;
    static constexpr int kDataMode = 1;
    static constexpr int kPages = 8;
    static constexpr int kColumns = 128;
    static constexpr int kWidth = kColumns;
    static constexpr int kHeight = kPages * 8;
    // Fault counts: how many of the coming operations fail.
    static constexpr int kAlways = -1;

    // One write as the controller took it, in the mode of that moment.
    struct Transfer {
        int mode;
        std::vector<uint8_t> bytes;
        bool operator==(const Transfer &other) const { return mode == other.mode && bytes == other.bytes; }
    };

    EventLog &Log() { return m_log; }
    // Every write taken (the accepted part of a short one), in order.
    std::vector<Transfer> Transfers() const;
    // Mode selects in order, refused ones included.
    std::vector<int> ModeSelects() const;
    // Forgets transfers, mode selects and log lines; the panel keeps its state.
    void ClearTranscript();

    std::array<uint8_t, kPages * kColumns> Ram() const;
    bool Pixel(int x, int y) const;
    // Power-up contents are unknown: tests fill the RAM to see what is rewritten.
    void FillRam(uint8_t value);
    int Page() const;
    int Column() const;
    int Mode() const;
    // -1 until a contrast command arrived.
    int Contrast() const;
    size_t DroppedBytes() const;
    int OpenFlags() const;

    // The panel as text, one line per row, '#' lit and '.' dark; a region of
    // it for looking at one glyph or shape.
    std::string Render() const;
    std::string Render(int x, int y, int width, int height) const;
    // A plain PBM image of the panel ("P1"), for a person to look at.
    bool WritePbm(const std::string &hostPath) const;

    // Faults.  The next `count` mode selects (of `mode`, or any mode when
    // -1) fail with EIO; the next `count` data writes take at most `limit`
    // bytes; the next `count` writes of any kind fail with EIO.
    void FailModeSelects(int count, int mode = -1);
    void ShortenDataWrites(size_t limit, int count);
    void FailWrites(int count);
    void ClearFaults();

    int Open(int flags) override;
    void Close() override;
    ssize_t Write(const void *data, size_t size) override;
    int Ioctl(unsigned long request, void *argument) override;

private:
    static bool TakeFault(int &count);
    void CommandLocked(const uint8_t *bytes, size_t size);
    void DataLocked(const uint8_t *bytes, size_t size);
    bool PixelLocked(int x, int y) const;

    mutable std::mutex m_mutex;
    EventLog m_log{"display"};
    std::array<uint8_t, kPages * kColumns> m_ram{};
    int m_mode = kCommandMode;
    int m_page = 0;
    int m_column = 0;
    int m_contrast = -1;
    bool m_awaitingContrast = false;
    size_t m_dropped = 0;
    int m_openFlags = -1;
    std::vector<Transfer> m_transfers;
    std::vector<int> m_modeSelects;

    int m_failModeSelects = 0;
    int m_failModeOf = -1;
    int m_shortDataWrites = 0;
    size_t m_shortLimit = 0;
    int m_failWrites = 0;
};

}  // namespace sim

#endif
