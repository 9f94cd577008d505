// The display open on a blank mirror over a fresh simulated receiver; tests
// check the panel's own RAM after a flush.
#ifndef DISPLAY_FIXTURE_H
#define DISPLAY_FIXTURE_H

#include <string>
#include <vector>

#include "API_Display.h"
#include "API_Errors.h"
#include "internal/API_Display.h"
#include "sim_test.h"

class DisplayTest : public simtest::SimTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(i_dfd | s_page_update | b_PowerState, 0);  // as the process starts
        ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
        panel.ClearTranscript();
    }
    void TearDown() override
    {
        API_Display_Close();
        unitreset::Display();
    }

    // The panel after a flush, as '#'/'.' rows.
    std::string Shown(int x, int y, int width, int height)
    {
        EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
        return panel.Render(x, y, width, height);
    }

    sim::Display &panel = *board.display;
};

// Art as sim::Display renders it, written with '|' between rows.
inline std::string Art(std::string rows)
{
    for (char &c : rows)
        c = c == '|' ? '\n' : c;
    return rows + "\n";
}

// The same row `count` times.
inline std::string Rows(const std::string &row, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += row + "\n";
    return text;
}

// Pieces of art of one height side by side.
inline std::string Beside(const std::vector<std::string> &pieces)
{
    std::string text;
    std::vector<size_t> at(pieces.size(), 0);
    while (at[0] < pieces[0].size()) {
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
