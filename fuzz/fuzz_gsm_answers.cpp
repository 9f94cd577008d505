// The modem's text as the GSM unit reads it: the receive task with its
// command answers, "CONNECT", payload and the ends of a stream, and the
// answers the status, signal, operator, band, class, IMEI and version queries
// and the WIP commands parse (their error numbers included).
//
// Input: a flags byte, then steps.  Each step is an operation byte and, where
// the modem is to say something unasked, a length-prefixed chunk (a length
// byte, then that many bytes).  Answers to commands are taken the same way;
// once the input is used up the modem answers as it normally does.
#include <stdlib.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "API_GSM.h"
#include "API_NOR.h"
#include "API_SYS.h"
#include "fuzz_support.h"
#include "internal/API_GSM.h"
#include "scripted_line.h"
#include "unit_reset.h"
#include "sim/nor_flash.h"
#include "sim/pmu.h"
#include "sim/receiver.h"

namespace {

fuzz::Input *g_input = nullptr;

std::string NextChunk(fuzz::Input &input)
{
    size_t length = input.Byte();
    return input.Bytes(length);
}

// Each line framed by CR LF on both sides, as the modem sends them.
std::string Lines(const std::string &lines)
{
    std::string framed;
    size_t start = 0;
    for (;;) {
        size_t end = lines.find('\n', start);
        framed += "\r\n" + lines.substr(start, end == std::string::npos ? end : end - start) + "\r\n";
        if (end == std::string::npos)
            return framed;
        start = end + 1;
    }
}

std::string NormalAnswer(const std::string &command)
{
    static const std::map<std::string, std::string> kAnswers = {
        {"AT+CIND?\r", "+CIND: 3,4,1,0,0,0,0\nOK"},
        {"AT+CPAS\r", "+CPAS: 0\nOK"},
        {"AT+WSTR=1\r", "+WSTR: 1,2\nOK"},
        {"AT+WSTR=2\r", "+WSTR: 2,1\nOK"},
        {"AT+CSQ\r", "+CSQ: 18,99\nOK"},
        {"AT+COPS?\r", "+COPS: 0,0,\"Orange F\",0\nOK"},
        {"AT+WWSM?\r", "+WWSM: 2\nOK"},
        {"AT+WMBS?\r", "+WMBS: 5,0\nOK"},
        {"AT+CGCLASS?\r", "+CGCLASS: \"CG\"\nOK"},
        {"AT+WIMEI?\r", "+WIMEI: 351234567890123\nOK"},
        {"AT+CGMR\r", "746a09gg.Q2687H 1566912 031209 17:40\nOK"},
    };
    auto known = kAnswers.find(command);
    if (known != kAnswers.end())
        return Lines(known->second);
    if (command.rfind("AT+WIPCREATE=", 0) == 0)
        return Lines("OK\n+WIPREADY: 1,1");
    if (command.rfind("AT+WIPDATA=", 0) == 0)
        return Lines("CONNECT");
    return Lines("OK");
}

std::vector<std::string> Answer(const std::string &written)
{
    // Payload on the socket gets no answer.
    if (b_CommandMode.load() == 0 && written != "+++")
        return {};
    if (g_input != nullptr && g_input->Left() > 0)
        return {NextChunk(*g_input)};
    return {NormalAnswer(written)};
}

fuzz::ScriptedLine &Start()
{
    static fuzz::ScriptedLine *line = [] {
        fuzz::SilenceStandardOutput();
        static sim::Receiver receiver(fuzz::FastReceiverOptions());
        receiver.AddDevice("/dev/pmu", std::make_shared<sim::Pmu>());
        receiver.AddDevice("/dev/mtd3", std::make_shared<sim::NorFlash>());
        // Never destroyed: the task stays blocked in the line's read until the process is gone.
        static auto *modem = new std::shared_ptr<fuzz::ScriptedLine>(fuzz::ScriptedLine::At(receiver, "/dev/ttyS1"));
        (*modem)->SetAnswerer(Answer);
        unitreset::OpenPmu();
        API_NOR_Init();
        int result = API_SYS_CreateTask(1, 10);
        if (result == 0)
            result = API_GSM_Initialize();
        if (result == 0)
            result = API_GSM_PSD_SetAPN("internet");
        if (result == 0)
            result = API_GSM_PSD_SetLogin("user");
        if (result == 0)
            result = API_GSM_PSD_SetPassword("secret");
        if (result != 0) {
            fprintf(stderr, "GSM start-up failed: %d\n", result);
            abort();
        }
        return modem->get();
    }();
    return *line;
}

void CheckText(const char *text, size_t size)
{
    if (memchr(text, '\0', size) == nullptr)
        abort();
}

void ReadBack()
{
    // In command mode the read would first return to data mode, whose
    // "CONNECT" empties the ring: the read would then wait for new payload.
    if (b_CommandMode.load() != 0 || i_WPtr.load() == i_RPtr.load())
        return;
    char data[GSM_RING_SIZE];
    int received = -1;
    if (API_GSM_PSD_ReadData(data, static_cast<int>(sizeof data), &received) == 0 &&
        (received < 0 || received >= GSM_RING_SIZE))
        abort();
}

void Query(int which)
{
    switch (which) {
    case 0: {
        GsmStatus status;
        API_GSM_GetStatus(&status);
        break;
    }
    case 1: {
        int quality = 0;
        API_GSM_GetSignalStrength(&quality);
        float level = 0;
        API_GSM_GetLevel(&level);
        break;
    }
    case 2: {
        int technology = 0;
        char name[API_GSM_OPERATOR_NAME_SIZE];
        if (API_GSM_GetNetworkReceived(&technology, name) == 0)
            CheckText(name, sizeof name);
        break;
    }
    case 3: {
        int value = 0;
        API_GSM_GetNetworkSelected(&value);
        API_GSM_GetBand(&value);
        API_GSM_GetProtocol(&value);
        break;
    }
    case 4: {
        int length = 0;
        if (API_GSM_GetIMEI(nullptr, &length) == 0) {
            char imei[API_GSM_IMEI_SIZE];
            if (length < 1 || length > API_GSM_IMEI_SIZE)
                abort();
            API_GSM_GetIMEI(imei, &length);
            CheckText(imei, sizeof imei);
        }
        break;
    }
    default: {
        int versionLength = 0, moduleLength = 0;
        if (API_GSM_GetVersion(nullptr, &versionLength, nullptr, &moduleLength) == 0) {
            char version[API_GSM_VERSION_SIZE];
            char module[API_GSM_MODULE_SIZE];
            if (versionLength < 1 || versionLength > API_GSM_VERSION_SIZE || moduleLength < 1 ||
                moduleLength > API_GSM_MODULE_SIZE)
                abort();
            API_GSM_GetVersion(version, &versionLength, module, &moduleLength);
        }
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::ScriptedLine &line = Start();
    fuzz::Input input(data, size);
    const uint8_t flags = input.Byte();

    // The task waits for the line: the unit's state is set between its reads.
    unitreset::Gsm();
    b_GSM_API_Initialized = 1;
    GSMprotocol = flags & 1 ? 0 : 1;
    g_input = &input;

    while (input.Left() > 0) {
        uint8_t operation = input.Byte();
        switch (operation % 8) {
        case 0:
            line.Deliver(NextChunk(input));
            break;
        case 1:
            Query(operation / 8 % 6);
            break;
        case 2:
            API_GSM_PSD_ConnectBearer();
            break;
        case 3:
            b_PSD_BearerConnected = 1;
            API_GSM_PSD_OpenSocketByIP(operation & 8 ? API_GSM_PSD_UDP : API_GSM_PSD_TCP, "192.0.2.1", 2101);
            break;
        case 4:
            ReadBack();
            break;
        case 5: {
            std::string payload = NextChunk(input);
            int written = 0;
            API_GSM_PSD_WriteData(payload.data(), static_cast<int>(payload.size()), &written);
            break;
        }
        case 6:
            API_GSM_PSD_CloseSocket();
            break;
        default: {
            std::string command = "AT" + NextChunk(input) + "\r";
            API_GSM_SendCmd(command.c_str());
            break;
        }
        }
    }
    ReadBack();
    g_input = nullptr;
    return 0;
}
