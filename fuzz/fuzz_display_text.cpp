// Text on the display: the small font at its four sizes with user characters,
// the proportional font plain and stretched, at any position and scale and
// with any bytes as text.  Definitions and drawings add up across inputs
// until a restart operation.
//
// Input: an operation byte, x and y (32 bits each), a size byte, a scale
// (the 4 bytes of a float: NaN and infinities included), then the text, or
// for a definition the character code and the glyph's 16-bit elements.
#include <stdlib.h>

#include <memory>
#include <vector>

#include "API_Display.h"
#include "fuzz_support.h"
#include "internal/API_Display.h"
#include "sim/display.h"
#include "unit_reset.h"

namespace {

// A blank display with no user characters, as the process starts it.
void RestartDisplay()
{
    API_Display_Close();
    unitreset::Display();
    if (API_Display_Reset() != 0)
        abort();
}

void DefineCharacter(fuzz::Input &input, unsigned size)
{
    static const int kElements[4] = {3, 9, 35, 140};
    unsigned char code = input.Byte();
    // Exactly as many elements as the size takes: reading one more shows up.
    std::vector<int> bits(static_cast<size_t>(kElements[size % 4]));
    for (int &element : bits)
        element = input.Take<int32_t>();
    API_Display_SetuserCharacter(code, size, bits.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool started = (fuzz::TheReceiver().AddDevice("/dev/display", std::make_shared<sim::Display>()),
                           RestartDisplay(), true);
    (void)started;
    fuzz::Input input{data, size};
    const uint8_t operation = input.Byte();
    const int x = input.Take<int32_t>();
    const int y = input.Take<int32_t>();
    const unsigned textSize = input.Byte();
    const float scale = input.Take<float>();
    switch (operation % 6) {
    // Sizes beyond 3 are refused; the low ones are where the drawing is.
    case 0: API_Display_PrintText(x, y, textSize % 5, input.Rest().c_str()); break;
    case 1: API_Display_PrintText2(x, y, input.Rest().c_str()); break;
    case 2: API_Display_PrintText3(x, y, scale, input.Rest().c_str()); break;
    case 3: DefineCharacter(input, textSize % 4); break;
    // Sizes and codes outside the ranges, with a table of the right size.
    case 4: DefineCharacter(input, textSize); break;
    default: RestartDisplay(); break;
    }
    return 0;
}
