#include "sim/radio_peer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "sim/pty_line.h"
#include "sim/receiver.h"

namespace sim {

namespace {

constexpr unsigned char kStx = 0x02;
constexpr unsigned char kEtx = 0x03;
constexpr unsigned char kAck = 0x06;
constexpr unsigned char kNak = 0x15;
constexpr unsigned kBlockSize = 256;
constexpr unsigned kLargestPayload = 261;
constexpr size_t kLongestQuery = 16;
constexpr size_t kMostProblems = 200;
// A partial frame older than this is dropped (the bootloader's inter-byte time-out).
constexpr auto kFrameGap = std::chrono::milliseconds(100);
constexpr double kPacingGrainMs = 2.0;

struct CommandInfo {
    RadioCommand command;
    const char *name;
    unsigned char code;  // bootloader code; 0 for the command-mode queries
    unsigned payload;
};

const CommandInfo kCommands[] = {
    {RadioCommand::Model, "MODEL", 0, 0},
    {RadioCommand::Version, "VERSION", 0, 0},
    {RadioCommand::HardReset, "HARDRESET", 0, 0},
    {RadioCommand::Poc, "POC", 0x02, 0},
    {RadioCommand::CreateFile, "CREATEFILE", 0x0B, 7},
    {RadioCommand::SetBaudRate, "SETBAUDRATE", 0x07, 5},
    {RadioCommand::WriteFileBlock, "WRITEFILEBLOCK", 0x0C, kLargestPayload},
    {RadioCommand::Reset, "RESET", 0x04, 0},
};

const CommandInfo *InfoByCode(unsigned char code)
{
    for (const CommandInfo &info : kCommands)
        if (info.code == code && code != 0)
            return &info;
    return nullptr;
}

const CommandInfo &InfoOf(RadioCommand command)
{
    for (const CommandInfo &info : kCommands)
        if (info.command == command)
            return info;
    return kCommands[0];
}

std::string Hex(const unsigned char *data, size_t length, size_t most = 32)
{
    std::string text;
    char piece[4];
    for (size_t i = 0; i < length && i < most; ++i) {
        snprintf(piece, sizeof piece, i ? " %02X" : "%02X", data[i]);
        text += piece;
    }
    if (length > most)
        text += " ... (" + std::to_string(length) + " bytes)";
    return text;
}

std::string Hex(const std::vector<unsigned char> &bytes, size_t most = 32)
{
    return Hex(bytes.data(), bytes.size(), most);
}

unsigned Be16(const unsigned char *p) { return (unsigned(p[0]) << 8) | p[1]; }
uint32_t Be32(const unsigned char *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Answer frame: STX, code, length 00 01, status, the 16-bit sum of code,
// length and status, ETX.
std::vector<unsigned char> AnswerFrame(unsigned char code, unsigned char status)
{
    unsigned sum = code + 0x00 + 0x01 + status;
    return {kStx, code, 0x00, 0x01, status, static_cast<unsigned char>(sum >> 8), static_cast<unsigned char>(sum),
            kEtx};
}

bool SupportedRate(uint32_t rate)
{
    return rate == 9600 || rate == 19200 || rate == 38400 || rate == 57600 || rate == 115200;
}

double ByteMs(unsigned bitRate) { return bitRate ? 10000.0 / bitRate : 0.0; }

std::chrono::steady_clock::duration Millis(double ms)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double, std::milli>(ms));
}

bool SameText(const std::string &a, const char *b) { return strcasecmp(a.c_str(), b) == 0; }

}  // namespace

const char *RadioCommandName(RadioCommand command) { return InfoOf(command).name; }

