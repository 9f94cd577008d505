// The configuration file "/etc/ts9_api.cfg" as the start-up parses it: at most
// 1024 bytes of any content against the interface table.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz_support.h"
#include "internal/API_Init.h"
#include "unit_reset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static API_DevName defaults[API_DEVNAME_COUNT];
    static bool saved = (memcpy(defaults, a_devnames, sizeof a_devnames), true);
    (void)saved;
    unitreset::Init();
    // The start-up reads the file into its 1024-byte buffer and parses what it got.
    std::string text(reinterpret_cast<const char *>(data), size > 1024 ? 1024 : size);
    s_ParseConfig(text.data(), text.size());

    for (int row = 0; row < API_DEVNAME_COUNT; ++row) {
        const API_DevName &now = a_devnames[row];
        const API_DevName &before = defaults[row];
        // Only paths change, and a path stays a text of at most 29 characters
        // taken from the file.
        if (now.number != before.number || now.major != before.major || now.minor != before.minor ||
            memcmp(now.name, before.name, sizeof now.name) != 0)
            abort();
        if (memchr(now.path, '\0', API_DEVNAME_FIELD) == nullptr || strlen(now.path) > API_CONFIG_TOKEN_MAX)
            abort();
        if (strcmp(now.path, before.path) != 0 && text.find(now.path) == std::string::npos)
            abort();
    }
    return 0;
}
