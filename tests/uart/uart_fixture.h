// A fresh simulated receiver per test, ptys on demand, and every switch and
// interface of the process-wide UART state back to rest afterwards.
#ifndef TESTS_UART_FIXTURE_H
#define TESTS_UART_FIXTURE_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "API_Debug.h"
#include "API_Uart.h"
#include "internal/API_Init.h"
#include "sim/pty_line.h"
#include "sim/receiver.h"

class UartTest : public ::testing::Test {
protected:
    static sim::ReceiverOptions Options()
    {
        sim::ReceiverOptions options;
        options.timeScale = 0.001;
        return options;
    }

    void SetUp() override
    {
        for (int row = 0; row < API_DEVNAME_COUNT; ++row)
            savedPaths.emplace_back(a_devnames[row].path);
    }

    void TearDown() override
    {
        for (int number = 0; number < API_UART_COUNT; ++number) {
            API_Debug_SetSerialLog(number, 0);
            if (number != 0)
                API_Debug_SetSerialDump(number, 0);
        }
        for (int number = 0; number < API_UART_COUNT; ++number)
            API_UartClose(number);
        for (int row = 0; row < API_DEVNAME_COUNT; ++row)
            snprintf(a_devnames[row].path, sizeof a_devnames[row].path, "%s", savedPaths[row].c_str());
    }

    sim::PtyLine &Line(const std::string &boardPath)
    {
        lines.push_back(std::make_unique<sim::PtyLine>(receiver, boardPath));
        return *lines.back();
    }

    // What the peer gets within a second, up to `count` bytes.
    static std::string Receive(sim::PtyLine &line, size_t count)
    {
        std::string got;
        char buffer[256];
        while (got.size() < count) {
            long n = line.Receive(buffer, std::min(sizeof buffer, count - got.size()), 1000);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    sim::Receiver receiver{Options()};
    std::vector<std::unique_ptr<sim::PtyLine>> lines;
    std::vector<std::string> savedPaths;
};

// Holds a pipe on descriptor 0 for its life, to show nobody closed or used it.
class StdinStandIn {
public:
    StdinStandIn()
    {
        saved = dup(0);
        if (pipe(ends) == 0)
            dup2(ends[0], 0);
    }
    ~StdinStandIn()
    {
        if (saved >= 0) {
            dup2(saved, 0);
            close(saved);
        } else {
            close(0);
        }
        close(ends[0]);
        close(ends[1]);
    }
    bool Untouched() const
    {
        struct stat held, pipeEnd;
        return fstat(0, &held) == 0 && fstat(ends[0], &pipeEnd) == 0 && held.st_ino == pipeEnd.st_ino;
    }

private:
    int saved = -1;
    int ends[2] = {-1, -1};
};

#endif
