#include "sim/shell_script.h"

#include <algorithm>
#include <memory>

#include "sim/receiver.h"

namespace sim {

ShellScript::Rule &ShellScript::Rule::WritesFile(const std::string &boardPath, const std::string &contents)
{
    Receiver *receiver = m_receiver;
    m_effects.push_back([receiver, boardPath, contents](size_t) { receiver->CreateFile(boardPath, contents); });
    return *this;
}

ShellScript::Rule &ShellScript::Rule::WritesFileInTurn(const std::string &boardPath, std::vector<std::string> contents)
{
    if (contents.empty())
        return *this;
    Receiver *receiver = m_receiver;
    m_effects.push_back([receiver, boardPath, contents = std::move(contents)](size_t run) {
        receiver->CreateFile(boardPath, contents[std::min(run, contents.size() - 1)]);
    });
    return *this;
}

ShellScript::Rule &ShellScript::Rule::CreatesFile(const std::string &boardPath) { return WritesFile(boardPath, ""); }

ShellScript::Rule &ShellScript::Rule::RemovesFile(const std::string &boardPath)
{
    Receiver *receiver = m_receiver;
    m_effects.push_back([receiver, boardPath](size_t) { receiver->RemoveFile(boardPath); });
    return *this;
}

ShellScript::Rule &ShellScript::Rule::Does(std::function<void()> effect)
{
    m_effects.push_back([effect = std::move(effect)](size_t) { effect(); });
    return *this;
}

ShellScript::Rule &ShellScript::Rule::ExitsWith(int code)
{
    m_exitCode = code;
    return *this;
}

ShellScript::ShellScript(Receiver &receiver) : m_receiver(receiver)
{
    m_receiver.SetShellHandler([this](const std::string &command) { return Run(command); });
}

ShellScript::~ShellScript() { m_receiver.SetShellHandler(nullptr); }

ShellScript::Rule &ShellScript::When(const std::string &command)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_rules.find(command);
    if (found == m_rules.end())
        found = m_rules.emplace(command, Rule(m_receiver)).first;
    return found->second;
}

std::vector<std::string> ShellScript::Commands() const { return m_receiver.ShellCommands(); }

size_t ShellScript::RunCount(const std::string &command) const
{
    std::vector<std::string> commands = Commands();
    return static_cast<size_t>(std::count(commands.begin(), commands.end(), command));
}

int ShellScript::Run(const std::string &command)
{
    std::vector<std::function<void(size_t)>> effects;
    size_t run = 0;
    int exitCode = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto found = m_rules.find(command);
        if (found == m_rules.end())
            return 0;
        Rule &rule = found->second;
        effects = rule.m_effects;
        run = rule.m_runs++;
        exitCode = rule.m_exitCode;
    }
    // Outside the lock: an effect may take its time or raise a signal.
    for (auto &effect : effects)
        effect(run);
    return (exitCode & 0xFF) << 8;
}

}  // namespace sim
