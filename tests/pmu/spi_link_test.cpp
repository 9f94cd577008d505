// The PMU link: message framing, the reply checks, the bus lock.
#include <pthread.h>

#include <thread>

#include "API_Errors.h"
#include "API_Extender.h"
#include "API_SPI.h"
#include "internal/API_SPI.h"
#include "pmu_fixture.h"

namespace {

using Fault = sim::PmuFault;

bool LockIsFree()
{
    if (pthread_mutex_trylock(&s_spi_mutex) != 0)
        return false;
    pthread_mutex_unlock(&s_spi_mutex);
    return true;
}

TEST_F(PmuTest, RequestsAreFramedAndEachWaitsTwentyMilliseconds)
{
    EXPECT_EQ(API_SPI_SendRecv(ifd_pmu, 0xC3, 0), 0);
    EXPECT_EQ(API_SPI_SendRecv(ifd_pmu, 0xF4, 0x5A), 0);
    EXPECT_EQ(Requests(), (std::vector<std::string>{"02 C3 00 C1", "02 F4 5A AC"}));
    int pauses = 0;
    for (const timespec &sleep : receiver.Sleeps())
        pauses += sleep.tv_sec == 0 && sleep.tv_nsec == 20000000;
    EXPECT_EQ(pauses, 2);
}

TEST_F(PmuTest, RepliesAreCheckedInOrder)
{
    struct Case {
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
    for (const Case &c : cases) {
        pmu.QueueReply(c.reply);
        unsigned char reply[4] = {};
        ASSERT_EQ(API_SPI_Sendmsg(ifd_pmu, 0xC3, 0), 0);
        EXPECT_EQ(API_SPI_Receivemsg(ifd_pmu, reply, c.expected), c.result)
            << std::hex << int(c.reply[0]) << ' ' << int(c.reply[1]) << " expected " << int(c.expected);
        EXPECT_EQ(reply[2], c.reply[2]);
    }
    pmu.FailRequest(1, Fault::ShortRead);
    EXPECT_EQ(API_SPI_SendRecv(ifd_pmu, 0xC3, 0), API_ERR_READING_FROM_SPI);
}

TEST_F(PmuTest, EveryFailureReleasesTheLock)
{
    // A short write must not be followed by a read: the read would fail with 26.
    pmu.FailRequest(1, Fault::ShortWrite);
    EXPECT_EQ(API_SPI_SendRecv(ifd_pmu, 0xB3, 0), API_ERR_WRITING_SPI);
    EXPECT_TRUE(LockIsFree());
    for (Fault fault : {Fault::FailureAnswer, Fault::BadChecksum, Fault::WrongEcho, Fault::ShortRead}) {
        pmu.FailRequest(1, fault);
        EXPECT_NE(API_SPI_SendRecv(ifd_pmu, 0xB3, 0), 0);
        EXPECT_TRUE(LockIsFree());
    }
    receiver.FailOpen("/dev/pmu", EACCES);
    EXPECT_EQ(API_PM_Initialize(), API_ERR_OPENING_PMU);
    EXPECT_EQ(ifd_pmu, -1);
    EXPECT_EQ(API_SPI_SendRecv(ifd_pmu, 0xB3, 0), API_ERR_SPI_TRANSMISSION);
    EXPECT_TRUE(LockIsFree());
}

TEST_F(PmuTest, LockRemainsUsableAfterFinalize)
{
    EXPECT_EQ(API_SPI_Finalize(), 0);
    EXPECT_EQ(API_SPI_Initialize(), 0);
    EXPECT_TRUE(LockIsFree());
    EXPECT_EQ(API_SPI_SendRecv(ifd_pmu, 0x7E, 0), 0);
}

TEST_F(PmuTest, ConcurrentUsersNeverInterleaveOnTheBus)
{
    pmu.SetTemperatureBytes(55, 25);
    pmu.SetSource0(7, 40, 85);
    auto temperatures = std::thread([] {
        for (int i = 0; i < 40; ++i) {
            float temperature = 0;
            ASSERT_EQ(API_PM_GetTemperature(&temperature), 0);
            ASSERT_FLOAT_EQ(temperature, 25.25f);
        }
    });
    auto levels = std::thread([] {
        for (int i = 0; i < 40; ++i) {
            float level = 0, voltage = 0;
            ASSERT_EQ(API_PM_GetPowerLevel(0, &level, &voltage), 0);
            ASSERT_FLOAT_EQ(voltage, 7.4f);
            ASSERT_FLOAT_EQ(level, 85.0f);
        }
    });
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(API_PM_RemoteShutdown(), 0);
    temperatures.join();
    levels.join();
    EXPECT_EQ(pmu.Overlaps(), 0);
    EXPECT_EQ(pmu.RequestCount(), 40 * (2 + 3 + 1));
}

TEST_F(PmuTest, ExtenderAccessWaitsForTheBusLock)
{
    ASSERT_EQ(API_Extender_Init(), 0);
    board.extender->Log().Clear();
    pthread_mutex_lock(&s_spi_mutex);
    int level = -1;
    std::thread reader([&] { EXPECT_EQ(API_Extender_GetStatusGpio(1, 2, &level), 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(board.extender->Log().Lines().empty());
    pthread_mutex_unlock(&s_spi_mutex);
    reader.join();
    EXPECT_EQ(board.extender->Log().Lines().size(), 1u);
    EXPECT_EQ(API_Extender_Cleanup(), 0);
}

}  // namespace