uint32_t RadioAdler32(uint32_t adler, const unsigned char *data, size_t length)
{
    uint32_t a = adler & 0xFFFF;
    uint32_t b = adler >> 16;
    while (length > 0) {
        // 5552 bytes is the longest run whose sums cannot overflow 32 bits.
        size_t run = std::min<size_t>(length, 5552);
        length -= run;
        while (run--) {
            a += *data++;
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return (b << 16) | a;
}

bool ParseRadioRule(const std::string &text, RadioRule *rule, std::string *error)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    auto fail = [&](const std::string &why) {
        if (error)
            *error = "bad radio fault \"" + text + "\": " + why;
        return false;
    };
    if (parts.size() < 2 || parts.size() > 4)
        return fail("expected FAULT:COMMAND[:WHICH[:MS]]");

    static const std::pair<const char *, RadioFault> kFaults[] = {
        {"refuse", RadioFault::Refuse}, {"wrong-code", RadioFault::WrongCode},
        {"short", RadioFault::Short},   {"garble", RadioFault::Garble},
        {"extra", RadioFault::Extra},   {"drop", RadioFault::Drop},
        {"delay", RadioFault::Delay},   {"fail-reopen", RadioFault::FailReopen},
        {"stop", RadioFault::Stop},     {"bad-etx", RadioFault::BadEtx},
    };
    RadioRule parsed;
    bool known = false;
    for (const auto &fault : kFaults)
        if (SameText(parts[0], fault.first)) {
            parsed.fault = fault.second;
            known = true;
        }
    if (!known)
        return fail("unknown fault \"" + parts[0] + "\"");

    std::string command = parts[1];
    command.erase(std::remove(command.begin(), command.end(), '-'), command.end());
    known = false;
    for (const CommandInfo &info : kCommands)
        if (SameText(command, info.name)) {
            parsed.command = info.command;
            known = true;
        }
    if (!known)
        return fail("unknown command \"" + parts[1] + "\"");

    auto number = [&](const std::string &field, unsigned long *value) {
        if (field.empty() || field == "*") {
            *value = 0;
            return true;
        }
        char *end = nullptr;
        errno = 0;
        unsigned long parsedValue = strtoul(field.c_str(), &end, 0);
        if (errno || *end || field[0] == '-')
            return false;
        *value = parsedValue;
        return true;
    };
    if (parts.size() > 2 && !number(parts[2], &parsed.which))
        return fail("bad occurrence \"" + parts[2] + "\"");
    unsigned long ms = 0;
    if (parts.size() > 3 && (!number(parts[3], &ms) || ms > 3600000))
        return fail("bad delay \"" + parts[3] + "\"");
    if (parsed.fault == RadioFault::Delay && ms == 0)
        return fail("a delay needs its milliseconds");
    parsed.delayMs = static_cast<unsigned>(ms);
    *rule = parsed;
    return true;
}

std::string RadioReport::Verdict() const
{
    char text[200];
    if (!announced)
        return "no image announced (no CREATEFILE)";
    if (verified) {
        snprintf(text, sizeof text, "image verified (%u blocks, adler32 0x%08X)", announcedBlocks, announcedChecksum);
    } else if (blocksReceived < announcedBlocks) {
        snprintf(text, sizeof text, "image incomplete: %u of %u blocks received (adler32 0x%08X announced)",
                 blocksReceived, announcedBlocks, announcedChecksum);
    } else {
        snprintf(text, sizeof text,
                 "image differs: no image length within the last of %u blocks has the announced adler32 0x%08X",
                 announcedBlocks, announcedChecksum);
    }
    return text;
}

std::vector<std::string> RadioReport::Lines() const
{
    std::vector<std::string> lines{Verdict()};
    if (announced && !resetReceived)
        lines.push_back("no RESET received");
    std::string counts = "frames:";
    for (RadioCommand command : {RadioCommand::Poc, RadioCommand::CreateFile, RadioCommand::SetBaudRate,
                                 RadioCommand::WriteFileBlock, RadioCommand::Reset}) {
        auto found = frames.find(RadioCommandName(command));
        counts += std::string(command == RadioCommand::Poc ? " " : ", ") + RadioCommandName(command) + " " +
                  std::to_string(found == frames.end() ? 0 : found->second);
    }
    lines.push_back(counts);
    char timing[160];
    snprintf(timing, sizeof timing, "line time: received %.3f ms, sent %.3f ms; programming %.3f ms; download %.3f ms",
             rxWireMs, txWireMs, programMs, downloadMs);
    lines.push_back(timing);
    for (const std::string &problem : problems)
        lines.push_back("flagged: " + problem);
    return lines;
}

RadioPeer::RadioPeer(Receiver &receiver, PtyLine &line, RadioOptions options)
    : SerialPeer("radio"), m_receiver(receiver), m_line(line), m_options(std::move(options)),
      m_log("radio " + line.BoardPath())
{}

RadioPeer::~RadioPeer() { Stop(); }

void RadioPeer::Start()
{
    if (Running())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_options.startInBootloader)
            StartBootloader("no valid firmware");
        else
            StartFirmware();
    }
    SerialPeer::Start(m_line, true);
}

void RadioPeer::Stop() { SerialPeer::Stop(); }

