#include "API_Buzzer.h"

#include <pthread.h>

#include "API_SPI.h"
#include "internal/API_PMU_Commands.h"
#include "internal/API_SPI.h"

namespace {

const unsigned int s_freq[6] = {305, 480, 625, 1086, 2222, 4651};
const unsigned char s_period[6] = {255, 160, 128, 80, 32, 16};
const unsigned char kToneOutOfRange = 255;

// Keeps the three commands of one beep together when several threads beep.
pthread_mutex_t buzzer_mutex = PTHREAD_MUTEX_INITIALIZER;

unsigned char s_ToneValue(unsigned int frequency)
{
    if (frequency <= s_freq[0] || frequency >= s_freq[5])
        return kToneOutOfRange;
    int i = 0;
    while (frequency >= s_freq[i + 1])
        ++i;
    // Single precision on purpose: the PMU's table was tuned against it.
    float slope = static_cast<float>(static_cast<int>(s_period[i + 1]) - static_cast<int>(s_period[i])) /
                  static_cast<float>(s_freq[i + 1] - s_freq[i]);
    float value = slope * static_cast<float>(frequency - s_freq[i]) + static_cast<float>(s_period[i]);
    return static_cast<unsigned char>(static_cast<unsigned int>(value) & 0xFFu);
}

}  // namespace

extern "C" int API_Buzzer_Init(void) { return 0; }

extern "C" int API_Buzzer_Beep(unsigned int frequency, int duration)
{
    pthread_mutex_lock(&buzzer_mutex);
    int result = API_SPI_PmuSendRecv(PMU_CMD_BUZZER_TONE, s_ToneValue(frequency));
    if (result == 0)
        result = API_SPI_PmuSendRecv(PMU_CMD_BUZZER_DURATION, static_cast<unsigned char>(duration & 0xFF));
    if (result == 0)
        result = API_SPI_PmuSendRecv(PMU_CMD_BUZZER_BEEP, 0);
    pthread_mutex_unlock(&buzzer_mutex);
    return result;
}

extern "C" int API_Buzzer_Cleanup(void)
{
    pthread_mutex_lock(&buzzer_mutex);
    int result = API_SPI_PmuSendRecv(PMU_CMD_BUZZER_OFF, 0);
    pthread_mutex_unlock(&buzzer_mutex);
    return result;
}
