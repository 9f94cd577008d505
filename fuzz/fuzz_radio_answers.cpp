// The radio's answers as the loader checks them: the command-mode model,
// version and hard-reset answers, the POC acknowledgement of the bootloader
// entry, and the acknowledgements of CREATEFILE, SETBAUDRATE, WRITEFILEBLOCK
// and RESET.
//
// Input: a flags byte, then the script of the radio's answers, taken one per
// query or frame the loader sends: a length byte (255: 255 plus the next
// byte) and that many bytes.  Once the script is used up the radio answers
// correctly, so every run comes to its end quickly.
#include <errno.h>
#include <stdlib.h>

#include <deque>
#include <memory>
#include <vector>

#include "Commun.h"
#include "fuzz_support.h"
#include "orvaflash.h"
#include "sim/device.h"
#include "sim/receiver.h"

namespace {

// The far end of the radio's port, played from the script.
class ScriptedRadio : public sim::Device {
public:
    void Load(fuzz::Input *input, bool failReopen)
    {
        m_input = input;
        m_failReopen = failReopen;
        m_opens = 0;
        m_pending.clear();
    }

    int Open(int) override
    {
        if (m_failReopen && ++m_opens > 1) {
            errno = EIO;
            return -1;
        }
        return 0;
    }

    ssize_t Write(const void *data, size_t size) override
    {
        const unsigned char *bytes = static_cast<const unsigned char *>(data);
        if (size >= 2 && (bytes[0] == 0x01 || bytes[0] == 0x02))
            Answer(bytes[0], bytes[1]);
        return static_cast<ssize_t>(size);
    }

    // An empty answer is an idle read.
    ssize_t Read(void *buffer, size_t size) override
    {
        size_t count = size < m_pending.size() ? size : m_pending.size();
        for (size_t i = 0; i < count; ++i) {
            static_cast<unsigned char *>(buffer)[i] = m_pending.front();
            m_pending.pop_front();
        }
        return static_cast<ssize_t>(count);
    }

private:
    void Answer(unsigned char kind, unsigned char command)
    {
        m_pending.clear();
        if (m_input->Left() > 0) {
            size_t length = m_input->Byte();
            if (length == 255)
                length += m_input->Byte();
            std::string answer = m_input->Bytes(length);
            m_pending.assign(answer.begin(), answer.end());
            return;
        }
        if (kind == 0x01) {
            // Command mode: the model and hard-reset answers are 4 bytes, the
            // version's 9.
            if (command == 0x34)
                m_pending = {0x01, 0x34, 0x07, 0xC4};
            else if (command == 0x33)
                m_pending = {0x01, 0x33, 0x00, 0x02, 0x00, 0x0A, 0x01, 0x2C, 0x93};
            else
                m_pending = {0x01, 0x1D, 0x02, 0xE0};
            return;
        }
        unsigned char sum = static_cast<unsigned char>(command + 0x01 + 0x06);
        m_pending = {0x02, command, 0x00, 0x01, 0x06, 0x00, sum, 0x03};
    }

    fuzz::Input *m_input = nullptr;
    bool m_failReopen = false;
    int m_opens = 0;
    std::deque<unsigned char> m_pending;
};

const char kPort[] = "/dev/ttyS4";  // not the internal radio: no power switching
// The receiver records every sleep; a fresh one now and then keeps memory flat.
const int kRunsPerReceiver = 4096;

std::shared_ptr<ScriptedRadio> g_radio = std::make_shared<ScriptedRadio>();
std::unique_ptr<sim::Receiver> g_receiver;
int g_runs = 0;

void RenewReceiver()
{
    if (g_receiver && ++g_runs < kRunsPerReceiver)
        return;
    if (!g_receiver)
        fuzz::SilenceStandardOutput();
    g_runs = 0;
    g_receiver.reset();
    sim::ReceiverOptions options = fuzz::FastReceiverOptions();
    g_receiver = std::make_unique<sim::Receiver>(options);
    g_receiver->AddDevice(kPort, g_radio);
}

// A bootloader frame and its answer, checked as the load sequence does.
void Exchange(LOADER_ENV &env, const unsigned char *frame, unsigned long length, unsigned long answerLength,
              unsigned char command, unsigned timeoutMs)
{
    unsigned char answer[ANSWER_BUFFER_SIZE];
    memset(answer, 0xA5, sizeof answer);
    SendComPortBlock(&env, frame, length);
    unsigned long count = ReceiveComPort(&env, reinterpret_cast<char *>(answer), answerLength, timeoutMs);
    if (count > answerLength || answer[count] != 0)
        abort();
    IsAcknowledged(answer, count, command);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RenewReceiver();
    fuzz::Input input(data, size);
    const uint8_t flags = input.Byte();
    g_radio->Load(&input, flags & 1);
    gl_debug_level = 2 + (flags >> 1) % 3;

    LOADER_ENV env;
    memset(&env, 0, sizeof env);
    env.log_fd = -1;
    env.port_name = kPort;
    env.speed_name = DEFAULT_SPEED;
    env.image_size = 1 + ((flags >> 3) & 3) * BLOCK_SIZE;
    env.image = static_cast<unsigned char *>(calloc(env.image_size, 1));
    env.block_count = (env.image_size + BLOCK_SIZE - 1) / BLOCK_SIZE;
    if (OpenSerialPort(&env) < 0)
        abort();

    int entered = SwitchToPOCMode(&env);
    if (entered < 0) {
        // The port could not be reopened and the power-off has run.
        if (env.image != nullptr)
            abort();
        return 0;
    }
    if (entered == 1) {
        unsigned char frame[MAX_FRAME_LENGTH];
        unsigned long length = 0;
        unsigned long answerLength = FormatCREATEFILEcommand(frame, length, &env);
        Exchange(env, frame, length, answerLength, COMMAND_CREATEFILE, 200);
        answerLength = FormatSETBAUDRATEcommand(frame, length, 115200);
        Exchange(env, frame, length, answerLength, COMMAND_SETBAUDRATE, 100);
        Download(&env);
        answerLength = FormatRESETcommand(frame, length);
        Exchange(env, frame, length, answerLength, COMMAND_RESET, 10000);
    }
    CloseSerialPort(&env);
    free(env.image);
    return 0;
}
