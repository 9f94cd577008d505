// orvaflash-sim [sim options] -- <orvaflash arguments>
//
// Runs the loader's own main over the simulated receiver: the session of
// orva-sim in-process, with the radio on the port the loader's arguments
// select and, when asked, a generated image at the file it opens.  The loader
// may leave through exit(), so the report is written at exit.
#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "internal/API_Init.h"
#include "orvaflash.h"
#include "sim_session.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned long kDemoImageSize = 70 * 1024 + 300;

// Deterministic bytes: an application image starts 0xCA 0xFE.
class ImageBytes {
public:
    explicit ImageBytes(unsigned long seed) : m_state(seed * 2654435761u + 0x9E3779B9u) {}
    unsigned char Next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return static_cast<unsigned char>(m_state >> 24);
    }

private:
    uint64_t m_state;
};

void GenerateImage(const simsession::Options &options)
{
    std::string host = simsession::HostPath(options.imageFile);
    std::error_code ignored;
    fs::create_directories(fs::path(host).parent_path(), ignored);
    // Never through a link to a host file.
    fs::remove(host, ignored);
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    if (!out)
        simsession::Fail("orvaflash-sim", "cannot write the image " + host);
    ImageBytes bytes(options.imageSeed);
    std::vector<char> chunk;
    chunk.reserve(1 << 16);
    auto flushChunk = [&] {
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        chunk.clear();
    };
    auto emit = [&](unsigned long long count, unsigned char first, unsigned char second) {
        for (unsigned long long i = 0; i < count; ++i) {
            unsigned char byte = i == 0 ? first : i == 1 ? second : bytes.Next();
            chunk.push_back(static_cast<char>(byte));
            if (chunk.size() == chunk.capacity())
                flushChunk();
        }
    };
    if (options.bootloaderImage)
        emit(BOOTLOADER_PART_SIZE, 0xDE, 0xAD);
    emit(static_cast<unsigned long long>(options.imageSize), 0xCA, 0xFE);
    flushChunk();
    if (!out.flush())
        simsession::Fail("orvaflash-sim", "cannot write the image " + host);
}

}  // namespace

int main(int argc, char **argv)
{
    simsession::Options options = simsession::ParseOrExit(simsession::Tool::Orvaflash, "orvaflash-sim", argc, argv);
    if (options.demo && options.imageSize < 0)
        options.imageSize = kDemoImageSize;
    if (options.imageFile.empty())
        options.imageFile = DEFAULT_FILE;

    std::vector<char *> loaderArgv;
    static char programName[] = "orvaflash";
    loaderArgv.push_back(programName);
    for (std::string &argument : options.programArguments)
        loaderArgv.push_back(&argument[0]);
    loaderArgv.push_back(nullptr);
    int loaderArgc = static_cast<int>(loaderArgv.size() - 1);

    // The loader's own reading of its arguments says which port and file it uses.
    LOADER_ENV env{};
    bool runs = ParseCommandLine(&env, loaderArgc, loaderArgv.data()) == COMMAND_LINE_RUN;
    simsession::Setup setup;
    setup.tool = "orvaflash-sim";
    setup.radioLines = {PORT_D, PORT_A, PORT_F, PORT_B};
    setup.internalRadioPort = INTERNAL_RADIO_PORT;
    setup.defaultRadioPort = runs ? env.port_name : DEFAULT_PORT;
    for (const API_DevName &row : a_devnames)
        setup.boardPaths.push_back(row.path);
    if (runs && options.imageSize < 0)
        setup.hostFiles.push_back(env.file_name);
    simsession::Start(options, setup);

    if (options.imageSize >= 0)
        GenerateImage(options);
    if (options.demo)
        fprintf(stderr, "sim: demo: a %lld-byte image at %s, loaded with the default arguments\n", options.imageSize,
                options.imageFile.c_str());
    int status = OrvaflashMain(loaderArgc, loaderArgv.data());
    if (options.demo) {
        // A demo passes only when the radio holds the image it was sent.
        simsession::Finish();
        if (status == 0 && !simsession::EveryImageVerified())
            status = 1;
    }
    return status;
}
