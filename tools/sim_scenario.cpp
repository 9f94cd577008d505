// The scenario file's reader.  Everything a run could trip over later (an
// action the controls would refuse to parse, a time, a picture) is checked
// here, before the program starts.
#include "sim_scenario.h"

#include <errno.h>
#include <stdlib.h>

#include <fstream>
#include <set>
#include <system_error>

#ifdef ORVA_SCENARIO_YAML
#include <yaml-cpp/yaml.h>
#endif

namespace simsession {

namespace {

const char *KindName(ScenarioStep::Kind kind)
{
    static const char *const kNames[] = {"do", "wait", "screen", "output", "log", "pmu", "serial", "exit"};
    return kNames[static_cast<int>(kind)];
}

}  // namespace

std::string ScenarioStep::Name() const
{
    std::string what = KindName(kind);
    switch (kind) {
    case Kind::Do: what += " " + action.Text(); break;
    case Kind::Wait: what += " " + std::to_string(duration) + " ms"; break;
    case Kind::Exit: what += status < 0 ? std::string(" any") : " " + std::to_string(status); break;
    case Kind::Log: what += " " + source + " \"" + text + "\""; break;
    default: what += " \"" + text + "\""; break;
    }
    return "step " + std::to_string(number) + " (line " + std::to_string(line) + ", " + what + ")";
}

#ifdef ORVA_SCENARIO_YAML

namespace {

using Kind = ScenarioStep::Kind;

struct Bad {
    int line;  // 0: the whole file
    std::string message;
};

// Each kind with the keys its steps may carry.  Constant data: the
// simulated library reads a scenario from its constructor, which may run
// before this file's dynamic initialisation.
const struct {
    Kind kind;
    const char *keys[4];
} kKinds[] = {
    {Kind::Do, {"do", "at"}},
    {Kind::Wait, {"wait", "at"}},
    {Kind::Screen, {"screen", "mask", "within", "at"}},
    {Kind::Output, {"output", "within", "at"}},
    {Kind::Log, {"log", "source", "within", "at"}},
    {Kind::Pmu, {"pmu", "within", "at"}},
    {Kind::Serial, {"serial", "peer", "within", "at"}},
    {Kind::Exit, {"exit", "within", "at"}},
};

int LineOf(const YAML::Node &node) { return node.Mark().line + 1; }

std::set<std::string> Keys(const char *const (&keys)[4])
{
    std::set<std::string> set;
    for (const char *key : keys)
        if (key)
            set.insert(key);
    return set;
}

std::string Joined(const std::set<std::string> &words)
{
    std::string text;
    for (const std::string &word : words)
        text += (text.empty() ? "" : ", ") + word;
    return text;
}

class StepReader {
public:
    StepReader(const YAML::Node &node, ScenarioStep &step, const std::string &directory, bool readPictures)
        : m_node(node), m_step(step), m_directory(directory), m_readPictures(readPictures)
    {}

    void Read()
    {
        if (!m_node.IsMap())
            Fail("a step is a map such as \"- do: press=record\" or \"- output: ready\"");
        std::set<std::string> allowed;
        for (const auto &kind : kKinds) {
            if (!m_node[KindName(kind.kind)])
                continue;
            if (!allowed.empty())
                Fail("a step does one thing: " + std::string(KindName(m_step.kind)) + " or " + KindName(kind.kind));
            m_step.kind = kind.kind;
            allowed = Keys(kind.keys);
        }
        if (allowed.empty())
            Fail("a step needs one of do, wait, screen, output, log, pmu, serial, exit");
        for (const auto &entry : m_node) {
            std::string key = entry.first.IsScalar() ? entry.first.Scalar() : "?";
            if (!allowed.count(key))
                Fail("unknown key \"" + key + "\" (a " + KindName(m_step.kind) + " step takes " + Joined(allowed) +
                     ")");
        }
        if (m_node["at"])
            m_step.at = Time("at");
        if (m_node["within"])
            m_step.within = Time("within");
        std::string value = Text(KindName(m_step.kind));
        switch (m_step.kind) {
        case Kind::Do: {
            std::string error;
            if (!Parse(value, &m_step.action, &error))
                Fail(error);
            break;
        }
        case Kind::Wait: m_step.duration = Time("wait"); break;
        case Kind::Screen:
            m_step.text = value;
            Picture(value, &m_step.reference);
            if (m_node["mask"])
                Picture(Text("mask"), &m_step.ignored);
            break;
        case Kind::Log:
            m_step.source = Text("source", "a log step names its source: source: gsm, pmu, bluetooth, ...");
            m_step.text = value;
            break;
        case Kind::Serial:
            if (m_node["peer"]) {
                m_step.source = Text("peer");
                if (m_step.source != "gsm" && m_step.source != "bluetooth")
                    Fail("the peer is gsm or bluetooth, not \"" + m_step.source + "\"");
            }
            m_step.text = value;
            break;
        case Kind::Exit:
            if (value != "any") {
                char *end = nullptr;
                long status = strtol(value.c_str(), &end, 10);
                if (value.empty() || *end || status < 0 || status > 255)
                    Fail("the exit status is 0 to 255 or any, not \"" + value + "\"");
                m_step.status = static_cast<int>(status);
            }
            break;
        default: m_step.text = value; break;
        }
    }

private:
    [[noreturn]] void Fail(const std::string &message) const
    {
        throw Bad{m_step.line, "step " + std::to_string(m_step.number) + ": " + message};
    }

