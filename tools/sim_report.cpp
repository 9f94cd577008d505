#include "sim_report.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <sstream>

#include "sim_pmu_names.h"

namespace simsession {

namespace {

// Lines that are a link or a call coming or going, or the program's power
// event callback about to be called (the status's last read).
bool LinkCallOrCallback(const TimelineEvent &event)
{
    static const std::vector<std::pair<const char *, const char *>> kLines = {
        {"pmu", "power event status (high byte)"},
        {"bluetooth", "link "},
        {"gsm", "host: ATD"},
        {"gsm", "host: ATA"},
        {"gsm", "host: ATH"},
        {"gsm", "host: AT+WIPCREATE"},
        {"gsm", "host: AT+WIPCLOSE"},
        {"gsm", "modem: CONNECT"},
        {"gsm", "modem: NO CARRIER"},
        {"gsm", "modem: RING"},
        {"gsm", "modem: +WIPPEERCLOSE"},
    };
    for (const auto &line : kLines)
        if (event.source == line.first && event.text.compare(0, strlen(line.second), line.second) == 0)
            return true;
    return false;
}

std::string FrameLook(bool shown, int contrast)
{
    if (!shown)
        return "unpowered: drawn blank";
    return contrast >= 0 ? "contrast " + std::to_string(contrast) : "lit";
}

struct Line {
    ReceiverMs ms;
    std::string text;
};

// Everything in the order of its time (publishers stamp their own times, so
// the bus's order is nearly, not quite, that).
std::vector<Line> Chronicle(const ReportFacts &facts, bool brief)
{
    std::vector<Line> lines;
    for (const TimelineEvent &event : facts.events) {
        bool keep = event.source == "action" || event.source == facts.tool || LinkCallOrCallback(event) ||
                    (event.source == "pmu" && !IsPmuQuery(event.text));
        // A beep is told by the PMU's request already.
        if (event.source != "buzzer" && (keep || !brief))
            lines.push_back({event.ms, event.source + ": " + event.text});
    }
    bool shown = false;
    int contrast = -1;
    for (const FrameNote &frame : facts.frames) {
        bool changed = frame.shown != shown || (frame.shown && frame.contrast != contrast);
        shown = frame.shown;
        contrast = frame.contrast;
        if (!brief)
            lines.push_back({frame.ms, "panel: frame " + std::to_string(frame.number) + ", " +
                                           FrameLook(frame.shown, frame.contrast)});
        else if (changed)
            lines.push_back({frame.ms, "panel: " + FrameLook(frame.shown, frame.contrast)});
    }
    if (!brief)
        for (const OutputLine &output : facts.output)
            lines.push_back({output.ms, (output.stream == Stream::Stdout ? "stdout: " : "stderr: ") + output.text});
    std::stable_sort(lines.begin(), lines.end(), [](const Line &a, const Line &b) { return a.ms < b.ms; });
    return lines;
}

std::string Json(const std::string &text)
{
    std::string quoted = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += escape;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

std::string Strings(const std::vector<std::string> &strings)
{
    std::string list = "[";
    for (const std::string &text : strings)
        list += (list.size() > 1 ? ", " : "") + Json(text);
    return list + "]";
}

std::string Number(double value)
{
    char text[32];
    snprintf(text, sizeof text, "%.10g", value);
    return text;
}

}  // namespace

std::string Stamp(ReceiverMs ms)
{
    char stamp[32];
    snprintf(stamp, sizeof stamp, "[%8lld ms]", static_cast<long long>(ms));
    return stamp;
}

std::string PanelText(const sim::PanelRam &ram, const sim::PanelLook &look)
{
    std::string text;
    for (int y = 0; y < sim::Display::kHeight; ++y) {
        for (int x = 0; x < sim::Display::kWidth; ++x)
            text += look.shown && sim::PanelPixel(ram, x, y) ? '#' : '.';
        text += '\n';
    }
    return text;
}

std::string PanelLine(const sim::PanelLook &look)
{
    if (!look.shown)
        return "display: panel unpowered: drawn blank";
    if (look.contrast < 0)
        return "display: panel lit, no contrast set (drawn at full strength)";
    return "display: panel lit, contrast " + std::to_string(look.contrast);
}

std::vector<std::string> BriefReport(const ReportFacts &facts)
{
    std::vector<std::string> lines;
    for (const Line &line : Chronicle(facts, true))
        lines.push_back(Stamp(line.ms) + " " + line.text);
    lines.insert(lines.end(), facts.summary.begin(), facts.summary.end());
    return lines;
}

std::string ReportText(const ReportFacts &facts)
{
    std::ostringstream out;
    for (const std::string &line : facts.summary)
        out << line << '\n';
    out << "== timeline ==\n";
    for (const Line &line : Chronicle(facts, false))
        out << Stamp(line.ms) << ' ' << line.text << '\n';
    for (const ReportFacts::Log &log : facts.logs) {
        out << "== " << log.name << " ==\n";
        for (const auto &line : log.lines)
            out << Stamp(line.first) << ' ' << line.second << '\n';
    }
    out << "== display panel ==\n" << PanelText(facts.panel, facts.look);
    return out.str();
}

std::string ReportJson(const ReportFacts &facts)
{
    std::ostringstream out;
    out << "{\n  \"tool\": " << Json(facts.tool) << ",\n  \"program\": " << Strings(facts.program)
        << ",\n  \"timeScale\": " << Number(facts.timeScale) << ",\n  \"endMs\": " << facts.endMs
        << ",\n  \"summary\": " << Strings(facts.summary) << ",\n  \"events\": [";
    const char *separator = "\n    ";
    for (const TimelineEvent &event : facts.events) {
        out << separator << "{\"ms\": " << event.ms << ", \"source\": " << Json(event.source)
            << ", \"text\": " << Json(event.text) << "}";
        separator = ",\n    ";
    }
    out << "\n  ],\n  \"output\": [";
    separator = "\n    ";
    for (const OutputLine &line : facts.output) {
        out << separator << "{\"ms\": " << line.ms << ", \"stream\": \""
            << (line.stream == Stream::Stdout ? "stdout" : "stderr") << "\", \"text\": " << Json(line.text) << "}";
        separator = ",\n    ";
    }
    out << "\n  ],\n  \"frames\": [";
    separator = "\n    ";
    for (const FrameNote &frame : facts.frames) {
        out << separator << "{\"number\": " << frame.number << ", \"ms\": " << frame.ms
            << ", \"shown\": " << (frame.shown ? "true" : "false") << ", \"contrast\": " << frame.contrast << "}";
        separator = ",\n    ";
    }
    std::vector<std::string> rows;
    std::istringstream panel(PanelText(facts.panel, facts.look));
    for (std::string row; std::getline(panel, row);)
        rows.push_back(row);
    out << "\n  ],\n  \"panel\": {\"shown\": " << (facts.look.shown ? "true" : "false")
        << ", \"contrast\": " << facts.look.contrast << ", \"rows\": " << Strings(rows) << "},\n"
        << "  \"openDescriptors\": " << Strings(facts.openDescriptors)
        << ",\n  \"sleeps\": {\"count\": " << facts.sleeps << ", \"ms\": " << Number(facts.sleptMs) << "}\n}\n";
    return out.str();
}

}  // namespace simsession
