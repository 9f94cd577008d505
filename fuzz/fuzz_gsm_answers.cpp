// The modem's text as the GSM unit reads it: the receive task with its
// command answers, "CONNECT", payload and the ends of a stream, and the
// answers the queries and the WIP commands parse.
//
// Input: a flags byte, then steps: an operation byte and, where the modem
// speaks unasked, a length-prefixed chunk.  Answers to commands are taken the
// same way; once the input is used up the modem answers as it normally does.
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
#include "sim/nor_flash.h"
#include "sim/pmu.h"
#include "unit_reset.h"

namespace {

fuzz::Input *g_input = nullptr;

std::string NormalAnswer(const std::string &command)
{
    static const std::map<std::string, std::string> kAnswers = {
        {"AT+CIND?\r", "+CIND: 3,4,1,0,0,0,0"},
        {"AT+CPAS\r", "+CPAS: 0"},
        {"AT+WSTR=1\r", "+WSTR: 1,2"},
        {"AT+WSTR=2\r", "+WSTR: 2,1"},
        {"AT+CSQ\r", "+CSQ: 18,99"},
        {"AT+COPS?\r", "+COPS: 0,0,\"Orange F\",0"},
        {"AT+WWSM?\r", "+WWSM: 2"},
        {"AT+WMBS?\r", "+WMBS: 5,0"},
        {"AT+CGCLASS?\r", "+CGCLASS: \"CG\""},
        {"AT+WIMEI?\r", "+WIMEI: 351234567890123"},
        {"AT+CGMR\r", "746a09gg.Q2687H 1566912 031209 17:40"},
    };
    auto known = kAnswers.find(command);
    if (known != kAnswers.end())
        return "\r\n" + known->second + "\r\n\r\nOK\r\n";
    if (command.rfind("AT+WIPCREATE=", 0) == 0)
        return "\r\nOK\r\n\r\n+WIPREADY: 1,1\r\n";
    return command.rfind("AT+WIPDATA=", 0) == 0 ? "\r\nCONNECT\r\n" : "\r\nOK\r\n";
}

std::vector<std::string> Answer(const std::string &written)
{
    // Payload on the socket gets no answer.
    if (b_CommandMode.load() == 0 && written != "+++")
        return {};
    if (g_input != nullptr && g_input->Left() > 0)
        return {g_input->Chunk()};
    return {NormalAnswer(written)};
}

fuzz::ScriptedLine &Start()
{
    static fuzz::ScriptedLine *line = [] {
        fuzz::TheReceiver().AddDevice("/dev/pmu", std::make_shared<sim::Pmu>());
        fuzz::TheReceiver().AddDevice("/dev/mtd3", std::make_shared<sim::NorFlash>());
        fuzz::ScriptedLine &modem = fuzz::ScriptedLine::Start("/dev/ttyS1", Answer);
        unitreset::OpenPmu();
        API_NOR_Init();
        if (API_SYS_CreateTask(1, 10) != 0 || API_GSM_Initialize() != 0 || API_GSM_PSD_SetAPN("internet") != 0 ||
            API_GSM_PSD_SetLogin("user") != 0 || API_GSM_PSD_SetPassword("secret") != 0)
            abort();
        return &modem;
    }();
    return *line;
}

void ReadBack()
{
    // In command mode the read would first return to data mode, whose
    // "CONNECT" empties the ring: the read would then wait for new payload.
    static char data[GSM_RING_SIZE];
    int received = -1;
    if (b_CommandMode.load() == 0 && i_WPtr.load() != i_RPtr.load() &&
        API_GSM_PSD_ReadData(data, GSM_RING_SIZE, &received) == 0 && (received < 0 || received >= GSM_RING_SIZE))
        abort();
}

void Query(int which)
{
    int value = 0, length = 0;
    char text[API_GSM_OPERATOR_NAME_SIZE + API_GSM_IMEI_SIZE + API_GSM_VERSION_SIZE + API_GSM_MODULE_SIZE];
    GsmStatus status;
    float level = 0;
    switch (which) {
    case 0: API_GSM_GetStatus(&status); break;
    case 1:
        API_GSM_GetSignalStrength(&value);
        API_GSM_GetLevel(&level);
        break;
    case 2: API_GSM_GetNetworkReceived(&value, text); break;
    case 3:
        API_GSM_GetNetworkSelected(&value);
        API_GSM_GetBand(&value);
        API_GSM_GetProtocol(&value);
        break;
    case 4:
        if (API_GSM_GetIMEI(nullptr, &length) == 0)
            API_GSM_GetIMEI(text, &length);
        break;
    default:
        if (API_GSM_GetVersion(nullptr, &length, nullptr, &value) == 0)
            API_GSM_GetVersion(text, &length, text + API_GSM_VERSION_SIZE, &value);
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::ScriptedLine &line = Start();
    fuzz::Input input{data, size};
    const uint8_t flags = input.Byte();
    // The task waits for the line: the unit's state is set between its reads.
    unitreset::Gsm();
    b_GSM_API_Initialized = 1;
    GSMprotocol = flags & 1 ? 0 : 1;
    g_input = &input;
    while (input.Left() > 0) {
        uint8_t operation = input.Byte();
        int written = 0;
        switch (operation % 8) {
        case 0: line.Deliver(input.Chunk()); break;
        case 1: Query(operation / 8 % 6); break;
        case 2: API_GSM_PSD_ConnectBearer(); break;
        case 3:
            b_PSD_BearerConnected = 1;
            API_GSM_PSD_OpenSocketByIP(operation & 8 ? API_GSM_PSD_UDP : API_GSM_PSD_TCP, "192.0.2.1", 2101);
            break;
        case 4: ReadBack(); break;
        case 5: {
            std::string payload = input.Chunk();
            API_GSM_PSD_WriteData(payload.data(), static_cast<int>(payload.size()), &written);
            break;
        }
        case 6: API_GSM_PSD_CloseSocket(); break;
        default: API_GSM_SendCmd(("AT" + input.Chunk() + "\r").c_str()); break;
        }
    }
    ReadBack();
    g_input = nullptr;
    return 0;
}
