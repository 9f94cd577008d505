// Expectations shared by the end-to-end tests.
#ifndef E2E_SUPPORT_H
#define E2E_SUPPORT_H

#include <zlib.h>

#include <stdio.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_process.h"

namespace e2e {

using simproc::Count;
using simproc::InOrder;
using simproc::Run;
using simproc::SimRun;

// Sleeps at a tenth of real time: the escape's guards, the flush after "+++"
// and the radio's boot window keep 50 ms of margin even on a loaded machine.
// Under an emulator (the ARM build) every step is several times slower, so the
// margins are widened to match.
#if defined(__arm__)
constexpr const char *kTimeScale = "0.4";
#else
constexpr const char *kTimeScale = "0.1";
#endif

inline SimRun *NewRun(std::vector<SimRun *> &all, std::vector<std::string> sim, std::vector<std::string> loader = {})
{
    sim.insert(sim.begin(), {"--time-scale", kTimeScale});
    all.push_back(new SimRun(std::move(sim), std::move(loader)));
    return all.back();
}

struct Runs {
    ~Runs()
    {
        for (SimRun *run : all)
            delete run;
    }
    SimRun *Add(std::vector<std::string> sim, std::vector<std::string> loader = {})
    {
        return NewRun(all, std::move(sim), std::move(loader));
    }
    void RunAll(int parallel = 3) { Run(all, parallel); }
    std::vector<SimRun *> all;
};

inline const char kPowerOff[] = "POWER PDL OFF - begin ... ";
inline const char kPmuOff[] = "02 C2 00 C0";
inline const char kPmuOn[] = "02 C3 00 C1";
inline const char kPmuCompanion[] = "02 B3 00 B1";

inline std::string Hex8(unsigned long value)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", value);
    return text;
}

inline unsigned long Adler(const std::string &bytes)
{
    return adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef *>(bytes.data()), uInt(bytes.size()));
}

// A run that ended before the port was opened: status 1, the radio never
// addressed, no power-off.
inline void ExpectRefusedBeforeThePort(const SimRun &run)
{
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(run.report.find("port /dev/ttyS5: opened"), std::string::npos) << run.report;
    EXPECT_EQ(Count(run.out, kPowerOff), 0u);
    for (const std::string &line : run.LogLines("pmu"))
        EXPECT_NE(line, kPmuOff);
    for (const std::string &line : run.LogLines("radio /dev/ttyS5"))
        EXPECT_NE(line.rfind("rx", 0), 0u) << "the radio heard " << line;
}

// The internal radio's power-off ran once, at the end, after `cycles` power
// cycles of the bootloader entry.
inline void ExpectPoweredOffOnceAtTheEnd(const SimRun &run, size_t cycles = 0)
{
    EXPECT_EQ(simproc::PowerOffProblem(run, cycles), "") << run.out;
}

inline std::string ApplicationImage(const std::string &file)
{
    if (file.size() >= 2 && static_cast<unsigned char>(file[0]) == 0xDE)
        return file.substr(0xC100);
    return file;
}

}  // namespace e2e

#endif
