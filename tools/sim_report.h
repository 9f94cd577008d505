// The report of a run, for a person (standard error and --report) and for
// tools (--report-json), every time the receiver's: milliseconds since the
// program started.
//
// Text: the summary lines ("radio: ...", "open descriptors: none", ...),
// then the timeline.  On standard error each line starts "sim: " and the
// timeline keeps what changed the receiver: actions, PMU requests other than
// queries, links and calls, the reads that lead to the program's power event
// callback, the panel's look, what the session found missing in the program;
// the file has all of it, the program's output lines among it, then every
// device log and the panel as text.  Timeline lines
// read "[    2000 ms] pmu: display supply on".
#ifndef ORVA_TOOLS_SIM_REPORT_H
#define ORVA_TOOLS_SIM_REPORT_H

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "sim/display_png.h"
#include "sim_pictures.h"
#include "sim_timeline.h"

namespace simsession {

struct ReportFacts {
    std::string tool;
    std::vector<std::string> program;
    double timeScale = 1;
    ReceiverMs endMs = 0;
    std::vector<std::string> summary;
    std::vector<TimelineEvent> events;
    std::vector<OutputLine> output;
    std::vector<FrameNote> frames;
    sim::PanelRam panel{};
    sim::PanelLook look;
    std::vector<std::string> openDescriptors;
    size_t sleeps = 0;
    double sleptMs = 0;
    struct Log {
        std::string name;
        std::vector<std::pair<ReceiverMs, std::string>> lines;
    };
    std::vector<Log> logs;
};

// "[    2000 ms]"
std::string Stamp(ReceiverMs ms);
// The panel as text, 64 rows of '#' (lit) and '.'; all dark when it is not shown.
std::string PanelText(const sim::PanelRam &ram, const sim::PanelLook &look);
// The summary line of the panel's look: "display: panel unpowered: drawn blank".
std::string PanelLine(const sim::PanelLook &look);

// The lines for standard error, without their "sim: ".
std::vector<std::string> BriefReport(const ReportFacts &facts);
std::string ReportText(const ReportFacts &facts);
std::string ReportJson(const ReportFacts &facts);

}  // namespace simsession

#endif
