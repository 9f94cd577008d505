#include "sim/standard_board.h"

namespace sim {

StandardBoard::StandardBoard(Receiver &receiver_) : receiver(receiver_) {}

}  // namespace sim
