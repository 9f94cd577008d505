// A scenario file as orva-sim reads it, pictures aside: any bytes give a
// scenario or a message, never a crash.  A scenario read has its steps
// numbered in order with the lines they stand on, times that are not
// negative, an action for every action step, and nothing after an exit.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "sim_scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using Kind = simsession::ScenarioStep::Kind;
    simsession::Scenario scenario;
    std::string error;
    if (!simsession::ParseScenario(std::string(reinterpret_cast<const char *>(data), size), "", false, &scenario,
                                   &error)) {
        if (error.empty())
            abort();
        return 0;
    }
    if (scenario.steps.empty())
        abort();
    int line = 0;
    for (size_t i = 0; i < scenario.steps.size(); ++i) {
        const simsession::ScenarioStep &step = scenario.steps[i];
        if (step.number != static_cast<int>(i) + 1 || step.line < line || step.within < 0 || step.duration < 0)
            abort();
        if ((step.kind == Kind::Exit && i + 1 != scenario.steps.size()) ||
            (step.kind == Kind::Do && step.action.name.empty()))
            abort();
        if (step.kind == Kind::Exit ? step.status > 255
                                    : step.kind != Kind::Do && step.kind != Kind::Wait && step.text.empty())
            abort();
        line = step.line;
        if (step.Name().find("step " + std::to_string(step.number) + " (line ") != 0)
            abort();
    }
    return 0;
}
