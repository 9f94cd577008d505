// Units whose device is not open refuse at once and never reach descriptor 0,
// the process's standard input: before their start-up and after the shut-down.
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

#include "API_Buzzer.h"
#include "API_Display.h"
#include "API_Errors.h"
#include "API_Extender.h"
#include "API_GNSS.h"
#include "API_Init.h"
#include "API_MMI.h"
#include "API_PM.h"
#include "API_SPI.h"
#include "API_Serial_EXTUHF.h"
#include "API_UHF_RX_PacificCrest.h"
#include "sim_test.h"

namespace {

// Standard input becomes a socket holding what looks like PMU replies: a
// unit that reads or writes it leaves a trace.
class StandardInputWatch {
public:
    StandardInputWatch()
    {
        int pair[2];
        // Non-blocking: a unit that reads it finds the bytes gone, never waits.
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
        m_saved = dup(0);
        dup2(pair[0], 0);
        close(pair[0]);
        m_peer = pair[1];
        const unsigned char replies[8] = {0x02, 0xF4, 0x00, 0xF6, 0x02, 0xF5, 0x05, 0xF2};
        EXPECT_EQ(write(m_peer, replies, sizeof replies), 8);
    }
    ~StandardInputWatch()
    {
        dup2(m_saved, 0);
        close(m_saved);
        close(m_peer);
    }
    // Nothing was written to it, and the 8 bytes are still unread.
    bool Untouched() const
    {
        char bytes[16];
        return recv(m_peer, bytes, sizeof bytes, MSG_DONTWAIT) < 0 && recv(0, bytes, sizeof bytes, MSG_DONTWAIT) == 8;
    }

private:
    int m_saved = -1;
    int m_peer = -1;
};

struct Refusal {
    const char *operation;
    std::function<int()> call;
    int result;
};

class ClosedDevice : public simtest::SimTest {
protected:
    void ExpectRefusals()
    {
        static float f;
        static int i;
        const Refusal refusals[] = {
            {"send", [] { return API_SPI_Sendmsg(0, 0xC3, 0); }, API_ERR_SPI_TRANSMISSION},
            {"receive", [] { return API_SPI_Receivemsg(0, nullptr, 0xFE); }, API_ERR_SPI_TRANSMISSION},
            {"exchange", [] { return API_SPI_SendRecv(0, 0xC3, 0); }, API_ERR_SPI_TRANSMISSION},
            {"beep", [] { return API_Buzzer_Beep(1000, 5); }, API_ERR_SPI_TRANSMISSION},
            {"buzzer off", [] { return API_Buzzer_Cleanup(); }, API_ERR_SPI_TRANSMISSION},
            {"temperature", [] { return API_PM_GetTemperature(&f); }, API_ERR_SPI_TRANSMISSION},
            {"level", [] { return API_PM_GetPowerLevel(2, &f, &f); }, API_ERR_SPI_TRANSMISSION},
            {"charge", [] { return API_PM_GetChargeStatus(7, &i); }, API_ERR_SPI_TRANSMISSION},
            {"source", [] { return API_PM_GetPowerSource(&i); }, API_ERR_SPI_TRANSMISSION},
            {"events", [] { return API_PM_EnablePowerEvents(); }, API_ERR_SPI_TRANSMISSION},
            {"shutdown", [] { return API_PM_RemoteShutdown(); }, API_ERR_SPI_TRANSMISSION},
            {"radio on", [] { return API_UHF_RX_PacificCrest_TurnOn(1); }, API_ERR_SPI_TRANSMISSION},
            {"radio off", [] { return API_UHF_RX_PacificCrest_TurnOn(0); }, API_ERR_SPI_TRANSMISSION},
            {"gnss query", [] { return API_GNSS_GetPowerState(&i); }, API_ERR_SPI_TRANSMISSION},
            {"gnss line", [] { return API_GNSS_SetBootPinLevel(1); }, API_ERR_SPI_TRANSMISSION},
            {"display power", [] { return API_Display_SetPowerState(1); }, API_ERR_SPI_TRANSMISSION},
            {"display state", [] { return API_Display_GetPowerState(&i); }, API_ERR_SPI_TRANSMISSION},
            {"flush", [] { return API_Display_Update(); }, API_ERR_OPEN_DEV_DISPLAY},
            {"clear", [] { return API_Display_Clear(); }, API_ERR_OPEN_DEV_DISPLAY},
            {"contrast", [] { return API_Display_SetBrightness(9); }, API_ERR_OPEN_DEV_DISPLAY},
            {"extender get", [] { return API_Extender_GetStatusGpio(1, 3, &i); }, API_ERR_READING_FROM_EXTENDER},
            {"extender set", [] { return API_Extender_SetStatusGpio(1, 3, 0); }, API_ERR_READING_FROM_EXTENDER},
            {"extender config", [] { return API_Extender_SetConfigGpio(0, 1, 1); }, API_ERR_READING_FROM_EXTENDER},
            {"button", [] { return API_MMI_IsRecordPressed(&i); }, API_ERR_OPEN_DEV_PUSHBUTTON},
            {"serial mode", [] { return API_EXTUHF_SetSerialMode(0); }, API_ERR_EXTERNAL_UHF_IOCTL},
            {"serial mode query", [] { return API_EXTUHF_GetSerialMode(&i); }, API_ERR_EXTERNAL_UHF_IOCTL},
        };
        const int pauses = RequestPauses();
        StandardInputWatch input;
        for (const Refusal &refusal : refusals)
            EXPECT_EQ(refusal.call(), refusal.result) << refusal.operation;
        EXPECT_TRUE(input.Untouched());
        // At once: not even the pause before a PMU request.
        EXPECT_EQ(RequestPauses(), pauses);
    }
    int RequestPauses()
    {
        int count = 0;
        for (const timespec &sleep : receiver.Sleeps())
            count += sleep.tv_nsec == 20000000;
        return count;
    }
};

TEST_F(ClosedDevice, BeforeStartUpNoUnitReachesStandardInput) { ExpectRefusals(); }

TEST_F(ClosedDevice, AfterShutDownNoUnitReachesStandardInput)
{
    const int units = API_INIT_SPI | API_INIT_PM | API_INIT_BUZZER | API_INIT_DISPLAY | API_INIT_EXTENDER |
                      API_INIT_MMI | API_INIT_SIGNALS;
    simtest::Stdout([&] { EXPECT_EQ(API_Initialize(units), API_ERR_NONE); });
    EXPECT_EQ(API_Buzzer_Beep(1000, 5), API_ERR_NONE);
    API_Finalize();
    ExpectRefusals();
}

}  // namespace
