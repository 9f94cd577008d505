#include "sim_pmu_names.h"

#include <math.h>
#include <stdio.h>

namespace simsession {

namespace {

const char kNotCarriedOut[] = " (not carried out)";
const char kQuery[] = " query";

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

const std::vector<PmuCommandInfo> &PmuCommands()
{
    static const std::vector<PmuCommandInfo> kCommands = {
        {0x74, "power event status (high byte) query", true},
        {0x7A, "temperature (hundredths) query", true},
        {0x7E, "power events enabled", false},
        {0x7F, "power event status (low byte) query", true},
        {0x81, "temperature (whole degrees) query", true},
        {0x83, "power source 0 voltage (hundredths) query", true},
        {0x84, "power source 1 voltage (hundredths) query", true},
        {0x88, "power source query", true},
        {0x89, "power source 2 voltage query", true},
        {0x8A, "power source 0 level query", true},
        {0x8B, "power source 1 level query", true},
        {0x8C, "first charge indicator query", true},
        {0x8D, "second charge indicator query", true},
        {0x8E, "power source 0 voltage (whole volts) query", true},
        {0x8F, "power source 1 voltage (whole volts) query", true},
        {0x92, "GNSS wake-up line %s", false},
        {0x94, "GNSS boot line low", false},
        {0x95, "GNSS boot line high", false},
        {0x96, "GNSS reset line %s", false},
        {0x98, "GNSS supply off", false},
        {0x99, "GNSS supply on", false},
        {0x9A, "GNSS supply query", true},
        {0x9B, "GNSS clock source query", true},
        {0x9E, "GNSS wake-up line query", true},
        {0x9F, "GNSS reset line query", true},
        {0xA0, "GNSS boot line query", true},
        {0xA1, "GSM on/off line query", true},
        {0xA2, "GSM on/off line %s", false},
        {0xA4, "GSM supply on", false},
        {0xA5, "GSM supply off", false},
        {0xA6, "GSM supply query", true},
        {0xB3, "UHF radio companion command", false},
        {0xC2, "UHF radio supply off", false},
        {0xC3, "UHF radio supply on", false},
        {0xD3, "Bluetooth module reset", false},
        {0xE2, "display supply off", false},
        {0xE3, "display supply on", false},
        {0xE4, "display supply query", true},
        {0xF2, "buzzer off", false},
        {0xF3, "%s", false},
        {0xF4, "buzzer tone %s", false},
        {0xF5, "buzzer duration %s", false},
        {0xFD, "shutdown request", false},
    };
    return kCommands;
}

const PmuCommandInfo *FindPmuCommand(int code)
{
    for (const PmuCommandInfo &info : PmuCommands())
        if (info.code == code)
            return &info;
    return nullptr;
}

std::string PmuCommandCodes()
{
    std::string codes;
    char code[8];
    for (const PmuCommandInfo &info : PmuCommands()) {
        snprintf(code, sizeof code, "0x%02X", info.code);
        codes += (codes.empty() ? "" : ", ") + std::string(code);
    }
    return codes;
}

int BuzzerToneHz(uint8_t tone)
{
    static const double kHz[] = {305, 480, 625, 1086, 2222, 4651};
    static const double kByte[] = {255, 160, 128, 80, 32, 16};
    // The middle of the band of frequencies that truncate to this byte.
    double middle = tone + 0.5;
    if (middle > kByte[0])
        return static_cast<int>(kHz[0]);
    for (int i = 0; i < 5; ++i)
        if (middle >= kByte[i + 1])
            return static_cast<int>(
                lround(kHz[i] + (kByte[i] - middle) * (kHz[i + 1] - kHz[i]) / (kByte[i] - kByte[i + 1])));
    return static_cast<int>(kHz[5]);
}

std::string BeepText(uint8_t tone, uint8_t duration)
{
    return "buzzer on " + std::to_string(BuzzerToneHz(tone)) + " Hz, " + std::to_string(BuzzerDurationMs(duration)) +
           " ms";
}

std::string DescribePmuRequest(const sim::Pmu::Request &request)
{
    const sim::Pmu::Message &bytes = request.bytes;
    const PmuCommandInfo *info = FindPmuCommand(bytes[1]);
    char buffer[64];
    std::string text;
    if (bytes[0] != 0x02 || (bytes[0] ^ bytes[1] ^ bytes[2]) != bytes[3]) {
        snprintf(buffer, sizeof buffer, "malformed request %02X %02X %02X %02X", bytes[0], bytes[1], bytes[2],
                 bytes[3]);
        text = buffer;
    } else if (!info) {
        snprintf(buffer, sizeof buffer, "unknown command 0x%02X, parameter %u", bytes[1], bytes[2]);
        text = buffer;
    } else {
        std::string value;
        switch (bytes[1]) {
        case 0x92:
        case 0x96: value = bytes[2] ? "high" : "low"; break;
        case 0xA2: value = bytes[2] ? "asserted" : "released"; break;
        case 0xF3: value = BeepText(request.state.buzzerTone, request.state.buzzerDuration); break;
        case 0xF4: value = std::to_string(BuzzerToneHz(bytes[2])) + " Hz"; break;
        case 0xF5: value = std::to_string(BuzzerDurationMs(bytes[2])) + " ms"; break;
        default: break;
        }
        text = info->name;
        size_t slot = text.find("%s");
        if (slot != std::string::npos)
            text.replace(slot, 2, value);
    }
    return text + (request.carriedOut ? "" : kNotCarriedOut);
}

bool IsPmuQuery(const std::string &description)
{
    return EndsWith(description, kQuery) || EndsWith(description, kQuery + std::string(kNotCarriedOut));
}

}  // namespace simsession
