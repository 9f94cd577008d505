// Looking for parts of a console text or a log.
#ifndef ORVA_TESTS_TEXT_SEARCH_H
#define ORVA_TESTS_TEXT_SEARCH_H

#include <string>
#include <vector>

namespace textsearch {

// How often part occurs, without overlaps.
inline size_t Count(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

// Whether the parts occur in this order.
inline bool InOrder(const std::string &text, const std::vector<std::string> &parts)
{
    size_t at = 0;
    for (const std::string &part : parts) {
        at = text.find(part, at);
        if (at == std::string::npos)
            return false;
        at += part.size();
    }
    return true;
}

}  // namespace textsearch

#endif