void RadioPeer::SetPowered(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!on) {
        if (m_mode != Mode::Off)
            m_log.Add("power off");
        m_mode = Mode::Off;
        m_queue.clear();
        m_pending.clear();
        m_frame.clear();
        m_query.clear();
        m_escapePending = false;
        m_bootWindow = false;
    } else if (m_mode == Mode::Off) {
        m_log.Add("power on");
        StartBootloader("power-up");
    }
    Wake();
}

double RadioPeer::ScaledMs(double ms) const { return ms * m_receiver.TimeScale(); }

void RadioPeer::OnThreadStart()
{
    // A UART hears every byte as it comes: the program's flush of its output
    // ("+++" is followed by one) must not find bytes the radio has not read
    // yet, so the radio runs ahead of ordinary threads where it may.
    sched_param priority{};
    priority.sched_priority = 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
    // Paced bytes are due every 87 us at 115200 bit/s: the default 50 us of
    // timer slack would be felt.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

void RadioPeer::Serve(Time)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Advance();
}

RadioPeer::Time RadioPeer::NextWakeup(Time) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return NextDue();
}

void RadioPeer::Heard(const unsigned char *buffer, size_t received, Time now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ssize_t count = static_cast<ssize_t>(received);
    unsigned hostRate = m_line.HostBitRate();
    if (hostRate)
        m_rxWireMs += count * ByteMs(hostRate);
    if (m_mode == Mode::Off) {
        m_log.Addf("unpowered, heard nothing of %zd bytes", count);
        return;
    }
    unsigned radioRate = m_bitRate ? m_bitRate : hostRate;
    bool garbage = hostRate != radioRate;
    bool lineReady = !m_options.lineReady || m_options.lineReady();
    if (!lineReady) {
        garbage = true;
        Flag(std::to_string(count) + " bytes while the line is not in RS-232 mode");
    } else if (garbage) {
        char problem[160];
        snprintf(problem, sizeof problem, "%zd bytes sent at %u bit/s while the radio listens at %u bit/s: %s", count,
                 hostRate, radioRate, Hex(buffer, static_cast<size_t>(count), 12).c_str());
        Flag(problem);
    } else if (m_mode == Mode::Data || m_mode == Mode::Command) {
        m_log.Addf("rx @%u: %s", radioRate, Hex(buffer, static_cast<size_t>(count)).c_str());
    }
    auto byteTime = Millis(ByteMs(hostRate));
    if (m_rxWireFree < now)
        m_rxWireFree = now;
    for (ssize_t i = 0; i < count; ++i) {
        Time arrival = now;
        if (m_options.pacing && hostRate) {
            m_rxWireFree += byteTime;
            arrival = m_rxWireFree;
        }
        m_queue.push_back({buffer[i], arrival, garbage});
    }
}

RadioPeer::Time RadioPeer::NextDue() const
{
    Time next = Time::max();
    if (!m_pending.empty()) {
        next = m_pending.front().due;
    } else if (!m_queue.empty()) {
        // A paced frame needs no wake-up per byte, only when its last byte is in.
        size_t wanted = 1;
        if (m_mode == Mode::Bootloader || m_mode == Mode::Poc)
            wanted = BytesToFrameEnd();
        next = m_queue[std::min(wanted, m_queue.size()) - 1].arrival;
    }
    if (m_escapePending)
        next = std::min(next, m_escapeAt + Millis(ScaledMs(m_options.guardAfterMs)));
    if (m_bootWindow)
        next = std::min(next, m_bootDeadline);
    return next;
}

size_t RadioPeer::BytesToFrameEnd() const
{
    if (m_frame.empty() && m_queue.front().value != kStx)
        return 1;
    unsigned char header[4];
    size_t have = std::min<size_t>(m_frame.size(), 4);
    std::copy(m_frame.begin(), m_frame.begin() + have, header);
    size_t taken = 0;
    while (have < 4 && taken < m_queue.size())
        header[have++] = m_queue[taken++].value;
    if (have < 4)
        return m_queue.size();
    size_t total = std::min<unsigned>(Be16(&header[2]), kLargestPayload + 1) + 7;
    return total > m_frame.size() ? total - m_frame.size() : 1;
}

