// The receiver's UHF radio as the far end of a serial line: its normal
// firmware (escape to command mode, model, version and hard-reset queries) and
// its serial bootloader (POC, CREATEFILE, SETBAUDRATE, WRITEFILEBLOCK, RESET),
// which reassembles the image it is sent and verifies it.  It runs its own
// thread on the master side of a sim::PtyLine.
#ifndef SIM_RADIO_PEER_H
#define SIM_RADIO_PEER_H

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/event_log.h"
#include "sim/serial_peer.h"

namespace sim {

class Receiver;
class PtyLine;

// What the radio can be asked, in either of its command sets.
enum class RadioCommand { Model, Version, HardReset, Poc, CreateFile, SetBaudRate, WriteFileBlock, Reset };
const char *RadioCommandName(RadioCommand command);

// A misbehaviour of the radio, applied to the answers of one command.
enum class RadioFault {
    Refuse,      // status NAK instead of ACK (a query is not answered)
    WrongCode,   // a well-formed answer carrying another command's code
    Short,       // the answer without its last three bytes
    Garble,      // every byte of the answer corrupted
    Extra,       // one byte more after the answer
    BadEtx,      // the answer's last byte (a frame's ETX) inverted
    Drop,        // no answer
    Delay,       // the answer comes delayMs later (host time, never scaled)
    FailReopen,  // the port's next opening fails (armed before the answer goes out)
    Stop,        // after this answer the radio answers nothing any more
};

struct RadioRule {
    RadioFault fault = RadioFault::Drop;
    RadioCommand command = RadioCommand::Poc;
    // Which occurrence: the block number for WRITEFILEBLOCK, the bit rate for
    // SETBAUDRATE, the n-th frame (from 1) for the others; 0 for every one.
    unsigned long which = 0;
    unsigned delayMs = 0;
};

// "FAULT:COMMAND[:WHICH[:MS]]", e.g. "refuse:writefileblock:3",
// "delay:writefileblock:2:10500", "wrong-code:createfile", "fail-reopen:hard-reset",
// "bad-etx:reset".
bool ParseRadioRule(const std::string &text, RadioRule *rule, std::string *error);

struct RadioOptions {
    // Speed of the normal firmware's line; 0 accepts whatever the host uses.
    unsigned firmwareBitRate = 38400;
    // A radio without valid firmware sits in its bootloader from power-up.
    bool startInBootloader = false;
    // Hears everything, answers nothing.
    bool silent = false;
    unsigned char model = 0x07;
    unsigned short versionMajor = 2;
    unsigned short versionMinor = 10;
    unsigned short versionBuild = 300;
    // When not empty, sent as it stands in answer to the version query.
    std::vector<unsigned char> versionAnswer;
    // Optional text sent once the escape's guard periods have passed.
    std::string escapeReply;
    // The first n POC frames go unanswered (a bootloader still starting up).
    unsigned ignoredPocFrames = 0;
    // Every byte takes 10 bit times at the line's speed, both ways.
    bool pacing = false;
    // Time to program one block before it is acknowledged (host time).
    unsigned programMsPerBlock = 0;
    std::vector<RadioRule> rules;
    // Keep every received block (else only what the verification needs).
    bool keepImage = true;
    // One log line per block and per answer (else the first and last block only).
    bool logEveryBlock = true;
    // Guard periods of the escape and the bootloader's window after power-up,
    // in the receiver's time: scaled by the receiver's time scale.  The guard
    // after "+++" ends halfway to the flush the loader makes 500 ms after it,
    // so an escape reply lands well before that flush.
    double guardBeforeMs = 1000;
    double guardAfterMs = 250;
    double bootWindowMs = 3000;
    // When set and false, the receiver's side of the line is not in the mode
    // the radio speaks (RS-232): what it sends arrives as garbage.
    std::function<bool()> lineReady;
};

// Adler-32 (RFC 1950), continued from `adler` (1 for a fresh start).
uint32_t RadioAdler32(uint32_t adler, const unsigned char *data, size_t length);

struct RadioReport {
    bool announced = false;
    unsigned announcedBlocks = 0;
    uint32_t announcedChecksum = 0;
    unsigned blocksReceived = 0;
    bool verified = false;
    unsigned long imageLength = 0;  // the verified image's length
    bool resetReceived = false;
    std::map<std::string, unsigned> frames;  // valid frames by command name
    std::vector<std::string> problems;       // everything the radio flagged
    // Line time of everything received and sent, in ms at the speeds used.
    double rxWireMs = 0;
    double txWireMs = 0;
    double programMs = 0;
    // Host time from the first WRITEFILEBLOCK byte to the last block's answer.
    double downloadMs = 0;

