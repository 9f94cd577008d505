// The Bluetooth module's text as the unit's receive task takes it, with a
// reader that stalls and resumes (the ring fills and the task waits for
// room) and hardware resets in between.
//
// Input: a flags byte (the unit's mode flags), then steps: an operation byte
// and, where the module speaks, length-prefixed chunks.  Answers to commands
// are taken the same way; once the input is used up the module answers as
// it normally does.
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "API_Bluetooth.h"
#include "fuzz_support.h"
#include "internal/API_Bluetooth.h"
#include "sim/pmu.h"
#include "unit_reset.h"

namespace {

fuzz::Input *g_input = nullptr;

std::vector<std::string> Answer(const std::string &written)
{
    if (g_input != nullptr && g_input->Left() > 0)
        return {g_input->Chunk()};
    if (written == "SET\n")
        return {"SET BT BDADDR 00:07:80:12:34:56\r\nSET BT NAME Receiver\r\nSET BT CLASS 001f00\r\n"
                "SET BT AUTH * 5820\r\nSET PROFILE SPP Bluetooth Serial Port\r\nSET\r\n"};
    if (written == "INFO\n")
        return {"Module\r\nFirmware version 4.1.0\r\nREADY.\r\n"};
    return {written == "+++" || written == "RESET\n" ? "READY.\r\n" : ""};
}

int Unread() { return (bt::i_WPtr.load() - bt::i_RPtr.load() + bt::BT_RING_SIZE) % bt::BT_RING_SIZE; }

fuzz::ScriptedLine &Start()
{
    static fuzz::ScriptedLine *line = [] {
        fuzz::TheReceiver().AddDevice("/dev/pmu", std::make_shared<sim::Pmu>());
        unitreset::OpenPmu();
        fuzz::ScriptedLine &module = fuzz::ScriptedLine::Start("/dev/ttyS3", Answer,
                                                               [] { return Unread() == bt::BT_RING_SIZE - 1; });
        if (API_Bluetooth_Init() != 0)
            abort();
        return &module;
    }();
    return *line;
}

// The reader resumes for a moment; it never waits for data, so it can stall again.
void ReadBack(int size)
{
    static char data[1 + 255 * 16];
    int count = -1;
    if (Unread() > 0 && API_Bluetooth_ReadData(data, size, &count) == 0 && (count < 0 || count > size))
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::ScriptedLine &line = Start();
    fuzz::Input input{data, size};
    const uint8_t flags = input.Byte();
    // What the last input left in a full ring is read off first: a task still
    // waiting for room there would never see the ring emptied under it.
    bt::b_ConnectionStatus = 1;
    bt::b_ExitDataMode = 0;
    for (int round = 0; round < 1000 && Unread() > 0; ++round) {
        ReadBack(1 + 255 * 16);
        line.Deliver("");
    }
    // The task waits for the line: the unit's state is set between its reads.
    bt::i_WPtr = bt::i_RPtr = 0;
    bt::b_ConnectionStatus = flags & 1;
    bt::b_ExitDataMode = (flags >> 1) & 1;
    bt::b_RestaureDataMode = 0;
    bt::b_switchToCommandModeRequested = (flags >> 2) & 1;
    bt::b_switchToDataModeRequested = (flags >> 3) & 1;
    bt::b_EnablePinRequest = (flags >> 4) & 1;
    g_input = &input;
    while (input.Left() > 0) {
        const uint8_t operation = input.Byte();
        char text[API_BLUETOOTH_COMMAND_MAX + 1];
        int length = 0;
        switch (operation % 8) {
        case 0: {  // data in bulk: the chunk repeated, so that a short input fills the ring
            std::string chunk = input.Chunk();
            for (int repeat = operation / 8; repeat >= 0; --repeat)
                line.Deliver(chunk);
            break;
        }
        case 1:
            API_Bluetooth_GetVersion(nullptr, &length);
            API_Bluetooth_GetVersion(text, &length);
            break;
        case 2:
            bt::b_GotBTParameters = bt::b_GotDevName = bt::b_GotDevType = bt::b_GotMacAddress = bt::b_GotPinCode = 0;
            API_Bluetooth_GetDeviceName(text, &length);
            API_Bluetooth_GetPIN(text, &length);
            break;
        case 3: ReadBack(1 + input.Byte() * 16); break;
        case 4: {
            std::string payload = input.Chunk();
            API_Bluetooth_WriteData(payload.data(), static_cast<int>(payload.size()), &length);
            break;
        }
        case 5: s_BluetoothSendCmd(("CALL " + input.Chunk()).c_str()); break;
        case 6: API_Bluetooth_Reset(); break;
        default: line.Deliver("READY.\r\n"); break;
        }
    }
    // The task is freed for the next input: the link ends and what was still
    // on its way is read in command mode.
    g_input = nullptr;
    ReadBack(1 + 255 * 16);
    API_Bluetooth_Reset();
    line.Deliver("");
    return 0;
}
