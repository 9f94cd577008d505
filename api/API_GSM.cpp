#include "API_GSM.h"

#include <string.h>

// Modem answers may carry zero bytes (binary data in socket mode), so strstr
// cannot be used.
extern "C" char *MyStrStr(char *data, unsigned long length, char *pattern)
{
    if (data == nullptr || pattern == nullptr)
        return nullptr;
    size_t pattern_length = strlen(pattern);
    if (pattern_length == 0 || pattern_length > length)
        return nullptr;
    for (unsigned long position = 0; position <= length - pattern_length; position++) {
        if (memcmp(data + position, pattern, pattern_length) == 0)
            return data + position;
    }
    return nullptr;
}
