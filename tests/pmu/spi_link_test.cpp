// The PMU link: framing, the reply checks in their order, the bus lock, and
// no exchange at all without the device.
#include <errno.h>
#include <pthread.h>

#include <thread>

#include "API_Buzzer.h"
#include "API_Extender.h"
#include "API_GNSS.h"
#include "API_Init.h"
#include "API_MMI.h"
#include "API_SPI.h"
#include "API_Serial_EXTUHF.h"
#include "API_UHF_RX_PacificCrest.h"
#include "internal/API_SPI.h"
#include "pmu_fixture.h"
#include "standard_input.h"

namespace {

TEST_F(PmuTest, RepliesAreCheckedInOrderAndEveryFailureReleasesTheLock)
{
    EXPECT_EQ(API_SPI_SendRecv(ifd_pmu, 0xF4, 0x5A), 0);
    EXPECT_EQ(Requests(), Lines{"02 F4 5A AC"});
    EXPECT_EQ(Pauses(), std::vector<long>{kRequestPause});
    const struct {
        sim::Pmu::Message reply;
        unsigned char expected;
        int result;
    } cases[] = {
        {{0x02, 0xC3, 0x00, 0x00}, 0xC3, API_ERR_CHECKSUM_TEST},  // echo matches, checksum wrong
        {{0x02, 0xFF, 0xFF, 0x02}, 0xC3, API_ERR_SPI_TRANSMISSION},
        {{0x02, 0xFF, 0xFF, 0x02}, 0xFE, API_ERR_SPI_TRANSMISSION},
        {{0x02, 0xC2, 0x00, 0xC0}, 0xC3, API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY},
        {{0x02, 0xC2, 0x00, 0xC0}, 0xFE, API_ERR_NONE},
        {{0x55, 0xC3, 0x07, 0x55 ^ 0xC3 ^ 0x07}, 0xC3, API_ERR_NONE},  // header not examined
    };
    for (const auto &c : cases) {
        pmu.QueueReply(c.reply);
        unsigned char reply[4] = {};
        ASSERT_EQ(API_SPI_Sendmsg(ifd_pmu, 0xC3, 0), 0);
        EXPECT_EQ(API_SPI_Receivemsg(ifd_pmu, reply, c.expected), c.result) << std::hex << int(c.reply[1]);
        EXPECT_EQ(reply[2], c.reply[2]);
    }
    // A short write is not followed by a read, which would fail with 26.
    for (auto [fault, result] : {std::pair{sim::PmuFault::ShortWrite, API_ERR_WRITING_SPI},
                                 {sim::PmuFault::ShortRead, API_ERR_READING_FROM_SPI}}) {
        pmu.FailRequest(1, fault);
        EXPECT_EQ(API_SPI_SendRecv(ifd_pmu, 0xB3, 0), result);
        EXPECT_EQ(pthread_mutex_trylock(&s_spi_mutex), 0);  // let go on every path
        pthread_mutex_unlock(&s_spi_mutex);
    }
    pmu.InterruptNextExchange();  // a signal during the write and the read: both taken again
    EXPECT_EQ(API_SPI_SendRecv(ifd_pmu, 0xB3, 0), API_ERR_NONE);
    // A descriptor that is not open fails once, with no retry.
    EXPECT_EQ(API_SPI_Sendmsg(1000, 0xB3, 0), API_ERR_WRITING_SPI);
    EXPECT_EQ(API_SPI_Receivemsg(1000, nullptr, 0xB3), API_ERR_READING_FROM_SPI);
    pthread_mutex_lock(&s_spi_mutex);
    EXPECT_EQ(API_SPI_Finalize(), EBUSY);
    pthread_mutex_unlock(&s_spi_mutex);
    EXPECT_EQ(API_SPI_Finalize(), 0);
    EXPECT_EQ(API_SPI_Initialize(), 0);
    EXPECT_EQ(API_SPI_SendRecv(ifd_pmu, 0x7E, 0), 0);  // the lock outlives the shut-down
}

TEST_F(PmuTest, ConcurrentUsersNeverInterleaveOnTheBus)
{
    std::thread temperatures([] {
        for (int i = 0; i < 30; ++i) {
            float temperature = 0;
            ASSERT_EQ(API_PM_GetTemperature(&temperature), 0);
        }
    });
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(API_PM_RemoteShutdown(), 0);
    temperatures.join();
    EXPECT_EQ(pmu.Overlaps(), 0);
    // Each extender access waits for the bus as well.
    ASSERT_EQ(API_Extender_Init(), 0);
    board.extender->Log().Clear();
    pthread_mutex_lock(&s_spi_mutex);
    std::thread reader([] { EXPECT_EQ(API_Extender_SetConfigGpio(1, 2, 0), 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(board.extender->Log().Lines().empty());
    pthread_mutex_unlock(&s_spi_mutex);
    reader.join();
    EXPECT_EQ(board.extender->Log().Lines().size(), 2u);
    API_Extender_Cleanup();
}

// Without the device the descriptors are 0: every operation refuses at once,
// before the request's pause, and standard input is never touched.
void ExpectClosedDevicesRefused(const sim::Receiver &receiver)
{
    static float f;
    static int i;
    const size_t pauses = receiver.Sleeps().size();
    simtest::ExpectRefusalsLeaveStandardInput({
        {"send", [] { return API_SPI_Sendmsg(0, 0xC3, 0); }, API_ERR_SPI_TRANSMISSION},
        {"receive", [] { return API_SPI_Receivemsg(0, nullptr, 0xFE); }, API_ERR_SPI_TRANSMISSION},
        {"exchange", [] { return API_SPI_SendRecv(0, 0xC3, 0); }, API_ERR_SPI_TRANSMISSION},
        {"temperature", [] { return API_PM_GetTemperature(&f); }, API_ERR_SPI_TRANSMISSION},
        {"radio on", [] { return API_UHF_RX_PacificCrest_TurnOn(1); }, API_ERR_SPI_TRANSMISSION},
        {"beep", [] { return API_Buzzer_Beep(1000, 5); }, API_ERR_SPI_TRANSMISSION},
        {"gnss line", [] { return API_GNSS_SetBootPinLevel(1); }, API_ERR_SPI_TRANSMISSION},
        {"button", [] { return API_MMI_IsRecordPressed(&i); }, API_ERR_OPEN_DEV_PUSHBUTTON},
        {"extender", [] { return API_Extender_SetStatusGpio(1, 3, 0); }, API_ERR_READING_FROM_EXTENDER},
        {"extender cleanup", [] { return API_Extender_Cleanup(); }, API_ERR_NONE},
        {"serial mode", [] { return API_EXTUHF_SetSerialMode(0); }, API_ERR_EXTERNAL_UHF_IOCTL},
        {"serial mode query", [] { return API_EXTUHF_GetSerialMode(&i); }, API_ERR_EXTERNAL_UHF_IOCTL},
    });
    EXPECT_EQ(receiver.Sleeps().size(), pauses);
}

using ClosedDevice = simtest::SimTest;

TEST_F(ClosedDevice, BeforeStartUpAndAfterShutDownNothingReachesStandardInput)
{
    ExpectClosedDevicesRefused(receiver);
    const int units = API_INIT_SPI | API_INIT_PM | API_INIT_BUZZER | API_INIT_EXTENDER | API_INIT_SIGNALS |
                      API_INIT_MMI;
    simtest::Stdout([&] { EXPECT_EQ(API_Initialize(units), API_ERR_NONE); });
    EXPECT_EQ(API_PM_RemoteShutdown(), API_ERR_NONE);
    API_Finalize();
    ExpectClosedDevicesRefused(receiver);
}

}  // namespace