void RadioPeer::Advance()
{
    auto guardAfter = Millis(ScaledMs(m_options.guardAfterMs));
    while (true) {
        Time now = Clock::now();
        if (!m_pending.empty()) {
            if (m_pending.front().due > now)
                return;
            Output output = std::move(m_pending.front());
            m_pending.clear();
            Transmit(output);
            continue;
        }
        if (m_escapePending && now >= m_escapeAt + guardAfter &&
            (m_queue.empty() || m_queue.front().arrival >= m_escapeAt + guardAfter)) {
            EnterCommandMode();
            continue;
        }
        if (m_bootWindow && now >= m_bootDeadline) {
            m_log.Add("no POC within the boot window: the firmware starts");
            StartFirmware();
            continue;
        }
        if (!m_queue.empty() && m_queue.front().arrival <= now) {
            RxByte byte = m_queue.front();
            m_queue.pop_front();
            Feed(byte);
            continue;
        }
        return;
    }
}

void RadioPeer::Feed(const RxByte &byte)
{
    switch (m_mode) {
    case Mode::Off: break;
    case Mode::Data: FeedData(byte); break;
    case Mode::Command: FeedCommand(byte); break;
    case Mode::Bootloader:
    case Mode::Poc: FeedFrame(byte); break;
    }
    m_lastRx = byte.arrival;
    m_heardAnything = true;
}

void RadioPeer::FeedData(const RxByte &byte)
{
    auto guardBefore = Millis(ScaledMs(m_options.guardBeforeMs));
    auto guardAfter = Millis(ScaledMs(m_options.guardAfterMs));
    if (m_escapePending) {
        if (!byte.garbage && byte.arrival - m_escapeAt >= guardAfter) {
            EnterCommandMode();
            FeedCommand(byte);
            return;
        }
        m_log.Addf("escape cancelled: byte %02X only %.1f ms after \"+++\"", byte.value,
                   std::chrono::duration<double, std::milli>(byte.arrival - m_escapeAt).count());
        m_escapePending = false;
        m_plusCount = 0;
    }
    if (byte.garbage || byte.value != '+') {
        m_plusCount = 0;
        return;
    }
    if (m_plusCount == 0) {
        bool quietBefore = !m_heardAnything || byte.arrival - m_lastRx >= guardBefore;
        if (!quietBefore) {
            m_log.Addf("\"+\" after only %.1f ms of silence: no escape",
                       std::chrono::duration<double, std::milli>(byte.arrival - m_lastRx).count());
            return;
        }
    }
    if (++m_plusCount == 3) {
        m_plusCount = 0;
        m_escapePending = true;
        m_escapeAt = byte.arrival;
    }
}

void RadioPeer::EnterCommandMode()
{
    m_escapePending = false;
    m_mode = Mode::Command;
    m_query.clear();
    m_log.Add("escape accepted: command mode");
    if (!m_options.escapeReply.empty() && !m_options.silent && !m_dead) {
        Output output;
        output.bytes.assign(m_options.escapeReply.begin(), m_options.escapeReply.end());
        output.due = Clock::now();
        output.note = "escape reply";
        output.command = RadioCommand::Model;
        m_pending.push_back(std::move(output));
    }
}

void RadioPeer::FeedCommand(const RxByte &byte)
{
    if (byte.garbage) {
        if (!m_query.empty())
            Flag("query garbled by a speed mismatch: " + Hex(m_query));
        m_query.clear();
        return;
    }
    if (m_query.empty() && byte.value != 0x01) {
        m_log.Addf("command mode: stray byte %02X", byte.value);
        return;
    }
    m_query.push_back(byte.value);
    if (m_query.size() >= 3) {
        unsigned sum = 0;
        for (size_t i = 1; i < m_query.size(); ++i)
            sum += m_query[i];
        if ((sum & 0xFF) == 0xFF) {
            std::vector<unsigned char> query;
            query.swap(m_query);
            HandleQuery(query);
            return;
        }
    }
    if (m_query.size() > kLongestQuery) {
        Flag("unterminated query: " + Hex(m_query));
        m_query.clear();
    }
}