    // "image verified (N blocks, adler32 0x...)" or what differed.
    std::string Verdict() const;
    // The verdict, the frame counts and the problems, one line each.
    std::vector<std::string> Lines() const;
};

class RadioPeer : private SerialPeer {
public:
    RadioPeer(Receiver &receiver, PtyLine &line, RadioOptions options = {});
    ~RadioPeer();
    void Start();
    void Stop();

    // The radio's supply; power-up starts the bootloader's window.
    void SetPowered(bool on);

    EventLog &Log() { return m_log; }
    RadioReport Report() const;
    // The data of every accepted block, in order, filler included.
    std::vector<unsigned char> ReceivedBlocks() const;

private:
    enum class Mode { Off, Data, Command, Bootloader, Poc };

    struct RxByte {
        unsigned char value;
        Time arrival;
        bool garbage;  // sent while the host's speed differed from the radio's
    };
    struct Output {
        std::vector<unsigned char> bytes;
        Time due;
        std::string note;
        RadioCommand command;
        unsigned long newBitRate = 0;  // SETBAUDRATE: speed after the answer
        bool toBootloader = false;     // hard reset
        bool toFirmware = false;       // RESET
        bool failReopen = false;
        bool stopAfter = false;
    };

    void OnThreadStart() override;
    void Heard(const unsigned char *bytes, size_t count, Time now) override;
    void Serve(Time now) override;
    Time NextWakeup(Time now) const override;
    void Advance();
    Time NextDue() const;
    size_t BytesToFrameEnd() const;
    void Feed(const RxByte &byte);
    void FeedData(const RxByte &byte);
    void FeedCommand(const RxByte &byte);
    void FeedFrame(const RxByte &byte);
    void EnterCommandMode();
    void HandleQuery(const std::vector<unsigned char> &query);
    void HandleFrame(const std::vector<unsigned char> &frame, Time when);
    bool HandleBlock(const std::vector<unsigned char> &frame, Output &output);
    // Applies the fault rules and queues the answer.
    void Answer(RadioCommand command, unsigned long which, std::vector<unsigned char> bytes, Output output);
    void Transmit(Output &output);
    void StartFirmware();
    void StartBootloader(const char *why);
    void DropPartialFrame(const char *why);
    void Flag(const std::string &problem);
    unsigned CountOccurrence(RadioCommand command);
    double ScaledMs(double ms) const;
    unsigned BitRate() const { return m_bitRate; }
    RadioReport ReportLocked() const;

    Receiver &m_receiver;
    PtyLine &m_line;
    const RadioOptions m_options;
    EventLog m_log;

    mutable std::mutex m_mutex;

    // Line and mode.
    Mode m_mode = Mode::Data;
    unsigned m_bitRate = 0;
    bool m_dead = false;
    std::deque<RxByte> m_queue;
    std::vector<Output> m_pending;  // at most one: the radio works one frame at a time
    Time m_rxWireFree{};
    bool m_heardAnything = false;
    Time m_lastRx{};
    Time m_bootDeadline{};
    bool m_bootWindow = false;

    // Escape to command mode.
    unsigned m_plusCount = 0;
    bool m_escapePending = false;
    Time m_escapeAt{};

    // Command-mode query and bootloader frame being assembled.
    std::vector<unsigned char> m_query;
    std::vector<unsigned char> m_frame;
    Time m_frameLastByte{};
    std::vector<unsigned char> m_stray;

    // Reassembly.
    bool m_announced = false;
    unsigned m_fileId = 0;
    unsigned m_announcedBlocks = 0;
    uint32_t m_announcedChecksum = 0;
    unsigned m_blocks = 0;
    std::vector<unsigned char> m_image;
    uint32_t m_runningAdler = 1;  // over the blocks before the last, when not keeping the image
    std::vector<unsigned char> m_lastBlock;
    bool m_resetReceived = false;

    // Counters and timing.
    std::map<RadioCommand, unsigned> m_occurrences;
    std::map<std::string, unsigned> m_frameCounts;
    unsigned m_pocIgnored = 0;
    std::vector<std::string> m_problems;
    double m_rxWireMs = 0;
    double m_txWireMs = 0;
    double m_programMs = 0;
    bool m_downloadStarted = false;
    Time m_downloadStart{};
    Time m_downloadEnd{};
};

}  // namespace sim

#endif
