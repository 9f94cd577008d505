// Every command the device API sends to the PMU, by name, and a request told
// as a person reads it: "display supply on", "GSM on/off line asserted",
// "buzzer on 440 Hz, 100 ms", "temperature (whole degrees) query".
//
// The buzzer's bytes as sounds: the tone byte is the API's interpolation
// between (305 Hz, 255), (480, 160), (625, 128), (1086, 80), (2222, 32) and
// (4651, 16), truncated, so one byte stands for a band of frequencies; it is
// told as the middle of its band (the byte 181 that 440 Hz gives as 440 Hz,
// the byte 41 of 2000 Hz as 1997 Hz; 255, also sent for any frequency out of
// the table, as 305 Hz).  The duration byte counts 10 ms.
//
// A beep is also its own timeline event, source "buzzer", whose text is
// exactly "buzzer on <Hz> Hz, <ms> ms": the live page reads the two numbers
// from it to play the tone, so keep that form.
#ifndef ORVA_TOOLS_SIM_PMU_NAMES_H
#define ORVA_TOOLS_SIM_PMU_NAMES_H

#include <stdint.h>

#include <string>
#include <vector>

#include "sim/pmu.h"

namespace simsession {

struct PmuCommandInfo {
    uint8_t code;
    const char *name;  // what the request does, with "%s" for its parameter's meaning
    bool query;        // it only reads: the data byte of the reply is the answer
};
// In the order of their codes.
const std::vector<PmuCommandInfo> &PmuCommands();
// Null for a code the API never sends.
const PmuCommandInfo *FindPmuCommand(int code);
// "0x74, 0x7A, ...": for messages that say what exists.
std::string PmuCommandCodes();

int BuzzerToneHz(uint8_t tone);
inline int BuzzerDurationMs(uint8_t duration) { return duration * 10; }
// "buzzer on 440 Hz, 100 ms"
std::string BeepText(uint8_t tone, uint8_t duration);

// The request as taken, with the state it left (a beep's tone and length);
// " (not carried out)" follows one the PMU refused or failed.
std::string DescribePmuRequest(const sim::Pmu::Request &request);
// Whether a description is of a request that only reads.
bool IsPmuQuery(const std::string &description);

}  // namespace simsession

#endif