void RadioPeer::HandleQuery(const std::vector<unsigned char> &query)
{
    // Plain arrays: this thread may still run while the process's static
    // objects are destroyed at exit.
    static const unsigned char kModel[] = {0x01, 0x34, 0xCB};
    static const unsigned char kVersion[] = {0x01, 0x33, 0xCC};
    static const unsigned char kHardReset[] = {0x01, 0x1D, 0x02, 0xE0};
    auto is = [&query](const unsigned char *bytes, size_t size) {
        return query.size() == size && std::equal(query.begin(), query.end(), bytes);
    };
    RadioCommand command;
    if (is(kModel, sizeof kModel))
        command = RadioCommand::Model;
    else if (is(kVersion, sizeof kVersion))
        command = RadioCommand::Version;
    else if (is(kHardReset, sizeof kHardReset))
        command = RadioCommand::HardReset;
    else {
        Flag("unknown query " + Hex(query));
        return;
    }
    m_frameCounts[RadioCommandName(command)]++;
    unsigned occurrence = CountOccurrence(command);
    m_log.Addf("query %s: %s", RadioCommandName(command), Hex(query).c_str());
    if (m_options.silent || m_dead) {
        m_log.Add("(silent: no answer)");
        return;
    }

    Output output;
    std::vector<unsigned char> answer;
    if (command == RadioCommand::Model) {
        unsigned char check = static_cast<unsigned char>(0xFF - 0x34 - m_options.model);
        answer = {0x01, 0x34, m_options.model, check};
    } else if (command == RadioCommand::Version) {
        if (!m_options.versionAnswer.empty()) {
            answer = m_options.versionAnswer;
        } else {
            const unsigned short numbers[3] = {m_options.versionMajor, m_options.versionMinor, m_options.versionBuild};
            answer = {0x01, 0x33};
            unsigned sum = 0x33;
            for (unsigned short number : numbers) {
                answer.push_back(static_cast<unsigned char>(number >> 8));
                answer.push_back(static_cast<unsigned char>(number));
                sum += (number >> 8) + (number & 0xFF);
            }
            answer.push_back(static_cast<unsigned char>(0xFF - (sum & 0xFF)));
        }
    } else {
        answer = query;  // the hard reset is acknowledged by its echo
        output.toBootloader = true;
    }
    Answer(command, occurrence, std::move(answer), std::move(output));
}

void RadioPeer::FeedFrame(const RxByte &byte)
{
    if (byte.garbage) {
        DropPartialFrame("garbled by a speed mismatch");
        return;
    }
    if (!m_frame.empty() && byte.arrival - m_frameLastByte > kFrameGap)
        DropPartialFrame("the rest never came");
    if (m_frame.empty()) {
        if (byte.value != kStx) {
            m_stray.push_back(byte.value);
            return;
        }
        if (!m_stray.empty()) {
            Flag("stray bytes before a frame: " + Hex(m_stray, 16));
            m_stray.clear();
        }
    }
    m_frame.push_back(byte.value);
    m_frameLastByte = byte.arrival;
    if (m_frame.size() < 4)
        return;
    unsigned length = Be16(&m_frame[2]);
    if (length > kLargestPayload) {
        char problem[80];
        snprintf(problem, sizeof problem, "frame length %u is longer than any command's", length);
        Flag(problem);
        m_frame.clear();
        return;
    }
    if (m_frame.size() == length + 7u) {
        std::vector<unsigned char> frame;
        frame.swap(m_frame);
        HandleFrame(frame, byte.arrival);
    }
}

void RadioPeer::DropPartialFrame(const char *why)
{
    if (m_frame.empty())
        return;
    Flag(std::string("incomplete frame dropped (") + why + "): " + Hex(m_frame, 16));
    m_frame.clear();
}

