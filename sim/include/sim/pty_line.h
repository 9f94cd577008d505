// A serial line of the simulated receiver: a real pseudo-terminal whose slave
// stands at a board path (a symlink in the sandbox) and whose master is the far
// end, where a simulated peer reads and writes.
#ifndef SIM_PTY_LINE_H
#define SIM_PTY_LINE_H

#include <termios.h>

#include <atomic>
#include <string>

namespace sim {

class Receiver;

// What the program under test wrote to and read from a line, counted at the
// board: bytes on their way through the kernel's pty buffers are unseen by
// either end, these counts are not.
// The word size: the receiver's ARM has no lock-free 64-bit atomics without
// libatomic, and no test moves gigabytes over a line.
struct LineTraffic {
    std::atomic<long> written{0};
    std::atomic<long> read{0};
    // `read` as it stood when the program last came back to wait on or read
    // the line: until then, bytes it read may still be on their way to where
    // it keeps them.
    std::atomic<long> settled{0};
    // The thread that read last: for itself, it has kept what it read.
    std::atomic<long> reader{0};

    // The far end's side.  A pty hands bytes on a scheduling delay after
    // they were written, and a loaded machine can stretch that delay past a
    // receive time-out the real line would never miss; a read of the program
    // waits for the far end to catch up first (AwaitFarEnd).
    // Bytes the far end wrote and read, and whether it reads at all (not
    // while its input is held) and has nothing due.
    std::atomic<long> sent{0};
    std::atomic<long> heard{0};
    std::atomic<bool> listening{false};
    std::atomic<bool> quiet{true};
    // When each side last wrote, in ms of the steady clock, wrapping (the
    // receiver's ARM holds no 64-bit atomics); bytes either way no longer
    // waited for: a flush of the program's dropped them.
    std::atomic<unsigned> writtenAt{0}, sentAt{0};
    std::atomic<long> unheard{0}, dropped{0};

    void NoteWritten(long count);
    void NoteSent(long count);
    // The program flushed its input (what the far end sent and it had not
    // read is gone) or its output (what it wrote and the far end had not
    // heard).
    void NoteFlush(bool input, bool output);
    // Before a read of the program on `fd`, its end of the line: returns at
    // once when a byte is there; otherwise waits while bytes either way are
    // on their way (up to a quarter second after they were written) and
    // while the far end has work due (up to a second).
    void AwaitFarEnd(int fd);
};

class PtyLine {
public:
    // Opens the pty, puts the slave in raw mode and links the board path to it.
    PtyLine(Receiver &receiver, const std::string &boardPath);
    ~PtyLine();
    PtyLine(const PtyLine &) = delete;
    PtyLine &operator=(const PtyLine &) = delete;

    const std::string &BoardPath() const { return m_boardPath; }
    const std::string &SlaveName() const { return m_slaveName; }
    int MasterFd() const { return m_master; }

    // The settings the program under test last applied to its end of the line
    // (every descriptor of a slave shares them).
    termios HostSettings() const;
    // The host's output speed as a number of bit/s (0 for B0 or unknown codes).
    unsigned HostBitRate() const;

    // Bytes the peer sent that the program has not read yet.
    size_t Unread() const;

    // Writes all bytes to the host (the peer's transmit side).
    bool Send(const void *data, size_t size);
    bool Send(const std::string &text) { return Send(text.data(), text.size()); }
    // Waits up to `timeoutMs` for bytes from the host; returns the count (0 on
    // time-out, -1 on error).
    long Receive(void *buffer, size_t size, int timeoutMs);
    const LineTraffic &HostTraffic() const { return m_traffic; }
    LineTraffic &Traffic() { return m_traffic; }

private:
    Receiver &m_receiver;
    LineTraffic m_traffic;
    std::string m_boardPath;
    std::string m_linkPath;
    std::string m_slaveName;
    int m_master = -1;
    // Held for the line's whole life, so the master never sees EIO when the
    // program closes and reopens its end.
    int m_slave = -1;
};

// Speed code to bit/s and back; 0 for codes and rates outside the usual set.
unsigned BitRateOfSpeed(speed_t speed);

}  // namespace sim

#endif
