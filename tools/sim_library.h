// What orva-sim hands the simulated liborva_api.so: the sim options, in one
// environment variable.
#ifndef ORVA_TOOLS_SIM_LIBRARY_H
#define ORVA_TOOLS_SIM_LIBRARY_H

#include <string>
#include <vector>

const char kOptionsVariable[] = "ORVA_SIM_OPTIONS";
// The shipped library's soname, which the simulated build carries too.
const char kSimulatedSoname[] = ORVA_API_SONAME;

// Options are joined by the ASCII unit separator, which no option contains.
inline std::string EncodeOptions(const std::vector<std::string> &options)
{
    std::string encoded;
    for (const std::string &option : options)
        encoded += (encoded.empty() ? "" : "\x1f") + option;
    return encoded;
}

inline std::vector<std::string> DecodeOptions(const std::string &encoded)
{
    std::vector<std::string> options;
    if (encoded.empty())
        return options;
    size_t start = 0;
    for (;;) {
        size_t end = encoded.find('\x1f', start);
        options.push_back(encoded.substr(start, end - start));
        if (end == std::string::npos)
            return options;
        start = end + 1;
    }
}

#endif