void RadioPeer::HandleFrame(const std::vector<unsigned char> &frame, Time when)
{
    unsigned char code = frame[1];
    unsigned length = Be16(&frame[2]);
    const unsigned char *payload = &frame[4];
    unsigned sent = Be16(&frame[4 + length]);
    unsigned sum = 0;
    for (unsigned i = 1; i < 4 + length; ++i)
        sum += frame[i];
    sum &= 0xFFFF;
    const CommandInfo *info = InfoByCode(code);
    std::string name = info ? info->name : "command " + Hex(&code, 1);

    std::string fault;
    char text[160];
    if (frame.back() != kEtx) {
        snprintf(text, sizeof text, "%s frame ends with %02X, not ETX", name.c_str(), frame.back());
        fault = text;
    } else if (sent != sum) {
        snprintf(text, sizeof text, "%s frame check %04X, the bytes sum to %04X", name.c_str(), sent, sum);
        fault = text;
    } else if (!info) {
        fault = "unknown " + name;
    } else if (length != info->payload) {
        snprintf(text, sizeof text, "%s frame with payload length %u", name.c_str(), length);
        fault = text;
    }
    if (!fault.empty()) {
        Flag(fault);
        if (!m_options.silent && !m_dead) {
            Output output;
            output.bytes = AnswerFrame(code, kNak);
            output.due = Clock::now();
            output.note = name + " NAK (bad frame)";
            output.command = info ? info->command : RadioCommand::Poc;
            m_pending.push_back(std::move(output));
        }
        return;
    }

    RadioCommand command = info->command;
    if (command == RadioCommand::WriteFileBlock) {
        if (!m_downloadStarted) {
            m_downloadStarted = true;
            m_downloadStart = when;
        }
        unsigned number = Be16(payload + 1), count = Be16(payload + 3);
        if (m_options.logEveryBlock || number <= 1 || number >= count)
            m_log.Addf("rx @%u WRITEFILEBLOCK block %u of %u", m_bitRate, number, count);
    } else {
        m_log.Addf("rx @%u %s: %s", m_bitRate, name.c_str(), Hex(frame).c_str());
    }
    m_frameCounts[name]++;
    unsigned occurrence = CountOccurrence(command);
    if (m_options.silent || m_dead) {
        m_log.Add("(silent: no answer)");
        return;
    }
    if (m_mode == Mode::Bootloader && command != RadioCommand::Poc) {
        Flag(name + " before POC mode: not answered");
        return;
    }

    Output output;
    unsigned char status = kAck;
    unsigned long which = occurrence;
    switch (command) {
    case RadioCommand::Poc:
        if (m_pocIgnored < m_options.ignoredPocFrames) {
            ++m_pocIgnored;
            m_log.Addf("POC %u ignored: bootloader still starting", m_pocIgnored);
            return;
        }
        if (m_mode != Mode::Poc)
            m_log.Add("POC mode");
        m_mode = Mode::Poc;
        m_bootWindow = false;
        break;
    case RadioCommand::CreateFile:
        m_announced = true;
        m_fileId = payload[0];
        m_announcedBlocks = Be16(payload + 1);
        m_announcedChecksum = Be32(payload + 3);
        m_blocks = 0;
        m_image.clear();
        m_lastBlock.clear();
        m_runningAdler = 1;
        m_resetReceived = false;
        m_log.Addf("file %u announced: %u blocks, adler32 0x%08X", m_fileId, m_announcedBlocks, m_announcedChecksum);
        break;
    case RadioCommand::SetBaudRate: {
        uint32_t rate = Be32(payload + 1);
        which = rate;
        if (payload[0] != 0 || !SupportedRate(rate)) {
            snprintf(text, sizeof text, "SETBAUDRATE to an unsupported speed: %s", Hex(payload, 5).c_str());
            Flag(text);
            status = kNak;
        } else {
            output.newBitRate = rate;
        }
        break;
    }
    case RadioCommand::WriteFileBlock:
        which = Be16(payload + 1);
        if (!HandleBlock(frame, output))
            status = kNak;
        break;
    case RadioCommand::Reset:
        m_resetReceived = true;
        output.toFirmware = true;
        break;
    default: break;
    }
    if (status == kNak)
        output.newBitRate = 0;
    Answer(command, which, AnswerFrame(code, status), std::move(output));
}

bool RadioPeer::HandleBlock(const std::vector<unsigned char> &frame, Output &output)
{
    const unsigned char *payload = &frame[4];
    unsigned fileId = payload[0];
    unsigned number = Be16(payload + 1);
    unsigned count = Be16(payload + 3);
    const unsigned char *data = payload + 5;
    char problem[160];
    problem[0] = '\0';
    if (!m_announced)
        snprintf(problem, sizeof problem, "block %u before any CREATEFILE", number);
    else if (fileId != m_fileId)
        snprintf(problem, sizeof problem, "block %u for file %u, file %u was announced", number, fileId, m_fileId);
    else if (count != m_announcedBlocks)
        snprintf(problem, sizeof problem, "block %u says %u blocks, %u were announced", number, count,
                 m_announcedBlocks);
    else if (number != m_blocks + 1)
        snprintf(problem, sizeof problem, "block %u out of order, block %u expected", number, m_blocks + 1);
    if (problem[0]) {
        Flag(problem);
        return false;
    }
    for (const RadioRule &rule : m_options.rules)
        if (rule.fault == RadioFault::Refuse && rule.command == RadioCommand::WriteFileBlock &&
            (rule.which == 0 || rule.which == number)) {
            m_log.Addf("block %u refused (fault)", number);
            return false;
        }
    ++m_blocks;
    if (m_options.keepImage)
        m_image.insert(m_image.end(), data, data + kBlockSize);
    else if (number < m_announcedBlocks)
        m_runningAdler = RadioAdler32(m_runningAdler, data, kBlockSize);
    else
        m_lastBlock.assign(data, data + kBlockSize);
    if (m_options.programMsPerBlock) {
        m_programMs += m_options.programMsPerBlock;
        output.due = Clock::now() + std::chrono::milliseconds(m_options.programMsPerBlock);
    }
    return true;
}

