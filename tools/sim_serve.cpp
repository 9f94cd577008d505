#include "sim_serve.h"

#ifdef ORVA_SIM_SERVE
#include <dlfcn.h>
#endif

// Defined when the server is linked in (the benchmarks); otherwise the module
// brings it.
extern "C" simsession::LiveServer *orva_sim_serve_new(simsession::ServeHost *host) __attribute__((weak));

namespace simsession {

namespace {

const char kModule[] = "liborva_sim_serve.so";

}  // namespace

bool ServeSupported()
{
#ifdef ORVA_SIM_SERVE
    return true;
#else
    return false;
#endif
}

std::unique_ptr<LiveServer> LoadLiveServer(ServeHost &host, std::string *error)
{
#ifndef ORVA_SIM_SERVE
    (void)host;
    *error = "this build has no live page (cpp-httplib was not found when it was configured)";
    return nullptr;
#else
    using Factory = LiveServer *(*)(ServeHost *);
    Factory factory = orva_sim_serve_new;
    if (!factory) {
        // Beside the library this code is part of.
        Dl_info self{};
        std::string path = kModule;
        if (dladdr(reinterpret_cast<void *>(&LoadLiveServer), &self) && self.dli_fname) {
            std::string library = self.dli_fname;
            path = library.substr(0, library.rfind('/') + 1) + kModule;
        }
        // Its own names stay its own (RTLD_LOCAL); it is never unloaded.
        void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module)
            factory = reinterpret_cast<Factory>(dlsym(module, "orva_sim_serve_new"));
        if (!factory) {
            // NOLINTNEXTLINE(concurrency-mt-unsafe): while the session starts, before the program's threads
            const char *why = dlerror();
            *error = "cannot load the live page's server " + path + ": " + (why ? why : "no entry");
            return nullptr;
        }
    }
    return std::unique_ptr<LiveServer>(factory(&host));
#endif
}

}  // namespace simsession
