// Prints the API's error texts from worker threads: the C++ of a receiver
// application (threads, a mutex, strings, a static local) over liborva_api.a.
#include <stdio.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "API_Errors.h"

namespace {

std::string Text(int code)
{
    static const std::string unknown = "?";
    char text[API_ERROR_TEXT_SIZE];
    return API_Errors_GetErrorText(code, text) == 0 ? std::string(text) : unknown;
}

}  // namespace

int main()
{
    std::mutex lock;
    std::vector<std::string> texts(4);
    std::vector<std::thread> threads;
    for (int code = 0; code < 4; ++code)
        threads.emplace_back([&, code] {
            std::string text = Text(code);
            std::lock_guard<std::mutex> held(lock);
            texts[code] = text;
        });
    for (std::thread &thread : threads)
        thread.join();
    for (const std::string &text : texts)
        printf("%s\n", text.c_str());
    return texts[0].empty() ? 1 : 0;
}
