// The screen mirror, its flush to the controller, contrast, power, and what
// happens when the device misbehaves or is not open.
#include <string.h>

#include <thread>

#include "display_fixture.h"
#include "internal/API_SPI.h"
#include "standard_input.h"

namespace {

using Transfer = sim::Display::Transfer;
using Transfers = std::vector<Transfer>;

Transfer PageSelect(int page) { return {0, {static_cast<uint8_t>(0xB0 + page), 0x00, 0x10}}; }
Transfer PageData(int page)
{
    return {1, std::vector<uint8_t>(s_display_mirror + page * 128, s_display_mirror + page * 128 + 128)};
}
bool Blank(const std::array<uint8_t, 1024> &ram) { return ram == std::array<uint8_t, 1024>{}; }

using FrameBuffer = DisplayTest;

TEST_F(FrameBuffer, PixelsMapToPageBitsAndOnlyMarkedPagesAreFlushed)
{
    EXPECT_EQ(set_pixel(127, 63, 1), API_ERR_NONE);
    EXPECT_EQ(s_display_mirror[1023], 0x80);
    EXPECT_EQ(set_pixel(7, 9, 1), API_ERR_NONE);
    EXPECT_EQ(s_display_mirror[128 + 7], 0x02);
    unsigned char before[DISPLAY_MIRROR_SIZE];
    memcpy(before, s_display_mirror, sizeof before);
    for (auto [x, y] : {std::pair{128, 0}, {0, 64}, {-1, 5}, {5, -1}})
        EXPECT_EQ(set_pixel(x, y, 1), API_ERR_UNDEFINED_PIXEL_COORDINATES) << x << "," << y;
    EXPECT_EQ(memcmp(before, s_display_mirror, sizeof before), 0);
    EXPECT_EQ(s_page_update, 0x82);
    EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_EQ(panel.Transfers(), (Transfers{PageSelect(1), PageData(1), PageSelect(7), PageData(7)}));
    EXPECT_EQ(s_page_update, 0);
    EXPECT_EQ(set_pixel(7, 9, 2), API_ERR_NONE);  // only 1 lights
    EXPECT_EQ(API_Display_SetPixel(5, 5, 1), API_ERR_NONE);
    EXPECT_EQ(API_Display_SetPixel(5, 64, 1), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_EQ(panel.Ram()[128 + 7], 0x00);
    EXPECT_EQ(panel.Ram()[5], 0x20);
}

TEST_F(FrameBuffer, ClearContrastAndReset)
{
    panel.FillRam(0xFF);
    API_Display_SetPixel(1, 1, 1);
    EXPECT_EQ(API_Display_Clear(), API_ERR_NONE);
    EXPECT_TRUE(Blank(panel.Ram()));
    EXPECT_EQ(panel.Transfers().size(), 18u);  // eight pages, then the one that was marked
    panel.ClearTranscript();
    EXPECT_EQ(API_Display_SetBrightness(0x1FF), API_ERR_NONE);
    EXPECT_EQ(panel.ModeSelects(), std::vector<int>{0});
    EXPECT_EQ(panel.Transfers(), (Transfers{{0, {0x81, 0xFF}}}));

    API_Display_SetPixel(10, 30, 1);  // marked, not flushed
    panel.ClearTranscript();
    EXPECT_EQ(API_Display_Reset(), API_ERR_NONE);
    EXPECT_TRUE(panel.Log().Contains("close"));
    API_Display_Close();
    EXPECT_TRUE(receiver.OpenDescriptors().empty() && i_dfd == 0);
    EXPECT_EQ(panel.Transfers(), (Transfers{PageSelect(3), {1, std::vector<uint8_t>(128, 0)}}));  // blank
}

TEST_F(FrameBuffer, WithoutTheDeviceNothingIsWrittenAnywhere)
{
    receiver.FailOpen("/dev/display", ENOENT);
    EXPECT_EQ(API_Display_Reset(), API_ERR_OPEN_FILE);
    EXPECT_EQ(i_dfd, 0);
    static int state;
    simtest::ExpectRefusalsLeaveStandardInput({
        {"pixel", [] { return API_Display_SetPixel(1, 1, 1); }, API_ERR_NONE},  // the mirror stays
        {"flush", [] { return API_Display_Update(); }, API_ERR_OPEN_DEV_DISPLAY},
        {"clear", [] { return API_Display_Clear(); }, API_ERR_OPEN_DEV_DISPLAY},
        {"contrast", [] { return API_Display_SetBrightness(5); }, API_ERR_OPEN_DEV_DISPLAY},
        {"power", [] { return API_Display_SetPowerState(1); }, API_ERR_SPI_TRANSMISSION},
        {"power state", [] { return API_Display_GetPowerState(&state); }, API_ERR_SPI_TRANSMISSION},
    });
    API_Display_Close();
    unitreset::Display();  // no mirror yet either, as the process starts
    EXPECT_EQ(API_Display_Reset(), API_ERR_OPEN_FILE);
    receiver.ClearOpenFault("/dev/display");
    EXPECT_EQ(API_Display_Reset(), API_ERR_NONE);
}

TEST_F(FrameBuffer, AFailedPageIsReportedAndSentAgainByTheNextFlush)
{
    API_Display_SetPixel(4, 8, 1);
    API_Display_SetPixel(4, 24, 1);
    panel.ShortenDataWrites(60, 1);
    EXPECT_EQ(API_Display_Update(), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_TRUE(panel.Pixel(4, 24));  // the page after it still went out
    EXPECT_EQ(s_page_update, 0x02);
    // Data after a failed page select would land on the page the controller
    // still points at; a lost page command is no better.
    panel.ClearTranscript();
    panel.FailModeSelects(1, sim::Display::kCommandMode);
    EXPECT_EQ(API_Display_Update(), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_TRUE(panel.Transfers().empty());
    panel.FailWrites(1);
    EXPECT_EQ(API_Display_Update(), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_TRUE(panel.Pixel(4, 8));

    panel.FillRam(0xFF);
    panel.FailWrites(1);
    EXPECT_EQ(API_Display_Clear(), API_ERR_NONE);  // page 0 went out on the second try
    EXPECT_TRUE(Blank(panel.Ram()));
    panel.FailWrites(sim::Display::kAlways);
    EXPECT_EQ(API_Display_Clear(), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_NE(API_Display_SetBrightness(0x40), API_ERR_NONE);
    panel.ClearFaults();
    panel.FailModeSelects(1);
    EXPECT_NE(API_Display_SetBrightness(0x40), API_ERR_NONE);
    EXPECT_EQ(panel.Contrast(), -1);  // never sent as pixel data
}

TEST_F(FrameBuffer, PageWritesWaitForTheSpiBus)
{
    API_Display_SetPixel(0, 0, 1);
    pthread_mutex_lock(&s_spi_mutex);
    std::thread flusher([] { API_Display_Update(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(panel.Transfers().empty());
    pthread_mutex_unlock(&s_spi_mutex);
    flusher.join();
    EXPECT_TRUE(panel.Pixel(0, 0));
}

TEST_F(FrameBuffer, PowerIsSwitchedAndQueriedThroughThePmu)
{
    OpenPmu();
    int state = -1;
    EXPECT_EQ(API_Display_SetPowerState(1), API_ERR_NONE);
    EXPECT_EQ(b_PowerState, 1);
    EXPECT_EQ(API_Display_GetPowerState(nullptr), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(API_Display_GetPowerState(&state), API_ERR_NONE);
    EXPECT_EQ(state + b_PowerState, 2);
    EXPECT_EQ(API_Display_SetPowerState(2), API_ERR_NONE);  // anything but 1 is off
    EXPECT_FALSE(board.pmu->State().displayPower);
    EXPECT_EQ(b_PowerState, 0);
    EXPECT_EQ(board.pmu->Log().Lines(), (std::vector<std::string>{"02 E3 00 E1", "02 E4 00 E6", "02 E2 00 E0"}));
    EXPECT_EQ(API_Display_SetPowerState(1), API_ERR_NONE);
    board.pmu->QueueReply({0x02, 0xE4, 0x02, 0x02 ^ 0xE4 ^ 0x02});  // only 1 means on
    EXPECT_EQ(API_Display_GetPowerState(&state), API_ERR_NONE);
    EXPECT_EQ(state + b_PowerState, 0);
    board.pmu->FailCommand(0xE3);
    EXPECT_EQ(API_Display_SetPowerState(1), API_ERR_SPI_TRANSMISSION);
    board.pmu->FailCommand(0xE4, sim::PmuFault::BadChecksum);
    state = 7;
    EXPECT_EQ(API_Display_GetPowerState(&state), API_ERR_CHECKSUM_TEST);
    EXPECT_EQ(state + b_PowerState, 7);  // neither changed
}

}  // namespace
