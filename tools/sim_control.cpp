#include "sim_control.h"

#include <ctype.h>
#include <errno.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <initializer_list>

#include "sim/gsm_services.h"
#include "sim/pushbuttons.h"
#include "sim/standard_board.h"

namespace simsession {

// What the actions remember between them.
struct ControlState {
    bool usbPlugged = false;
    bool ppsOn = false;
    uint64_t ppsTrain = 0;
    double batteryVolts = 7.40;  // the PMU's power-up values
    uint16_t eventStatus = 0;
    // The modem's network side as the services start: indicators battery,
    // signal, service, message, call, roam, SMS full.
    std::vector<int> indicators{3, 4, 1, 0, 0, 0, 0};
    std::string operatorName = "ORVANET";
    bool registered = true;
};

// An action being carried out, with what it may reach.
struct ControlContext {
    Control &control;
    sim::StandardBoard &board;
    sim::GsmServices &gsm;
    Timeline &timeline;
    ControlState &state;
    ReceiverMs now;  // when the action began

    void Later(ReceiverMs ms, const Action &action) { control.Schedule(ms, true, action, nullptr); }
    void PulseAt(ReceiverMs ms, uint64_t train)
    {
        control.Schedule(ms, false, Action{}, [ms, train, &control = control] { control.Pulse(train, ms); });
    }
};

namespace {

struct Result {
    bool done;
    std::string text;
};
Result Done(const std::string &text) { return {true, text}; }
Result Refused(const std::string &text) { return {false, text}; }

// ---- Values ---------------------------------------------------------------------

std::vector<std::string> Split(const std::string &text, char separator)
{
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

bool Keyword(const std::string &value, std::initializer_list<const char *> words, Action &action)
{
    int index = 0;
    for (const char *word : words) {
        if (value == word) {
            action.choice = index;
            return true;
        }
        ++index;
    }
    return false;
}

bool Number(const std::string &text, double low, double high, double *value)
{
    if (text.empty() || isspace(static_cast<unsigned char>(text[0])))
        return false;
    char *end = nullptr;
    errno = 0;
    double parsed = text.compare(0, 2, "0x") == 0 ? static_cast<double>(strtoll(text.c_str(), &end, 16))
                                                  : strtod(text.c_str(), &end);
    if (errno || *end || !isfinite(parsed) || parsed < low || parsed > high)
        return false;
    *value = parsed;
    return true;
}

bool Whole(const std::string &text, long low, long high, int *value)
{
    double parsed;
    if (!Number(text, static_cast<double>(low), static_cast<double>(high), &parsed) || parsed != floor(parsed))
        return false;
    *value = static_cast<int>(parsed);
    return true;
}

// "\r", "\n", "\t", "\\" and "\xNN" stand for their bytes.
bool Unescape(const std::string &text, std::string *bytes, std::string *reason)
{
    bytes->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *bytes += text[i];
            continue;
        }
        char next = i + 1 < text.size() ? text[i + 1] : '\0';
        static const char kNames[] = "rnt\\", kBytes[] = "\r\n\t\\";
        const char *simple = strchr(kNames, next);
        if (next && simple) {
            *bytes += kBytes[simple - kNames];
            ++i;
        } else if (next == 'x' && i + 3 < text.size() && isxdigit(static_cast<unsigned char>(text[i + 2])) &&
                   isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            *bytes += static_cast<char>(strtol(text.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            *reason = "unknown escape \"\\" + std::string(next ? 1 : 0, next) + "\" (use \\r \\n \\t \\\\ \\xNN)";
            return false;
        }
    }
    if (bytes->empty())
        *reason = "no bytes to send";
    return !bytes->empty();
}

bool Address(const std::string &text)
{
    if (text.size() != 17)
        return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (i % 3 == 2 ? text[i] != ':' : !isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

const char *Button(const Action &action) { return action.choice == 0 ? "record" : "scroll"; }

void SetButton(ControlContext &c, const Action &action, int state)
{
    if (action.choice == 0)
        c.board.pushbuttons->SetRecord(state);
    else
        c.board.pushbuttons->SetScroll(state);
}

// Battery 0: whole volts, hundredths, level (0xFE for each: no battery).
void SetBattery(ControlContext &c, int level)
{
    long hundredths = lround(c.state.batteryVolts * 100);
    c.board.pmu->SetSource0(static_cast<uint8_t>(hundredths / 100), static_cast<uint8_t>(hundredths % 100),
                            static_cast<uint8_t>(level));
}

// ---- Drivers' signals -----------------------------------------------------------

// Why a driver's signal would not reach the program now; empty when it would.
// The drivers signal the process that holds "/dev/gpio", and a signal without
// a handler would end the program.
std::string Unsignalled(ControlContext &c, int signal)
{
    if (c.board.gpio->OpenDescriptors() == 0)
        return "nothing holds /dev/gpio open";
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN)
        return std::string("the program has no ") + (signal == SIGIO ? "SIGIO" : "SIGUSR2") + " handler";
    return "";
}

// The GPIO driver's event word and SIGUSR2; a note for the outcome.
std::string RaiseEvent(ControlContext &c, uint32_t bit)
{
    char note[32];
    snprintf(note, sizeof note, "event 0x%02X", bit);
    std::string why = Unsignalled(c, SIGUSR2);
    if (!why.empty())
        return std::string(" (no ") + note + ": " + why + ")";
    c.board.gpio->RaiseEvents(bit);
    return std::string(", ") + note + " with SIGUSR2";
}

std::string RaiseSigio(ControlContext &c)
{
    std::string why = Unsignalled(c, SIGIO);
    if (!why.empty())
        return " (no SIGIO: " + why + ")";
    c.board.gpio->RaiseSigio();
    return ", SIGIO";
}

// A change of the PMU's measurements comes with a power event once the
// program has enabled them.
std::string PowerEvent(ControlContext &c)
{
    if (!c.board.pmu->State().powerEventsEnabled)
        return " (no power event: the program has not enabled them)";
    c.board.pmu->SetEventStatus(c.state.eventStatus);
    return RaiseEvent(c, 0x40);
}

// A presence file and SIGIO.
Result Presence(ControlContext &c, const std::string &path, bool present, const std::string &what)
{
    sim::Receiver &receiver = c.board.receiver;
    if (receiver.FileExists(path) == present)
        return Refused(what + (present ? " is already there" : " is not there"));
    if (present)
        receiver.CreateFile(path);
    else
        receiver.RemoveFile(path);
    return Done(what + (present ? " appeared" : " went away") + RaiseSigio(c));
}

// ---- The table --------------------------------------------------------------------

struct Row {
    ActionInfo info;
    // False with the reason; the caller adds the accepted values.
    bool (*parse)(const std::string &value, Action &action, std::string &reason);
    Result (*perform)(ControlContext &c, const Action &action);
};

bool ParseButton(const std::string &value, Action &action, std::string &)
{
    return Keyword(value, {"record", "scroll"}, action);
}

const char *const kSimCards[] = {"ready", "pin", "puk", "absent", "busy"};

const Row kRows[] = {
    // Push buttons.
    {{"press", "buttons", "record|scroll", "hold a push button down"},
     ParseButton,
     [](ControlContext &c, const Action &a) {
         SetButton(c, a, 1);
         return Done(std::string(Button(a)) + " button pressed");
     }},
    {{"release", "buttons", "record|scroll", "let a push button go"},
     ParseButton,
     [](ControlContext &c, const Action &a) {
         SetButton(c, a, 0);
         return Done(std::string(Button(a)) + " button released");
     }},
    {{"click", "buttons", "record|scroll[,MS]", "press a button and release it MS ms later (default 100)"},
     [](const std::string &value, Action &a, std::string &reason) {
         std::vector<std::string> parts = Split(value, ',');
         int ms = 100;
         if (parts.size() > 2 || !Keyword(parts[0], {"record", "scroll"}, a))
             return false;
         if (parts.size() == 2 && !Whole(parts[1], 1, 600000, &ms)) {
             reason = "the time is a whole number of ms from 1 to 600000";
             return false;
         }
         a.number = ms;
         return true;
     },
     [](ControlContext &c, const Action &a) {
         SetButton(c, a, 1);
         Action release;
         release.name = "release";
         release.value = Button(a);
         release.choice = a.choice;
         c.Later(c.now + static_cast<ReceiverMs>(a.number), release);
         char text[64];
         snprintf(text, sizeof text, "%s button pressed, released in %.0f ms", Button(a), a.number);
         return Done(text);
     }},
    {{"boot-buttons", "buttons", "none|record|scroll|both",
      "the buttons the boot sequence found held (the program reads them once)"},
     [](const std::string &value, Action &a, std::string &) {
         return Keyword(value, {"none", "record", "scroll", "both"}, a);
     },
     [](ControlContext &c, const Action &a) {
         sim::SetBootButtons(*c.board.nor, a.choice & 1, (a.choice & 2) >> 1);
         return Done("buttons held at boot: " + a.value);
     }},

    // Power.
    {{"power-source", "power", "battery|external", "the PMU's power source (0 battery, 2 external supply)"},
     [](const std::string &value, Action &a, std::string &) {
         return Keyword(value, {"battery", "external"}, a);
     },
     [](ControlContext &c, const Action &a) {
         c.board.pmu->SetPowerSource(a.choice == 0 ? 0 : 2);
         return Done(std::string("power source ") + (a.choice == 0 ? "battery (0)" : "external supply (2)") +
                     PowerEvent(c));
     }},
    {{"battery", "power", "PERCENT|absent", "level of battery 0, 0 to 100, or no battery"},
     [](const std::string &value, Action &a, std::string &reason) {
         int level;
         if (Keyword(value, {"absent"}, a))
             return true;
         if (!Whole(value, 0, 100, &level)) {
             reason = "a level is a whole percentage from 0 to 100";
             return false;
         }
         a.number = level;
         return true;
     },
     [](ControlContext &c, const Action &a) {
         if (a.choice == 0) {
             c.board.pmu->SetSource0(0xFE, 0, 0xFE);
             return Done("battery removed" + PowerEvent(c));
         }
         SetBattery(c, static_cast<int>(a.number));
         return Done("battery at " + a.value + " %" + PowerEvent(c));
     }},
    {{"battery-voltage", "power", "VOLTS", "voltage of battery 0, 0 to 99.99 V"},
     [](const std::string &value, Action &a, std::string &reason) {
         if (Number(value, 0, 99.99, &a.number))
             return true;
         reason = "a voltage from 0 to 99.99";
         return false;
     },
     [](ControlContext &c, const Action &a) {
         c.state.batteryVolts = a.number;
         uint8_t level = c.board.pmu->Data(0x8A);
         SetBattery(c, level == 0xFE ? 85 : level);  // a battery put back comes at the power-up level
         char text[48];
         snprintf(text, sizeof text, "battery at %.2f V", a.number);
         return Done(text + PowerEvent(c));
     }},
    {{"charger", "power", "present|absent", "a charger on the receiver (the PMU's first charge indicator)"},
     [](const std::string &value, Action &a, std::string &) {
         return Keyword(value, {"present", "absent"}, a);
     },
     [](ControlContext &c, const Action &a) {
         c.board.pmu->SetChargeIndicators(a.choice == 0 ? 1 : 0, 0);
         return Done("charger " + a.value + PowerEvent(c));
     }},
    {{"temperature", "power", "CELSIUS", "the PMU's temperature, -30 to 225"},
     [](const std::string &value, Action &a, std::string &reason) {
         if (Number(value, -30, 225, &a.number))
             return true;
         reason = "a temperature from -30 to 225";
         return false;
     },
     [](ControlContext &c, const Action &a) {
         long hundredths = lround(a.number * 100);
         long whole = static_cast<long>(floor(static_cast<double>(hundredths) / 100));
         c.board.pmu->SetTemperatureBytes(static_cast<uint8_t>(whole + 30),
                                          static_cast<uint8_t>(hundredths - whole * 100));
         char text[48];
         snprintf(text, sizeof text, "temperature %.2f C", static_cast<double>(hundredths) / 100);
         return Done(text + PowerEvent(c));
     }},
    {{"power-event", "power", "STATUS", "the PMU raises a power event with this 16-bit status word (0x0012 ...)"},
     [](const std::string &value, Action &a, std::string &reason) {
         int status;
         if (Whole(value, 0, 0xFFFF, &status)) {
             a.number = status;
             return true;
         }
         reason = "a status word from 0 to 0xFFFF";
         return false;
     },
     [](ControlContext &c, const Action &a) {
         if (!c.board.pmu->State().powerEventsEnabled)
             return Refused("the program has not enabled power events (PMU command 0x7E)");
         c.state.eventStatus = static_cast<uint16_t>(a.number);
         char text[40];
         snprintf(text, sizeof text, "status 0x%04X", c.state.eventStatus);
         c.board.pmu->SetEventStatus(c.state.eventStatus);
         return Done(text + RaiseEvent(c, 0x40));
     }},

    // USB.
    {{"usb", "usb", "plugged|unplugged", "the cable of the device port, to a computer"},
     [](const std::string &value, Action &a, std::string &) {
         return Keyword(value, {"plugged", "unplugged"}, a);
     },
     [](ControlContext &c, const Action &a) {
         bool plug = a.choice == 0;
         if (c.state.usbPlugged == plug)
             return Refused(plug ? "the cable is already plugged" : "the cable is not plugged");
         c.state.usbPlugged = plug;
         return Done(std::string("device port ") + (plug ? "connected" : "disconnected") +
                     RaiseEvent(c, plug ? 0x02 : 0x04));
     }},
    {{"usb-disk", "usb", "inserted|removed",
      "a disk on the host port (\"/dev/sda1\"); the USB data partition's check then finds it mounted"},
     [](const std::string &value, Action &a, std::string &) {
         return Keyword(value, {"inserted", "removed"}, a);
     },
     [](ControlContext &c, const Action &a) { return Presence(c, "/dev/sda1", a.choice == 0, "disk /dev/sda1"); }},
    {{"usb-serial", "usb", "connected|disconnected",
      "the serial gadget's link to a computer (\"/sys/class/tty/ttyUSB0\" to 4)"},
     [](const std::string &value, Action &a, std::string &) {
         return Keyword(value, {"connected", "disconnected"}, a);
     },
     [](ControlContext &c, const Action &a) {
         sim::Receiver &receiver = c.board.receiver;
         bool connect = a.choice == 0;
         if (receiver.FileExists("/sys/class/tty/ttyUSB0") == connect)
             return Refused(connect ? "the serial gadget is already connected" : "the serial gadget is not connected");
         for (int port = 0; port < 5; ++port) {
             std::string path = "/sys/class/tty/ttyUSB" + std::to_string(port);
             connect ? receiver.CreateFile(path) : receiver.RemoveFile(path);
         }
         return Done(std::string("ttyUSB0 to ttyUSB4 ") + (connect ? "appeared" : "went away") + RaiseSigio(c));
     }},

    // Ethernet and the GNSS receiver.
    {{"ethernet", "ethernet", "up|down", "the Ethernet link (\"/var/netlink\")"},
     [](const std::string &value, Action &a, std::string &) {
         return Keyword(value, {"up", "down"}, a);
     },
     [](ControlContext &c, const Action &a) {
         return Presence(c, "/var/netlink", a.choice == 0, "link marker /var/netlink");
     }},
    {{"pps", "gnss", "on|off|pulse", "the PPS pulse train, one pulse per receiver second, or one pulse now"},
     [](const std::string &value, Action &a, std::string &) {
         return Keyword(value, {"on", "off", "pulse"}, a);
     },
     [](ControlContext &c, const Action &a) {
         if (a.choice == 2)
             return Done("one pulse" + RaiseEvent(c, 0x01));
         bool on = a.choice == 0;
         if (c.state.ppsOn == on)
             return Refused(on ? "the pulses are already on" : "the pulses are off");
         c.state.ppsOn = on;
         if (!on)
             return Done("pulses stopped");
         ++c.state.ppsTrain;
         ReceiverMs next = (c.now / 1000 + 1) * 1000;
         c.PulseAt(next, c.state.ppsTrain);
         return Done("pulses every second from " + std::to_string(next) + " ms");
     }},

    // Bluetooth.
    {{"bt-link", "bluetooth", "open[,ADDRESS]|close",
      "a remote device opens the serial link (default address 00:11:22:33:44:55), or hangs up"},
     [](const std::string &value, Action &a, std::string &reason) {
         std::vector<std::string> parts = Split(value, ',');
         if (parts.size() > 2 || !Keyword(parts[0], {"open", "close"}, a) || (a.choice == 1 && parts.size() > 1))
             return false;
         a.text = parts.size() > 1 ? parts[1] : "00:11:22:33:44:55";
         if (Address(a.text))
             return true;
         reason = "an address is six hex bytes, 00:11:22:33:44:55";
         return false;
     },
     [](ControlContext &c, const Action &a) {
         sim::BluetoothModule &module = *c.board.bluetooth;
         if (a.choice == 1)
             return module.Disconnect() ? Done("link closed") : Refused("no link is up");
         if (module.Connect(a.text))
             return Done("link opened from " + a.text);
         if (module.LinkUp())
             return Refused("a link is already up");
         if (!module.ProfileOpen())
             return Refused("no application has opened the Bluetooth server");
         return Refused("the module is restarting or its line is not set up");
     }},
    {{"bt-data", "bluetooth", "TEXT", "the remote sends these bytes"},
     [](const std::string &value, Action &a, std::string &reason) { return Unescape(value, &a.text, &reason); },
     [](ControlContext &c, const Action &a) {
         if (!c.board.bluetooth->SendData(a.text))
             return Refused("no link is up");
         return Done(std::to_string(a.text.size()) + " bytes from the remote");
     }},

    // GSM.
    {{"gsm-sim", "gsm", "ready|pin:NNNN|puk|absent|busy",
      "the SIM card: ready, asking for a PIN (4 to 8 digits), for its PUK, none, busy"},
     [](const std::string &value, Action &a, std::string &reason) {
         if (value.compare(0, 4, "pin:") == 0) {
             a.choice = 1;
             a.text = value.substr(4);
             if (a.text.size() >= 4 && a.text.size() <= 8 &&
                 a.text.find_first_not_of("0123456789") == std::string::npos)
                 return true;
             reason = "a PIN is 4 to 8 digits";
             return false;
         }
         return value != "pin" && Keyword(value, {"ready", "pin", "puk", "absent", "busy"}, a);
     },
     [](ControlContext &c, const Action &a) {
         const sim::SimCard cards[] = {sim::SimCard::Ready, sim::SimCard::Pin, sim::SimCard::Puk, sim::SimCard::Absent,
                                       sim::SimCard::Busy};
         if (a.choice == 1)
             c.board.gsm->SetPin(a.text);
         c.board.gsm->SetSim(cards[a.choice]);
         return Done(std::string("SIM ") + (a.choice == 1 ? "asks for PIN " + a.text : kSimCards[a.choice]));
     }},
    {{"gsm-network", "gsm", "registered|roaming|searching", "the modem's registration"},
     [](const std::string &value, Action &a, std::string &) {
         return Keyword(value, {"registered", "roaming", "searching"}, a);
     },
     [](ControlContext &c, const Action &a) {
         bool registered = a.choice != 2;
         c.state.registered = registered;
         c.state.indicators[2] = registered;
         c.state.indicators[5] = a.choice == 1;
         c.gsm.SetNetworkStatus(registered);
         if (registered)
             c.gsm.Register(c.state.operatorName, c.state.operatorName.substr(0, 8), "20899", 0);
         else
             c.gsm.Unregister();
         std::string digits;
         for (int value : c.state.indicators)
             digits += (digits.empty() ? "" : ",") + std::to_string(value);
         c.gsm.SetIndicators(digits);
         return Done(registered ? "registered on " + c.state.operatorName + (a.choice == 1 ? ", roaming" : "")
                                : std::string("searching for a network"));
     }},
    {{"gsm-operator", "gsm", "NAME", "the operator's name (up to 16 characters, no quote or comma)"},
     [](const std::string &value, Action &a, std::string &reason) {
         bool plain = std::all_of(value.begin(), value.end(), [](char ch) {
             return isprint(static_cast<unsigned char>(ch)) && ch != '"' && ch != ',';
         });
         if (!value.empty() && value.size() <= 16 && plain) {
             a.text = value;
             return true;
         }
         reason = "a name of 1 to 16 printable characters without quote or comma";
         return false;
     },
     [](ControlContext &c, const Action &a) {
         c.state.operatorName = a.text;
         if (!c.state.registered)
             return Done("operator " + a.text + " (shown once registered)");
         c.gsm.Register(a.text, a.text.substr(0, 8), "20899", 0);
         return Done("registered on " + a.text);
     }},
    {{"gsm-signal", "gsm", "RSSI[,BER]", "signal quality: RSSI 0 to 31 or 99 (unknown), BER 0 to 7 or 99 (default)"},
     [](const std::string &value, Action &a, std::string &reason) {
         std::vector<std::string> parts = Split(value, ',');
         int rssi = 0, ber = 99;
         bool good = parts.size() <= 2 && Whole(parts[0], 0, 99, &rssi) && (rssi <= 31 || rssi == 99) &&
                     (parts.size() == 1 || (Whole(parts[1], 0, 99, &ber) && (ber <= 7 || ber == 99)));
         if (!good) {
             reason = "RSSI 0 to 31 or 99, BER 0 to 7 or 99";
             return false;
         }
         a.numbers = {rssi, ber};
         return true;
     },
     [](ControlContext &c, const Action &a) {
         int rssi = a.numbers[0];
         // Bars as the indicator shows them: 0 to 2 none, then one per 5 steps up to 5.
         int bars = rssi == 99 ? 0 : std::min(5, (rssi + 2) / 5);
         c.state.indicators[1] = bars;
         std::string digits;
         for (int value : c.state.indicators)
             digits += (digits.empty() ? "" : ",") + std::to_string(value);
         c.gsm.SetSignalQuality(std::to_string(rssi) + "," + std::to_string(a.numbers[1]));
         c.gsm.SetIndicators(digits);
         return Done("signal " + std::to_string(rssi) + "," + std::to_string(a.numbers[1]) + " (" +
                     std::to_string(bars) + " bars)");
     }},
    {{"gsm-indicators", "gsm", "B,S,V,M,C,R,F",
      "the modem's indicators: battery 0-5, signal 0-5, service 0-1, message 0-1, call 0-1, roam 0-1, SMS full 0-2"},
     [](const std::string &value, Action &a, std::string &reason) {
         const int kHighest[] = {5, 5, 1, 1, 1, 1, 2};
         std::vector<std::string> parts = Split(value, ',');
         reason = "seven numbers within 5,5,1,1,1,1,2";
         if (parts.size() != 7)
             return false;
         a.numbers.clear();
         for (size_t i = 0; i < parts.size(); ++i) {
             int digit;
             if (!Whole(parts[i], 0, kHighest[i], &digit))
                 return false;
             a.numbers.push_back(digit);
         }
         return true;
     },
     [](ControlContext &c, const Action &a) {
         c.state.indicators = a.numbers;
         c.gsm.SetIndicators(a.value);
         return Done("indicators " + a.value);
     }},
    {{"gsm-call", "gsm", "ring|hangup",
      "an incoming data call rings (answered when the program set automatic pick-up), or the remote hangs up"},
     [](const std::string &value, Action &a, std::string &) {
         return Keyword(value, {"ring", "hangup"}, a);
     },
     [](ControlContext &c, const Action &a) {
         if (a.choice == 1) {
             if (!c.gsm.CallUp())
                 return Refused("no call is up");
             c.gsm.RemoteHangUp();
             return Done("the remote hung up (NO CARRIER)");
         }
         if (!c.board.pmu->State().gsmPower)
             return Refused("the modem is switched off");
         if (c.gsm.CallUp() || c.gsm.Socket().open)
             return Refused("the modem is busy with a call or a socket");
         int rings = c.gsm.RingsToAnswer();
         c.gsm.IncomingCall();
         if (rings == 0)
             return Done("3 rings, unanswered (automatic pick-up is off)");
         return Done(std::to_string(rings) + (rings == 1 ? " ring" : " rings") + ", answered (CONNECT)");
     }},
    {{"gsm-data", "gsm", "TEXT", "the far end of the open socket or call sends these bytes"},
     [](const std::string &value, Action &a, std::string &reason) { return Unescape(value, &a.text, &reason); },
     [](ControlContext &c, const Action &a) {
         if (!c.gsm.PeerSend(a.text))
             return Refused("no socket or call carries data");
         return Done(std::to_string(a.text.size()) + " bytes from the far end");
     }},
    {{"gsm-socket", "gsm", "close", "the peer of the open socket closes it"},
     [](const std::string &value, Action &a, std::string &) { return Keyword(value, {"close"}, a); },
     [](ControlContext &c, const Action &) {
         if (!c.gsm.Socket().open)
             return Refused("no socket is open");
         c.gsm.PeerClose();
         return Done("the peer closed socket 1");
     }},
};

const Row *Find(const std::string &name)
{
    for (const Row &row : kRows)
        if (name == row.info.name)
            return &row;
    return nullptr;
}

}  // namespace

const std::vector<ActionInfo> &Actions()
{
    static const std::vector<ActionInfo> actions = [] {
        std::vector<ActionInfo> infos;
        for (const Row &row : kRows)
            infos.push_back(row.info);
        return infos;
    }();
    return actions;
}

std::string ActionListing()
{
    std::string listing = "Actions, as --at TIME NAME=VALUE (TIME: 2s, 1500ms):\n";
    std::string group;
    for (const ActionInfo &info : Actions()) {
        if (group != info.group) {
            group = info.group;
            listing += "\n" + group + ":\n";
        }
        char line[512];
        snprintf(line, sizeof line, "  %-15s %-32s %s\n", info.name, info.values, info.help);
        listing += line;
    }
    return listing + "\nTEXT takes the escapes \\r \\n \\t \\\\ and \\xNN.\n";
}

bool Parse(const std::string &text, Action *action, std::string *error)
{
    size_t equals = text.find('=');
    std::string name = text.substr(0, equals);
    const Row *row = Find(name);
    if (!row) {
        *error = "unknown action \"" + name + "\" (orva-sim --list-actions lists them)";
        return false;
    }
    if (equals == std::string::npos) {
        *error = "\"" + name + "\" needs a value: " + name + "=" + row->info.values;
        return false;
    }
    Action parsed;
    parsed.name = name;
    parsed.value = text.substr(equals + 1);
    std::string reason;
    if (!row->parse(parsed.value, parsed, reason)) {
        *error = "bad value \"" + parsed.value + "\" for " + name + (reason.empty() ? "" : ": " + reason) +
                 " (accepted: " + row->info.values + ")";
        return false;
    }
    *action = std::move(parsed);
    return true;
}

Control::Control(BenchParts parts) : m_parts(parts), m_state(std::make_unique<ControlState>()) {}

Control::~Control() { Stop(); }

Outcome Control::Perform(const std::string &text)
{
    Action action;
    std::string error;
    if (!Parse(text, &action, &error)) {
        Outcome outcome{m_parts.timeline.Now(), false, text, error};
        m_parts.timeline.Publish("action", outcome.Line(), outcome.ms);
        return outcome;
    }
    return Perform(action);
}

Outcome Control::Perform(const Action &action)
{
    std::lock_guard<std::mutex> lock(m_performMutex);
    Outcome outcome{m_parts.timeline.Now(), false, action.Text(), "unknown action"};
    if (const Row *row = Find(action.name)) {
        ControlContext context{*this, m_parts.board, m_parts.gsm, m_parts.timeline, *m_state, outcome.ms};
        Result result = row->perform(context, action);
        outcome.done = result.done;
        outcome.text = result.text;
    }
    m_parts.timeline.Publish("action", outcome.Line(), outcome.ms);
    return outcome;
}

void Control::PerformAt(ReceiverMs ms, const Action &action, std::function<void(const Outcome &)> done)
{
    Schedule(ms, true, action, [this, action, done = std::move(done)] {
        Outcome outcome = Perform(action);
        if (done)
            done(outcome);
    });
}

std::vector<std::pair<ReceiverMs, Action>> Control::Pending() const
{
    std::vector<std::pair<ReceiverMs, Action>> pending;
    {
        std::lock_guard<std::mutex> lock(m_scheduleMutex);
        for (const Task &task : m_tasks)
            if (task.isAction)
                pending.emplace_back(task.ms, task.action);
    }
    std::stable_sort(pending.begin(), pending.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    return pending;
}

std::vector<std::pair<ReceiverMs, Action>> Control::Stop()
{
    std::vector<std::pair<ReceiverMs, Action>> pending;
    std::thread scheduler;
    {
        std::lock_guard<std::mutex> lock(m_scheduleMutex);
        for (const Task &task : m_tasks)
            if (task.isAction)
                pending.emplace_back(task.ms, task.action);
        m_stopped = true;
        m_tasks.clear();
        scheduler = std::move(m_scheduler);
    }
    m_scheduleChanged.notify_all();
    if (scheduler.joinable())
        scheduler.join();
    std::stable_sort(pending.begin(), pending.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    return pending;
}

void Control::Schedule(ReceiverMs ms, bool isAction, const Action &action, std::function<void()> run)
{
    if (!run) {
        // An action scheduled by another (a click's release): performed, not reported.
        run = [this, action] { Perform(action); };
    }
    std::lock_guard<std::mutex> lock(m_scheduleMutex);
    if (m_stopped)
        return;
    m_tasks.push_back(Task{ms, m_order++, isAction, action, std::move(run)});
    if (!m_scheduler.joinable())
        m_scheduler = QuietThread([this] { RunScheduler(); });
    m_scheduleChanged.notify_all();
}

void Control::RunScheduler()
{
    std::unique_lock<std::mutex> lock(m_scheduleMutex);
    while (!m_stopped) {
        if (m_tasks.empty()) {
            m_scheduleChanged.wait(lock);
            continue;
        }
        // The earliest, and of two at one time the first given.
        auto next = std::min_element(m_tasks.begin(), m_tasks.end(), [](const Task &a, const Task &b) {
            return a.ms != b.ms ? a.ms < b.ms : a.order < b.order;
        });
        if (m_parts.timeline.Now() < next->ms) {
            m_scheduleChanged.wait_until(lock, m_parts.timeline.HostTime(next->ms));
            continue;
        }
        Task task = std::move(*next);
        m_tasks.erase(next);
        lock.unlock();
        task.run();
        lock.lock();
    }
}

void Control::Pulse(uint64_t train, ReceiverMs ms)
{
    std::lock_guard<std::mutex> lock(m_performMutex);
    if (!m_state->ppsOn || m_state->ppsTrain != train)
        return;
    ControlContext context{*this, m_parts.board, m_parts.gsm, m_parts.timeline, *m_state, m_parts.timeline.Now()};
    m_parts.timeline.Publish("gnss", "PPS pulse" + RaiseEvent(context, 0x01), context.now);
    // A pulse is never made up for: a late one is followed by the next whole second.
    context.PulseAt(std::max(ms + 1000, (m_parts.timeline.Now() / 1000 + 1) * 1000), train);
}

}  // namespace simsession