unsigned RadioPeer::CountOccurrence(RadioCommand command) { return ++m_occurrences[command]; }

void RadioPeer::Answer(RadioCommand command, unsigned long which, std::vector<unsigned char> bytes, Output output)
{
    bool bootloader = InfoOf(command).code != 0;
    Time now = Clock::now();
    if (output.due < now)
        output.due = now;
    std::string note = std::string(RadioCommandName(command)) +
                       (bootloader ? (bytes.size() > 4 && bytes[4] == kAck ? " ACK" : " NAK") : " answer");
    for (const RadioRule &rule : m_options.rules) {
        if (rule.command != command || (rule.which != 0 && rule.which != which))
            continue;
        switch (rule.fault) {
        case RadioFault::Refuse:
            if (bootloader) {
                bytes = AnswerFrame(bytes[1], kNak);
                output.newBitRate = 0;
                output.toFirmware = false;
                note = std::string(RadioCommandName(command)) + " NAK";
            } else {
                bytes.clear();
            }
            break;
        case RadioFault::WrongCode:
            if (bootloader) {
                bytes = AnswerFrame(bytes[1] == 0x0B ? 0x07 : 0x0B, bytes[4]);
            } else if (bytes.size() > 1) {
                bytes[1] ^= 0x40;
            }
            note += " (wrong code)";
            break;
        case RadioFault::Short:
            bytes.resize(bytes.size() > 3 ? bytes.size() - 3 : 1);
            note += " (short)";
            break;
        case RadioFault::Garble:
            for (unsigned char &b : bytes)
                b ^= 0xA5;
            note += " (garbled)";
            break;
        case RadioFault::Extra:
            bytes.push_back(0x00);
            note += " (extra byte)";
            break;
        case RadioFault::BadEtx:
            if (!bytes.empty())
                bytes.back() ^= 0xFF;
            note += " (bad ETX)";
            break;
        case RadioFault::Drop: bytes.clear(); break;
        case RadioFault::Delay:
            output.due += std::chrono::milliseconds(rule.delayMs);
            note += " (delayed " + std::to_string(rule.delayMs) + " ms)";
            break;
        case RadioFault::FailReopen: output.failReopen = true; break;
        case RadioFault::Stop: output.stopAfter = true; break;
        }
    }
    if (bytes.empty())
        note = std::string("no answer to ") + RadioCommandName(command) + " (fault)";
    output.bytes = std::move(bytes);
    output.note = note;
    output.command = command;
    m_pending.push_back(std::move(output));
}

void RadioPeer::Transmit(Output &output)
{
    if (output.failReopen) {
        m_receiver.FailOpen(m_line.BoardPath(), EIO);
        m_log.Add("the port's next opening will fail (fault)");
    }
    if (output.bytes.empty()) {
        m_log.Add(output.note);
    } else {
        unsigned hostRate = m_line.HostBitRate();
        unsigned rate = m_bitRate ? m_bitRate : hostRate;
        if (hostRate != rate) {
            char problem[120];
            snprintf(problem, sizeof problem, "%s sent at %u bit/s while the host listens at %u bit/s",
                     output.note.c_str(), rate, hostRate);
            Flag(problem);
        }
        if (m_options.pacing && rate) {
            // Bytes go out as their last bit would arrive, a few at a time:
            // none later than kPacingGrain, and no wake-up per byte.
            size_t grain = std::max<size_t>(1, static_cast<size_t>(kPacingGrainMs / ByteMs(rate)));
            Time start = Clock::now();
            for (size_t sent = 0; sent < output.bytes.size();) {
                size_t count = std::min(grain, output.bytes.size() - sent);
                std::this_thread::sleep_until(start + Millis(ByteMs(rate) * double(sent + count)));
                m_line.Send(output.bytes.data() + sent, count);
                sent += count;
            }
        } else {
            m_line.Send(output.bytes.data(), output.bytes.size());
        }
        m_txWireMs += output.bytes.size() * ByteMs(rate);
        bool routine = output.command == RadioCommand::WriteFileBlock && output.note == "WRITEFILEBLOCK ACK";
        if (m_options.logEveryBlock || !routine)
            m_log.Addf("tx @%u: %s (%s)", rate, Hex(output.bytes).c_str(), output.note.c_str());
    }
    if (output.command == RadioCommand::WriteFileBlock && m_downloadStarted)
        m_downloadEnd = Clock::now();
    if (output.newBitRate) {
        m_bitRate = static_cast<unsigned>(output.newBitRate);
        m_log.Addf("now at %u bit/s", m_bitRate);
    }
    if (output.toBootloader)
        StartBootloader("hard reset");
    if (output.toFirmware) {
        m_log.Add("RESET: " + ReportLocked().Verdict());
        StartFirmware();
    }
    if (output.stopAfter) {
        m_dead = true;
        m_log.Add("stops answering (fault)");
    }
}

