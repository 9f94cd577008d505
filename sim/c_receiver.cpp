#include "sim/c_receiver.h"

#include <stdio.h>

#include <exception>
#include <memory>

#include "sim/receiver.h"
#include "sim/standard_board.h"

namespace {

struct CReceiver {
    explicit CReceiver(const sim::ReceiverOptions &options) : receiver(options), board(receiver) {}
    sim::Receiver receiver;
    sim::StandardBoard board;
};

std::unique_ptr<CReceiver> g_receiver;

}  // namespace

extern "C" int SimReceiver_Start(const char *sandbox_or_null)
{
    if (g_receiver)
        return -1;
    sim::ReceiverOptions options;
    if (sandbox_or_null)
        options.sandbox = sandbox_or_null;
    options.timeScale = 0.01;
    try {
        g_receiver = std::make_unique<CReceiver>(options);
    } catch (const std::exception &error) {
        fprintf(stderr, "simulated receiver: %s\n", error.what());
        return -1;
    }
    return 0;
}

extern "C" void SimReceiver_Stop(void) { g_receiver.reset(); }

extern "C" const char *SimReceiver_Root(void) { return g_receiver ? g_receiver->receiver.Root().c_str() : nullptr; }
