// A fresh simulated receiver per test with the display open on a blank
// mirror; what a test checks is the panel's own RAM after a flush.
#ifndef DISPLAY_FIXTURE_H
#define DISPLAY_FIXTURE_H

#include <fcntl.h>

#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "API_Display.h"
#include "API_Errors.h"
#include "board.h"
#include "internal/API_Display.h"
#include "internal/API_PM.h"
#include "sim/receiver.h"
#include "sim/standard_board.h"

inline sim::ReceiverOptions FastReceiver()
{
    sim::ReceiverOptions options;
    options.timeScale = 0.001;
    return options;
}

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        API_Display_Cleanup();
        ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
        ASSERT_GT(i_dfd, 0);
        panel().ClearTranscript();
    }
    void TearDown() override { API_Display_Cleanup(); }

    sim::Display &panel() { return *board.display; }

    // The panel after a flush, as '#'/'.' rows.
    std::string Shown(int x, int y, int width, int height)
    {
        EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
        return panel().Render(x, y, width, height);
    }

    sim::Receiver receiver{FastReceiver()};
    sim::StandardBoard board{receiver};
};

// Rows of '#'/'.' joined the way sim::Display renders them.
inline std::string Art(std::initializer_list<const char *> rows)
{
    std::string text;
    for (const char *row : rows)
        text += std::string(row) + "\n";
    return text;
}

// Every pixel of `art` as a factor x factor block.
inline std::string Enlarge(const std::string &art, int factor)
{
    std::string text;
    size_t start = 0;
    while (start < art.size()) {
        size_t end = art.find('\n', start);
        std::string row;
        for (size_t i = start; i < end; ++i)
            row.append(static_cast<size_t>(factor), art[i]);
        for (int copy = 0; copy < factor; ++copy)
            text += row + "\n";
        start = end + 1;
    }
    return text;
}

// The same row `count` times.
inline std::string Rows(const char *row, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::string(row) + "\n";
    return text;
}

// A dark region as sim::Display renders it.
inline std::string BlankArt(int width, int height)
{
    std::string text;
    for (int row = 0; row < height; ++row)
        text += std::string(static_cast<size_t>(width), '.') + "\n";
    return text;
}

// Pieces of art of one height placed side by side.
inline std::string Beside(const std::vector<std::string> &pieces)
{
    std::string text;
    std::vector<size_t> at(pieces.size(), 0);
    while (!pieces.empty() && at[0] < pieces[0].size()) {
        for (size_t i = 0; i < pieces.size(); ++i) {
            size_t end = pieces[i].find('\n', at[i]);
            text += pieces[i].substr(at[i], end - at[i]);
            at[i] = end + 1;
        }
        text += "\n";
    }
    return text;
}

#endif