void RadioPeer::StartBootloader(const char *why)
{
    m_mode = Mode::Bootloader;
    m_bitRate = 9600;
    m_frame.clear();
    m_query.clear();
    m_escapePending = false;
    m_plusCount = 0;
    m_bootWindow = strcmp(why, "power-up") == 0 && !m_options.startInBootloader;
    if (m_bootWindow)
        m_bootDeadline = Clock::now() + Millis(ScaledMs(m_options.bootWindowMs));
    m_log.Addf("bootloader at 9600 bit/s (%s)", why);
}

void RadioPeer::StartFirmware()
{
    m_mode = Mode::Data;
    m_bitRate = m_options.firmwareBitRate;
    m_frame.clear();
    m_query.clear();
    m_escapePending = false;
    m_plusCount = 0;
    m_bootWindow = false;
    if (m_bitRate)
        m_log.Addf("firmware running at %u bit/s", m_bitRate);
    else
        m_log.Add("firmware running at the host's speed");
}

void RadioPeer::Flag(const std::string &problem)
{
    m_log.Add("FLAG " + problem);
    if (m_problems.size() < kMostProblems)
        m_problems.push_back(problem);
    else if (m_problems.size() == kMostProblems)
        m_problems.push_back("... more problems in the radio's log");
}

RadioReport RadioPeer::Report() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return ReportLocked();
}

RadioReport RadioPeer::ReportLocked() const
{
    RadioReport report;
    report.announced = m_announced;
    report.announcedBlocks = m_announcedBlocks;
    report.announcedChecksum = m_announcedChecksum;
    report.blocksReceived = m_blocks;
    report.resetReceived = m_resetReceived;
    report.frames = m_frameCounts;
    report.problems = m_problems;
    if (!m_stray.empty())
        report.problems.push_back("stray bytes never followed by a frame: " + Hex(m_stray, 16));
    if (!m_frame.empty())
        report.problems.push_back("incomplete frame at the end: " + Hex(m_frame, 16));
    report.rxWireMs = m_rxWireMs;
    report.txWireMs = m_txWireMs;
    report.programMs = m_programMs;
    if (m_downloadStarted && m_downloadEnd > m_downloadStart)
        report.downloadMs = std::chrono::duration<double, std::milli>(m_downloadEnd - m_downloadStart).count();

    if (m_announced && m_blocks == m_announcedBlocks) {
        if (m_announcedBlocks == 0) {
            report.verified = m_announcedChecksum == 1;
        } else {
            size_t before = size_t(m_announcedBlocks - 1) * kBlockSize;
            uint32_t adler = m_options.keepImage ? RadioAdler32(1, m_image.data(), before) : m_runningAdler;
            const unsigned char *last = m_options.keepImage ? m_image.data() + before : m_lastBlock.data();
            // The radio knows the image length only through the checksum:
            // the filler of the last block is not covered by it.
            uint32_t a = adler & 0xFFFF, b = adler >> 16;
            for (unsigned i = 0; i < kBlockSize && !report.verified; ++i) {
                a = (a + last[i]) % 65521;
                b = (b + a) % 65521;
                if (((b << 16) | a) == m_announcedChecksum) {
                    report.verified = true;
                    report.imageLength = before + i + 1;
                }
            }
        }
    }
    return report;
}

std::vector<unsigned char> RadioPeer::ReceivedBlocks() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_image;
}

}  // namespace sim
