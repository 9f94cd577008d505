// The Bluetooth module's text as the unit's receive task takes it: link
// events, data and "NO CARRIER" in data mode, answers in command mode, and the
// settings listing and version answer as the settings operations parse them.
// The reader stalls and resumes, so the ring fills and the task waits for
// room, and a hardware reset may end the link meanwhile.
//
// Input: a flags byte, then steps.  Each step is an operation byte and, where
// the module is to say something, length-prefixed chunks (a length byte,
// then that many bytes, times the repeat the operation byte gives).  Answers
// to commands are taken the same way; once the input is used up the module
// answers as it normally does.
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "API_Bluetooth.h"
#include "fuzz_support.h"
#include "internal/API_Bluetooth.h"
#include "scripted_line.h"
#include "sim/pmu.h"
#include "unit_reset.h"
#include "sim/receiver.h"

namespace {

const char kCrLf[] = "\r\n";
constexpr int kMostRead = 1 + 255 * 16;

fuzz::Input *g_input = nullptr;

std::string NextChunk(fuzz::Input &input)
{
    size_t length = input.Byte();
    return input.Bytes(length);
}

std::string NormalAnswer(const std::string &command)
{
    if (command == "+++" || command == "RESET\n" || command.rfind("INFO", 0) == 0)
        return command == "INFO\n" ? std::string("Module") + kCrLf + "Firmware version 4.1.0" + kCrLf + "READY." + kCrLf
                                   : std::string("READY.") + kCrLf;
    if (command == "SET\n")
        return std::string("SET BT BDADDR 00:07:80:12:34:56") + kCrLf + "SET BT NAME Receiver" + kCrLf +
               "SET BT CLASS 001f00" + kCrLf + "SET BT AUTH * 5820" + kCrLf +
               "SET PROFILE SPP Bluetooth Serial Port" + kCrLf + "SET" + kCrLf;
    return "";
}

std::vector<std::string> Answer(const std::string &written)
{
    if (g_input != nullptr && g_input->Left() > 0)
        return {NextChunk(*g_input)};
    return {NormalAnswer(written)};
}

int Unread() { return (bt::i_WPtr.load() - bt::i_RPtr.load() + bt::BT_RING_SIZE) % bt::BT_RING_SIZE; }

fuzz::ScriptedLine &Start()
{
    static fuzz::ScriptedLine *line = [] {
        fuzz::SilenceStandardOutput();
        static sim::Receiver receiver(fuzz::FastReceiverOptions());
        receiver.AddDevice("/dev/pmu", std::make_shared<sim::Pmu>());
        unitreset::OpenPmu();
        // Never destroyed: the task stays blocked in the line's read until the process is gone.
        static auto *module = new std::shared_ptr<fuzz::ScriptedLine>(fuzz::ScriptedLine::At(receiver, "/dev/ttyS3"));
        (*module)->SetAnswerer(Answer);
        (*module)->SetHeldUp([] { return Unread() == bt::BT_RING_SIZE - 1; });
        if (int result = API_Bluetooth_Init()) {
            fprintf(stderr, "Bluetooth start-up failed: %d\n", result);
            abort();
        }
        return module->get();
    }();
    return *line;
}

// A field the settings operations hand out whole: terminated within its size.
void CheckText(const char *field, size_t size)
{
    if (memchr(field, '\0', size) == nullptr)
        abort();
}

// The reader resumes for a moment; it never waits for data, so it can stall
// again at once.
void ReadBack(int size)
{
    if (Unread() == 0)
        return;
    char data[kMostRead];
    int count = -1;
    int result = API_Bluetooth_ReadData(data, size, &count);
    if (result == 0 && (count < 0 || count > size || count > bt::BT_RING_SIZE - 1))
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::ScriptedLine &line = Start();
    fuzz::Input input(data, size);
    const uint8_t flags = input.Byte();

    // The task waits for the line: the unit's state is set between its reads.
    bt::i_WPtr = 0;
    bt::i_RPtr = 0;
    bt::b_ConnectionStatus = flags & 1;
    bt::b_ExitDataMode = (flags >> 1) & 1;
    bt::b_RestaureDataMode = 0;
    bt::b_switchToCommandModeRequested = (flags >> 2) & 1;
    bt::b_switchToDataModeRequested = (flags >> 3) & 1;
    bt::b_EnablePinRequest = (flags >> 4) & 1;
    g_input = &input;

    while (input.Left() > 0) {
        const uint8_t operation = input.Byte();
        switch (operation % 8) {
        case 0: {
            // Data in bulk: the chunk repeated, so that a short input fills the ring.
            std::string chunk = NextChunk(input);
            for (int repeat = operation / 8; repeat >= 0; --repeat)
                line.Deliver(chunk);
            break;
        }
        case 1: {
            int length = 0;
            API_Bluetooth_GetVersion(nullptr, &length);
            char version[API_BLUETOOTH_VERSION_MAX + 1];
            API_Bluetooth_GetVersion(version, &length);
            CheckText(version, sizeof version);
            break;
        }
        case 2: {
            bt::b_GotBTParameters = 0;
            bt::b_GotDevName = bt::b_GotDevType = bt::b_GotMacAddress = bt::b_GotPinCode = 0;
            char name[API_BLUETOOTH_NAME_MAX + 1];
            char type[API_BLUETOOTH_TYPE_MAX + 1];
            char pin[API_BLUETOOTH_PIN_MAX + 1];
            unsigned char address[6];
            int length = 0;
            if (API_Bluetooth_GetDeviceName(name, &length) == 0)
                CheckText(name, sizeof name);
            if (API_Bluetooth_GetType(type, &length) == 0)
                CheckText(type, sizeof type);
            if (API_Bluetooth_GetPIN(pin, &length) == 0)
                CheckText(pin, sizeof pin);
            API_Bluetooth_GetMACAddress(address);
            break;
        }
        case 3:
            ReadBack(1 + input.Byte() * 16);
            break;
        case 4: {
            int written = 0;
            std::string payload = NextChunk(input);
            API_Bluetooth_WriteData(payload.data(), static_cast<int>(payload.size()), &written);
            break;
        }
        case 5: {
            // A command of the application's own, e.g. a remote's address.
            std::string command = "CALL " + NextChunk(input);
            s_BluetoothSendCmd(command.c_str());
            break;
        }
        case 6:
            API_Bluetooth_Reset();
            break;
        default:
            line.Deliver(std::string("READY.") + kCrLf);
            break;
        }
    }
    // The task is freed for the next input: the link ends and what was
    // still on its way is read in command mode.
    g_input = nullptr;
    ReadBack(kMostRead);
    API_Bluetooth_Reset();
    line.Deliver("");
    return 0;
}
