// Plays the effects of the shell commands that the program under test runs on
// the simulated receiver: "when this command runs, write this result file",
// "this module load makes a tty appear", "this mount fails".  The receiver
// itself records every command in order; commands without a rule do nothing
// and succeed.
#ifndef SIM_SHELL_SCRIPT_H
#define SIM_SHELL_SCRIPT_H

#include <stddef.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class Receiver;

class ShellScript {
public:
    // What one command does each time it runs, in the order the effects were given.
    class Rule {
    public:
        Rule &WritesFile(const std::string &boardPath, const std::string &contents);
        // The n-th run writes the n-th text; the last one is written again after that.
        Rule &WritesFileInTurn(const std::string &boardPath, std::vector<std::string> contents);
        Rule &CreatesFile(const std::string &boardPath);
        Rule &RemovesFile(const std::string &boardPath);
        // Any other effect; runs on the thread that ran the command.
        Rule &Does(std::function<void()> effect);
        // The command's exit code (the status the shell reports is code << 8).
        Rule &ExitsWith(int code);

    private:
        friend class ShellScript;
        explicit Rule(Receiver &receiver) : m_receiver(&receiver) {}

        Receiver *m_receiver;
        std::vector<std::function<void(size_t run)>> m_effects;
        int m_exitCode = 0;
        size_t m_runs = 0;
    };

    // Becomes the receiver's shell handler until destroyed.
    explicit ShellScript(Receiver &receiver);
    ~ShellScript();
    ShellScript(const ShellScript &) = delete;
    ShellScript &operator=(const ShellScript &) = delete;

    // The rule for one exact command text (made on first use).  Give the rules
    // before the program under test runs the commands.
    Rule &When(const std::string &command);

    // Commands in the order they ran, and how often one exact text ran.
    std::vector<std::string> Commands() const;
    size_t RunCount(const std::string &command) const;

private:
    int Run(const std::string &command);

    Receiver &m_receiver;
    mutable std::mutex m_mutex;
    std::map<std::string, Rule> m_rules;
};

}  // namespace sim

#endif