    std::string Text(const char *key, const std::string &missing = "")
    {
        YAML::Node value = m_node[key];
        if (!value)
            Fail(missing);
        if (!value.IsScalar() || value.Scalar().empty())
            Fail(std::string(key) + " needs a text");
        return value.Scalar();
    }

    ReceiverMs Time(const char *key)
    {
        std::string text = Text(key);
        ReceiverMs ms = 0;
        if (!ParseReceiverTime(text, &ms))
            Fail("bad time \"" + text + "\" for " + key + ": give it as 2s, 1.5s or 1500ms");
        return ms;
    }

    void Picture(const std::string &path, sim::PanelRam *ram)
    {
        if (!m_readPictures)
            return;
        std::string full = path[0] == '/' || m_directory.empty() ? path : m_directory + "/" + path;
        std::string error;
        if (!sim::ReadPanelPng(full, ram, &error))
            Fail(error);
    }

    const YAML::Node &m_node;
    ScenarioStep &m_step;
    const std::string &m_directory;
    bool m_readPictures;
};

}  // namespace

bool ScenarioSupported() { return true; }

bool ParseScenario(const std::string &text, const std::string &directory, bool readPictures, Scenario *scenario,
                   std::string *error)
{
    Scenario parsed;
    try {
        if (text.size() > kScenarioMaxSize)
            throw Bad{0, "longer than " + std::to_string(kScenarioMaxSize) + " bytes"};
        const YAML::Node root = YAML::Load(text);
        if (!root.IsMap() || !root["steps"])
            throw Bad{0, "a scenario is a map whose \"steps\" list the steps"};
        for (const auto &entry : root) {
            std::string key = entry.first.IsScalar() ? entry.first.Scalar() : "?";
            if (key != "steps" && key != "about")
                throw Bad{LineOf(entry.first), "unknown key \"" + key + "\" (a scenario has steps and about)"};
        }
        const YAML::Node steps = root["steps"];
        if (!steps.IsSequence() || steps.size() == 0)
            throw Bad{LineOf(steps), "steps is a list of at least one step"};
        for (const auto &node : steps) {
            ScenarioStep step;
            step.number = static_cast<int>(parsed.steps.size()) + 1;
            step.line = LineOf(node);
            StepReader(node, step, directory, readPictures).Read();
            if (!parsed.steps.empty() && parsed.steps.back().kind == Kind::Exit)
                throw Bad{parsed.steps.back().line, "step " + std::to_string(step.number - 1) +
                                                        ": the program's exit ends a scenario: no step after it"};
            parsed.steps.push_back(std::move(step));
        }
    } catch (const Bad &bad) {
        *error = (bad.line ? "line " + std::to_string(bad.line) + ": " : "") + bad.message;
        return false;
    } catch (const YAML::Exception &exception) {
        *error = (exception.mark.is_null() ? "" : "line " + std::to_string(exception.mark.line + 1) + ": ") +
                 exception.msg;
        return false;
    }
    *scenario = std::move(parsed);
    return true;
}

bool LoadScenario(const std::string &path, Scenario *scenario, std::string *error)
{
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    std::string text;
    if (in) {
        // One byte over the limit is enough to refuse it.
        text.resize(kScenarioMaxSize + 1);
        in.read(&text[0], static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<size_t>(in.gcount()));
    }
    int failure = errno ? errno : EIO;
    if (!in && !in.eof()) {
        *error = "cannot read the scenario " + path + ": " + std::system_category().message(failure);
        return false;
    }
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "" : path.substr(0, slash);
    if (!ParseScenario(text, directory, true, scenario, error)) {
        *error = path + ": " + *error;
        return false;
    }
    scenario->path = path;
    return true;
}

#else

bool ScenarioSupported() { return false; }

bool ParseScenario(const std::string &, const std::string &, bool, Scenario *, std::string *error)
{
    *error = "this build has no scenario support (yaml-cpp was not found when it was configured)";
    return false;
}

bool LoadScenario(const std::string &path, Scenario *scenario, std::string *error)
{
    return ParseScenario(path, "", false, scenario, error);
}

#endif

}  // namespace simsession
