// The screen mirror, its flush to the controller, contrast, power, and what
// happens when the device misbehaves.
#include <errno.h>
#include <string.h>

#include <algorithm>
#include <thread>

#include "API_Init.h"
#include "display_fixture.h"
#include "internal/API_SPI.h"

namespace {

using Transfer = sim::Display::Transfer;

std::vector<uint8_t> MirrorPage(int page)
{
    return std::vector<uint8_t>(s_display_mirror + page * 128, s_display_mirror + (page + 1) * 128);
}

Transfer PageSelect(int page) { return {0, {static_cast<uint8_t>(0xB0 + page), 0x00, 0x10}}; }

using FrameBuffer = DisplayTest;

TEST_F(FrameBuffer, PixelsMapToPageBitsAndRefusalsChangeNothing)
{
    EXPECT_EQ(set_pixel(127, 63, 1), API_ERR_NONE);
    EXPECT_EQ(s_display_mirror[1023], 0x80);
    EXPECT_EQ(s_page_update, 0x80);
    EXPECT_EQ(set_pixel(3, 10, 1), API_ERR_NONE);
    EXPECT_EQ(s_display_mirror[128 + 3], 0x04);

    unsigned char before[DISPLAY_MIRROR_SIZE];
    memcpy(before, s_display_mirror, sizeof before);
    const unsigned char mask = s_page_update;
    for (auto [x, y] : {std::pair{128, 0}, {0, 64}, {-1, 5}, {5, -1}})
        EXPECT_EQ(set_pixel(x, y, 1), API_ERR_UNDEFINED_PIXEL_COORDINATES) << x << "," << y;
    EXPECT_EQ(memcmp(before, s_display_mirror, sizeof before), 0);
    EXPECT_EQ(s_page_update, mask);

    // Only the value 1 lights a pixel.
    EXPECT_EQ(set_pixel(3, 10, 2), API_ERR_NONE);
    EXPECT_EQ(s_display_mirror[128 + 3], 0x00);
    EXPECT_EQ(API_Display_SetPixel(5, 5, 1), API_ERR_NONE);
    EXPECT_EQ(API_Display_SetPixel(5, 5, 0), API_ERR_NONE);
    EXPECT_EQ(s_display_mirror[5], 0x00);
    EXPECT_EQ(API_Display_SetPixel(5, 64, 1), API_ERR_SET_CLEAR_PIXEL);
}

TEST_F(FrameBuffer, FlushSendsOnlyMarkedPagesInOrder)
{
    EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_TRUE(panel().Transfers().empty());
    EXPECT_TRUE(panel().ModeSelects().empty());

    ASSERT_EQ(API_Display_SetPixel(7, 9, 1), API_ERR_NONE);
    EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_EQ(panel().ModeSelects(), (std::vector<int>{0, 1}));
    EXPECT_EQ(panel().Transfers(), (std::vector<Transfer>{PageSelect(1), {1, MirrorPage(1)}}));
    EXPECT_EQ(panel().Ram()[128 + 7], 0x02);
    EXPECT_EQ(s_page_update, 0);

    panel().ClearTranscript();
    API_Display_SetPixel(0, 55, 1);
    API_Display_SetPixel(0, 20, 1);
    EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_EQ(panel().Transfers(),
              (std::vector<Transfer>{PageSelect(2), {1, MirrorPage(2)}, PageSelect(6), {1, MirrorPage(6)}}));
    EXPECT_TRUE(panel().Pixel(0, 55));
    EXPECT_EQ(panel().DroppedBytes(), 0u);
}

TEST_F(FrameBuffer, ClearRewritesEveryPageWhateverWasMarked)
{
    panel().FillRam(0xFF);
    API_Display_SetPixel(1, 1, 1);
    EXPECT_EQ(API_Display_Clear(), API_ERR_NONE);
    auto ram = panel().Ram();
    EXPECT_TRUE(std::all_of(ram.begin(), ram.end(), [](uint8_t byte) { return byte == 0; }));
    EXPECT_TRUE(std::all_of(s_display_mirror, s_display_mirror + DISPLAY_MIRROR_SIZE, [](unsigned char b) { return b == 0; }));
    // Eight pages, then the flush of the page that was already marked.
    EXPECT_EQ(panel().Transfers().size(), 18u);
    EXPECT_EQ(s_page_update, 0);
}

TEST_F(FrameBuffer, BrightnessSendsTheContrastCommandWithTheLowByte)
{
    EXPECT_EQ(API_Display_SetBrightness(0x1FF), API_ERR_NONE);
    EXPECT_EQ(panel().ModeSelects(), std::vector<int>{0});
    EXPECT_EQ(panel().Transfers(), (std::vector<Transfer>{{0, {0x81, 0xFF}}}));
    EXPECT_EQ(panel().Contrast(), 0xFF);
    EXPECT_EQ(API_Display_SetBrightness(0x20), API_ERR_NONE);
    EXPECT_EQ(panel().Contrast(), 0x20);
}

TEST_F(FrameBuffer, ResetReopensWriteOnlyAndBlanksMarkedPages)
{
    API_Display_SetPixel(10, 30, 1);
    EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
    ASSERT_TRUE(panel().Pixel(10, 30));
    API_Display_SetPixel(10, 30, 1);  // marked again, not flushed
    panel().ClearTranscript();

    int opens = receiver.OpenCount("/dev/display");
    EXPECT_EQ(API_Display_Reset(), API_ERR_NONE);
    EXPECT_EQ(receiver.OpenCount("/dev/display"), opens + 1);
    EXPECT_EQ(panel().OpenFlags() & O_ACCMODE, O_WRONLY);
    EXPECT_TRUE(panel().Log().Contains("close"));
    // The marked page went out blank; the rest of the screen was left alone.
    EXPECT_EQ(panel().Transfers(), (std::vector<Transfer>{PageSelect(3), {1, std::vector<uint8_t>(128, 0)}}));
    EXPECT_FALSE(panel().Pixel(10, 30));
    EXPECT_EQ(API_Display_Reset(), API_ERR_NONE);
}

TEST_F(FrameBuffer, WithoutTheDeviceNothingIsWrittenAnywhere)
{
    receiver.FailOpen("/dev/display", ENOENT);
    EXPECT_EQ(API_Display_Reset(), API_ERR_OPEN_FILE);
    EXPECT_EQ(i_dfd, 0);
    panel().ClearTranscript();

    // Drawing still has a mirror; nothing may go to descriptor 0 instead.
    EXPECT_EQ(API_Display_SetPixel(1, 1, 1), API_ERR_NONE);
    EXPECT_EQ(API_Display_Update(), API_ERR_OPEN_DEV_DISPLAY);
    EXPECT_EQ(API_Display_Clear(), API_ERR_OPEN_DEV_DISPLAY);
    EXPECT_EQ(API_Display_SetBrightness(5), API_ERR_OPEN_DEV_DISPLAY);
    EXPECT_TRUE(panel().Transfers().empty());

    receiver.ClearOpenFault("/dev/display");
    EXPECT_EQ(API_Display_Reset(), API_ERR_NONE);
    EXPECT_EQ(API_Display_SetPixel(1, 1, 1), API_ERR_NONE);
    EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_TRUE(panel().Pixel(1, 1));
}

TEST_F(FrameBuffer, AShortPageWriteIsReportedAndSentAgainByTheNextFlush)
{
    API_Display_SetPixel(4, 8, 1);
    API_Display_SetPixel(4, 24, 1);
    panel().ShortenDataWrites(60, 1);
    EXPECT_EQ(API_Display_Update(), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    // The page after the failed one still went out.
    EXPECT_TRUE(panel().Pixel(4, 24));
    EXPECT_EQ(s_page_update, 0x02);

    EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_TRUE(panel().Pixel(4, 8));
    EXPECT_EQ(s_page_update, 0);
}

TEST_F(FrameBuffer, DataNeverFollowsAFailedPageSelect)
{
    API_Display_SetPixel(0, 0, 1);
    API_Display_Update();
    panel().ClearTranscript();

    // Page 3's data would otherwise land on page 0, where the controller still points.
    API_Display_SetPixel(9, 25, 1);
    panel().FailModeSelects(1, sim::Display::kCommandMode);
    EXPECT_EQ(API_Display_Update(), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_TRUE(panel().Transfers().empty());
    EXPECT_TRUE(panel().Pixel(0, 0));

    panel().FailWrites(1);  // this time the page command itself is lost
    EXPECT_EQ(API_Display_Update(), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_TRUE(panel().Pixel(0, 0));
    EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_TRUE(panel().Pixel(9, 25));
    EXPECT_TRUE(panel().Pixel(0, 0));
}

TEST_F(FrameBuffer, ClearReportsAScreenItCouldNotBlank)
{
    panel().FillRam(0xFF);
    panel().FailWrites(1);
    EXPECT_EQ(API_Display_Clear(), API_ERR_NONE);  // page 0 went out on the second try
    auto ram = panel().Ram();
    EXPECT_TRUE(std::all_of(ram.begin(), ram.end(), [](uint8_t byte) { return byte == 0; }));

    panel().FillRam(0xFF);
    panel().FailWrites(sim::Display::kAlways);
    EXPECT_EQ(API_Display_Clear(), API_ERR_UNDEFINED_PIXEL_COORDINATES);
}

TEST_F(FrameBuffer, ContrastIsNeverSentAsPixelData)
{
    panel().FailModeSelects(1);
    EXPECT_NE(API_Display_SetBrightness(0x40), API_ERR_NONE);
    EXPECT_TRUE(panel().Transfers().empty());
    EXPECT_EQ(panel().Contrast(), -1);
    panel().FailWrites(1);
    EXPECT_NE(API_Display_SetBrightness(0x40), API_ERR_NONE);
}

TEST_F(FrameBuffer, PageWritesWaitForTheSpiBus)
{
    API_Display_SetPixel(0, 0, 1);
    pthread_mutex_lock(&s_spi_mutex);
    std::thread flusher([] { API_Display_Update(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(panel().Transfers().empty());
    pthread_mutex_unlock(&s_spi_mutex);
    flusher.join();
    EXPECT_TRUE(panel().Pixel(0, 0));
}

TEST_F(FrameBuffer, StartUpOpensTheDisplayAndReportsWhenItCannot)
{
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(API_Initialize(API_INIT_DISPLAY), API_ERR_NONE);
    API_Finalize();
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("API_Display_Reset error"), std::string::npos);

    receiver.FailOpen("/dev/display", EACCES);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(API_Initialize(API_INIT_DISPLAY), API_ERR_OPEN_FILE);
    API_Finalize();
    out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("API_Display_Reset error (3)\n"), std::string::npos);
    EXPECT_EQ(out.find("API_Display_Initialize error"), std::string::npos);
}

class DisplayPower : public DisplayTest {
protected:
    void SetUp() override
    {
        DisplayTest::SetUp();
        ifd_pmu = Board_Open("/dev/pmu", O_RDWR, 0);
        ASSERT_GT(ifd_pmu, 0);
        b_PowerState = 0;
    }
    void TearDown() override
    {
        Board_Close(ifd_pmu);
        ifd_pmu = 0;
        DisplayTest::TearDown();
    }
};

TEST_F(DisplayPower, SwitchesAndQueriesTheSupplyThroughThePmu)
{
    EXPECT_EQ(API_Display_SetPowerState(1), API_ERR_NONE);
    EXPECT_TRUE(board.pmu->State().displayPower);
    EXPECT_EQ(b_PowerState, 1);
    int state = -1;
    EXPECT_EQ(API_Display_GetPowerState(&state), API_ERR_NONE);
    EXPECT_EQ(state, 1);

    // Anything but 1 means off.
    EXPECT_EQ(API_Display_SetPowerState(2), API_ERR_NONE);
    EXPECT_FALSE(board.pmu->State().displayPower);
    EXPECT_EQ(b_PowerState, 0);
    EXPECT_EQ(API_Display_GetPowerState(&state), API_ERR_NONE);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(board.pmu->Commands(), (std::vector<uint8_t>{0xE3, 0xE4, 0xE2, 0xE4}));
    EXPECT_EQ(board.pmu->Log().Lines()[0], "02 E3 00 E1");
}

TEST_F(DisplayPower, AFailedExchangeIsReportedAndChangesNoState)
{
    ASSERT_EQ(API_Display_SetPowerState(1), API_ERR_NONE);
    board.pmu->FailCommand(0xE2);
    EXPECT_EQ(API_Display_SetPowerState(0), API_ERR_SPI_TRANSMISSION);
    EXPECT_EQ(b_PowerState, 1);

    board.pmu->FailCommand(0xE4, sim::PmuFault::BadChecksum);
    int state = 7;
    EXPECT_EQ(API_Display_GetPowerState(&state), API_ERR_CHECKSUM_TEST);
    EXPECT_EQ(state, 7);
    EXPECT_EQ(b_PowerState, 1);
    EXPECT_EQ(API_Display_GetPowerState(nullptr), API_ERR_INVALID_PARAMETERS);
}

}  // namespace
