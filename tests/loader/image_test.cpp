// Reading, classifying and checking the firmware image file.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "Commun.h"
#include "loader_test_support.h"
#include "orvaflash.h"
#include "sim/receiver.h"

namespace {

using loader_test::Bytes;

uint32_t ZlibAdler(const unsigned char *data, unsigned long length)
{
    uLong sum = adler32(0L, Z_NULL, 0);
    // zlib takes uInt lengths: feed it in pieces.
    while (length > 0) {
        uInt piece = length > (1u << 30) ? (1u << 30) : static_cast<uInt>(length);
        sum = adler32(sum, data, piece);
        data += piece;
        length -= piece;
    }
    return static_cast<uint32_t>(sum);
}

Bytes Pattern(size_t size, unsigned seed = 1)
{
    std::mt19937 random(seed);
    Bytes bytes(size, '\0');
    for (char &byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

Bytes ApplicationFile(size_t size)
{
    Bytes file = Pattern(size);
    if (size > 0)
        file[0] = static_cast<char>(0xCA);
    if (size > 1)
        file[1] = static_cast<char>(0xFE);
    return file;
}

Bytes BootloaderFile(const Bytes &application)
{
    Bytes file = Pattern(BOOTLOADER_PART_SIZE, 7);
    file[0] = static_cast<char>(0xDE);
    file[1] = static_cast<char>(0xAD);
    return file + application;
}

class ImageFile : public ::testing::Test {
protected:
    void SetUp() override { gl_debug_level = 2; }
    void TearDown() override
    {
        free(env.image);
        gl_debug_level = 2;
    }

    int Load(const Bytes &contents)
    {
        receiver.CreateFile(DEFAULT_FILE, contents);
        testing::internal::CaptureStdout();
        int result = LoadImageFile(&env);
        output = testing::internal::GetCapturedStdout();
        return result;
    }

    sim::Receiver receiver;
    LOADER_ENV env = loader_test::FreshRecord();
    std::string output;
};

TEST_F(ImageFile, ApplicationFileIsTheImageWithBlockCountAndChecksum)
{
    const struct {
        size_t size;
        uint32_t blocks;
    } cases[] = {{2, 1}, {255, 1}, {256, 1}, {257, 2}, {512, 2}, {513, 3}};
    for (const auto &expected : cases) {
        SCOPED_TRACE(expected.size);
        Bytes file = ApplicationFile(expected.size);
        ASSERT_EQ(Load(file), 0) << output;
        EXPECT_EQ(env.image_size, expected.size);
        EXPECT_EQ(env.block_count, expected.blocks);
        EXPECT_EQ(env.file_id, 0u);
        EXPECT_EQ(Bytes(reinterpret_cast<char *>(env.image), env.image_size), file);
        EXPECT_EQ(env.checksum, ZlibAdler(env.image, env.image_size));
        free(env.image);
        env.image = nullptr;
    }
}

TEST_F(ImageFile, PrintsTheSummaryAndCountsAPartialBlockOnlyAtLevelFour)
{
    gl_debug_level = 4;
    ASSERT_EQ(Load(ApplicationFile(512)), 0);
    char checksum[64];
    snprintf(checksum, sizeof checksum, "\tchecksum : 0x%08X\n", env.checksum);
    EXPECT_EQ(output, "File /mnt/usbdisk/adl_fw.bin:\n\tloaded...\nApplication Image in .bin file\n"
                      "\tblock count : 0x0002 (2)\n" + std::string(checksum) +
                      "\timage size : 0x00000200 (512)\n");
    free(env.image);
    env.image = nullptr;
    ASSERT_EQ(Load(ApplicationFile(513)), 0);
    EXPECT_NE(output.find("\tcount++...\n\tblock count : 0x0003 (3)\n"), std::string::npos);
}

TEST_F(ImageFile, BootloaderFileSendsOnlyTheApplicationBehindIt)
{
    Bytes application = ApplicationFile(300);
    ASSERT_EQ(Load(BootloaderFile(application)), 0);
    EXPECT_NE(output.find("Bootloader image in .bin file AND Application Image in .bin file\n"), std::string::npos);
    EXPECT_EQ(env.image_size, 300u);
    EXPECT_EQ(env.block_count, 2u);
    EXPECT_EQ(Bytes(reinterpret_cast<char *>(env.image), env.image_size), application);
    EXPECT_EQ(env.checksum, ZlibAdler(reinterpret_cast<const unsigned char *>(application.data()), 300));
}

TEST_F(ImageFile, RefusesFilesWithoutAnApplicationImage)
{
    const struct {
        Bytes contents;
        const char *ending;
    } cases[] = {
        {"", "NO Application Image in .bin file"},
        {loader_test::B({0xCA}), "NO Application Image in .bin file"},
        {loader_test::B({0xCA, 0x00}) + Pattern(300), "NO Application Image in .bin file"},
        {loader_test::B({0xFE, 0xCA}) + Pattern(300), "NO Application Image in .bin file"},
        {BootloaderFile(loader_test::B({0xCA, 0xFF, 1, 2})), "BUT NO Application Image in .bin file"},
        {BootloaderFile(loader_test::B({0xCA})), "BUT NO Application Image in .bin file"},
        {BootloaderFile(""), "BUT NO Application Image in .bin file"},
    };
    for (const auto &refused : cases) {
        SCOPED_TRACE(refused.contents.size());
        EXPECT_EQ(Load(refused.contents), -1);
        EXPECT_EQ(env.image, nullptr);
        ASSERT_GE(output.size(), strlen(refused.ending));
        EXPECT_EQ(output.substr(output.size() - strlen(refused.ending)), refused.ending);
        if (std::string(refused.ending).rfind("BUT", 0) == 0) {
            EXPECT_NE(output.find("Bootloader image in .bin file BUT"), std::string::npos);
        }
    }
}

TEST_F(ImageFile, ReportsAMissingOrUnmeasurableFile)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(LoadImageFile(&env), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Can't open file /mnt/usbdisk/adl_fw.bin\n");

    // A FIFO cannot be measured by seeking.
    std::string fifo = receiver.HostPath("/tmp/fw.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int keepOpen = open(fifo.c_str(), O_RDWR);  // the loader's open must not block
    env.file_name = "/tmp/fw.fifo";
    testing::internal::CaptureStdout();
    EXPECT_EQ(LoadImageFile(&env), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFileLength = -1 !?!\n");
    close(keepOpen);
}

// The largest image the bootloader can be told about is 65535 blocks.
TEST_F(ImageFile, RefusesImagesBeyondTheSixteenBitBlockCount)
{
    Bytes largest = ApplicationFile(MAX_IMAGE_SIZE);
    ASSERT_EQ(Load(largest), 0);
    EXPECT_EQ(env.block_count, 0xFFFFu);
    EXPECT_EQ(env.checksum, ZlibAdler(env.image, env.image_size));
    free(env.image);
    env.image = nullptr;

    EXPECT_EQ(Load(largest + "x"), -1);
    EXPECT_NE(output.find("Image too large: 16776961 bytes"), std::string::npos) << output;
    EXPECT_EQ(env.image, nullptr);

    // No file longer than a bootloader and the largest image is read at all.
    EXPECT_EQ(Load(BootloaderFile(largest + "x")), -1);
    EXPECT_NE(output.find("Image too large: 16826369 bytes"), std::string::npos) << output;
    EXPECT_EQ(output.find("Bootloader image"), std::string::npos);
    EXPECT_EQ(env.image, nullptr);
}

// A file whose reads stop early, or whose size no buffer could hold.
class ShortFile : public sim::Device {
public:
    ShortFile(off_t size, size_t available) : m_size(size), m_available(available) {}
    off_t Lseek(off_t offset, int whence) override { return whence == SEEK_END ? m_size + offset : offset; }
    ssize_t Read(void *buffer, size_t size) override
    {
        reads++;
        size_t count = std::min(size, m_available - m_offset);
        memset(buffer, 0xCA, count);
        m_offset += count;
        return static_cast<ssize_t>(count);
    }
    std::atomic<int> reads{0};

private:
    off_t m_size;
    size_t m_available;
    size_t m_offset = 0;
};

TEST_F(ImageFile, ReportsAReadThatEndsBeforeTheFileSize)
{
    receiver.AddDevice(DEFAULT_FILE, std::make_shared<ShortFile>(1000, 600));
    testing::internal::CaptureStdout();
    EXPECT_EQ(LoadImageFile(&env), -1);
    output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("Read error on file /mnt/usbdisk/adl_fw.bin: 600 of 1000 bytes read\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(output.find("Application Image"), std::string::npos);
    EXPECT_EQ(env.image, nullptr);
}

TEST_F(ImageFile, RefusesAHugeFileBeforeReadingIt)
{
    auto huge = std::make_shared<ShortFile>(off_t(1) << 40, 0);
    receiver.AddDevice(DEFAULT_FILE, huge);
    testing::internal::CaptureStdout();
    EXPECT_EQ(LoadImageFile(&env), -1);
    output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("Image too large"), std::string::npos) << output;
    EXPECT_EQ(huge->reads, 0);
}

#if defined(__SANITIZE_ADDRESS__)
#define ORVA_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVA_UNDER_ASAN 1
#endif
#endif

// In a child process: room for what is mapped already and a little more, not
// for the image.  Exit status 3 when the load reports the failure.
void LoadUnderAddressSpaceLimit(LOADER_ENV *env)
{
    long pages = 0;
    FILE *statm = fopen("/proc/self/statm", "r");
    if (!statm || fscanf(statm, "%ld", &pages) != 1)
        _exit(2);
    fclose(statm);
    rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (4u << 20);
    struct rlimit space = {limit, limit};
    if (setrlimit(RLIMIT_AS, &space) != 0)
        _exit(2);
    int result = LoadImageFile(env);
    fflush(stdout);
    _exit(result == -1 ? 3 : 4);
}

TEST_F(ImageFile, ReportsAnImageThatDoesNotFitInMemory)
{
#ifdef ORVA_UNDER_ASAN
    GTEST_SKIP() << "the sanitizer's allocator cannot run under an address-space limit";
#endif
    receiver.AddDevice(DEFAULT_FILE, std::make_shared<ShortFile>(MAX_IMAGE_SIZE, MAX_IMAGE_SIZE));
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(LoadUnderAddressSpaceLimit(&env), ::testing::ExitedWithCode(3), "");
}

TEST(Adler32, AgreesWithZlib)
{
    EXPECT_EQ(ComputeAdler32(reinterpret_cast<const unsigned char *>("abc"), 3), 0x024D0127u);
    EXPECT_EQ(ComputeAdler32(nullptr, 0), 1u);
    // Lengths around the points where the sums must be reduced, random bytes
    // and all-0xFF bytes (the largest sums).
    for (size_t size : {1u, 5551u, 5552u, 5553u, 11104u, 100000u, 1u << 20}) {
        SCOPED_TRACE(size);
        Bytes random = Pattern(size, static_cast<unsigned>(size));
        Bytes ones(size, static_cast<char>(0xFF));
        for (const Bytes *data : {&random, &ones}) {
            auto bytes = reinterpret_cast<const unsigned char *>(data->data());
            EXPECT_EQ(ComputeAdler32(bytes, size), ZlibAdler(bytes, size));
        }
    }
}

}  // namespace
