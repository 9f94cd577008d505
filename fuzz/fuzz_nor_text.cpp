// The validity tests of text and blank parameters read from the NOR flash,
// over bytes as the flash may hold them.
//
// Input: a length byte, then the parameter's bytes (the length is cut to what
// the input holds, as the callers pass their buffer's size).
#include <stdlib.h>

#include <vector>

#include "API_Errors.h"
#include "API_NOR.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::TheReceiver();  // for its silenced output
    fuzz::Input input{data, size};
    size_t wanted = input.Byte();
    std::string bytes = input.Rest();
    if (wanted > bytes.size())
        wanted = bytes.size();
    // An exact-size copy: a test reading one byte too far shows up.
    std::vector<char> parameter(bytes.begin(), bytes.begin() + static_cast<long>(wanted));
    const int length = static_cast<int>(wanted);

    int text = API_NOR_Check_String_Param(parameter.data(), length);
    // A valid text ends within the given bytes.
    if (text == API_ERR_NONE && memchr(parameter.data(), '\0', wanted) == nullptr)
        abort();
    if (text != API_ERR_NONE && text != API_ERR_NOR_PARAMETER_INVALID_STRING)
        abort();

    int blank = API_NOR_Check_Blank_Param(parameter.data(), length);
    bool erased = length > 0;
    for (char c : parameter)
        erased = erased && static_cast<unsigned char>(c) == 0xFF;
    if ((blank == API_ERR_NOR_PARAMETER_NOT_INITIALIZED) != erased)
        abort();
    return 0;
}
