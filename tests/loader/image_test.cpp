// Reading, classifying and checking the firmware image file.
#include <errno.h>
#include <malloc.h>
#include <stdio.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <memory>
#include <random>
#include <string>

#include "loader_test.h"

namespace {

using namespace loadertest;

uint32_t ZlibAdler(const Bytes &data)
{
    return static_cast<uint32_t>(
        adler32(1L, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size())));
}

Bytes Random(size_t size)
{
    std::mt19937 random(static_cast<unsigned>(size));
    Bytes bytes(size, '\0');
    for (char &byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

Bytes Application(size_t size) { return (B({0xCA, 0xFE}) + Random(size)).substr(0, size); }
Bytes WithBootloader(const Bytes &application)
{
    return B({0xDE, 0xAD}) + Random(BOOTLOADER_PART_SIZE - 2) + application;
}

// A file of `size` bytes starting with `head` (a size of -1: it cannot be
// sought) that delivers only `available` of them, after one interrupted read.
class File : public sim::Device {
public:
    File(off_t size, size_t available, Bytes head = B({0xCA, 0xFE})) : m_size(size), m_left(available), m_head(head) {}
    off_t Lseek(off_t offset, int whence) override
    {
        errno = ESPIPE;
        return m_size < 0 ? -1 : whence == SEEK_END ? m_size + offset : offset;
    }
    ssize_t Read(void *buffer, size_t size) override
    {
        errno = EINTR;
        if (!m_interrupted++)
            return -1;
        size_t count = std::min(size, m_left);
        for (size_t i = 0; i < count; i++, m_at++)
            static_cast<char *>(buffer)[i] = m_at < m_head.size() ? m_head[m_at] : 'Z';
        m_left -= count;
        return static_cast<ssize_t>(count);
    }

private:
    off_t m_size;
    size_t m_left;
    Bytes m_head;
    size_t m_at = 0;
    int m_interrupted = 0;
};

class ImageFile : public loadertest::RadioTest {
protected:
    int Load(const Bytes &contents)
    {
        receiver.CreateFile(DEFAULT_FILE, contents);
        return LoadFile();
    }
    int LoadFile()
    {
        free(env.image);
        env.image = nullptr;
        const size_t heap = loadertest::HeapInUse();
        int result = 0;
        output = Stdout([&] { result = LoadImageFile(&env); });
        EXPECT_TRUE(result != -1 || loadertest::HeapInUse() < heap + (1u << 20)) << "a refused file is freed";
        return result;
    }
    Bytes Image() const { return Bytes(reinterpret_cast<char *>(env.image), env.image_size); }
    // Where the message that has no newline of its own must stand.
    size_t End(const std::string &ending) const { return output.size() - ending.size(); }

    std::string output;
};

TEST_F(ImageFile, KeepsTheApplicationImageWithBlockCountAndChecksumOrRefusesAFileWithoutOne)
{
    for (auto [size, blocks] : {std::pair{2, 1}, {255, 1}, {256, 1}, {257, 2}, {513, 3}}) {
        Bytes file = Application(size);
        ASSERT_EQ(Load(file), 0) << output;
        EXPECT_EQ(Image(), file) << size;
        EXPECT_EQ(env.block_count, static_cast<uint32_t>(blocks)) << size;
        EXPECT_EQ(env.checksum, ZlibAdler(file)) << size;
    }
    gl_debug_level = 4;
    ASSERT_EQ(Load(Application(512)), 0);
    char checksum[32];
    snprintf(checksum, sizeof checksum, "0x%08X", env.checksum);
    EXPECT_EQ(output, "File /mnt/usbdisk/adl_fw.bin:\n\tloaded...\nApplication Image in .bin file\n\tblock count : "
                      "0x0002 (2)\n\tchecksum : " +
                          std::string(checksum) + "\n\timage size : 0x00000200 (512)\n");

    Bytes application = Application(300);
    ASSERT_EQ(Load(WithBootloader(application)), 0);
    EXPECT_NE(output.find("Bootloader image in .bin file AND Application Image in .bin file\n\tcount++...\n"),
              std::string::npos);
    EXPECT_EQ(Image(), application);
    EXPECT_EQ(env.block_count, 2u);
    EXPECT_EQ(env.checksum, ZlibAdler(application));

    const std::string none = "NO Application Image in .bin file";
    const std::string behind = "Bootloader image in .bin file BUT " + none;
    for (const auto &[contents, ending] : {std::pair{Bytes(), none},
                                           {B({0xCA}), none},
                                           {B({0xCA, 0x00, 1}), none},
                                           {B({0xDE}), none},
                                           {WithBootloader(B({0xCA, 0xFF, 1})), behind},
                                           {WithBootloader(B({0xCA})), behind}}) {
        EXPECT_EQ(Load(contents), -1);
        EXPECT_EQ(output.rfind(ending), End(ending)) << output;
        EXPECT_EQ(env.image, nullptr);
    }
}

TEST_F(ImageFile, RefusesWhatCannotBeReadWholeOrSentWhole)
{
    const struct {
        off_t size;
        size_t available;
        std::string ending;
    } cases[] = {
        {-1, 0, "\nFileLength = -1 !?!\n"},
        {4000000, 600, "Read error on file /mnt/usbdisk/adl_fw.bin: 600 of 4000000 bytes read\n"},
        // CREATEFILE announces the block count in 16 bits; a file too long
        // for any image is not even read.
        {MAX_IMAGE_SIZE + 1, MAX_IMAGE_SIZE + 1,
         "Image too large: 16776961 bytes, the radio takes at most 65535 blocks of 256 bytes (16776960 bytes)\n"},
        {BOOTLOADER_PART_SIZE + MAX_IMAGE_SIZE + 1, 0, "Image too large: 16826369 bytes"},
    };
    for (const auto &file : cases) {
        receiver.AddDevice(DEFAULT_FILE, std::make_shared<File>(file.size, file.available));
        EXPECT_EQ(LoadFile(), -1);
        EXPECT_NE(output.find(file.ending), std::string::npos) << output;
        EXPECT_EQ(env.image, nullptr);
    }
    receiver.AddDevice(DEFAULT_FILE, std::make_shared<File>(MAX_IMAGE_SIZE, MAX_IMAGE_SIZE));
    ASSERT_EQ(LoadFile(), 0) << output;
    EXPECT_EQ(env.block_count, 0xFFFFu);
    const off_t largest = BOOTLOADER_PART_SIZE + MAX_IMAGE_SIZE;
    receiver.AddDevice(DEFAULT_FILE, std::make_shared<File>(largest, largest, B({0xCA, 0x00})));
    EXPECT_EQ(LoadFile(), -1);
    const std::string none = "\nNO Application Image in .bin file";
    EXPECT_EQ(output.rfind(none), End(none)) << "the largest file is read";
}

// In a fresh child process: room for what is mapped already and a little
// more, not for the image.  Messages go to standard error for the check.
void LoadWithoutRoom(LOADER_ENV *env)
{
    malloc_trim(0);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    long pages = 0;
    FILE *statm = fopen("/proc/self/statm", "r");
    if (!statm || fscanf(statm, "%ld", &pages) != 1)
        _exit(2);
    fclose(statm);
    rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (4u << 20);
    struct rlimit space = {limit, limit};
    if (setrlimit(RLIMIT_AS, &space) != 0)
        _exit(2);
    _exit(LoadImageFile(env) == -1 ? 3 : 4);
}

TEST_F(ImageFile, ReportsAFailedAllocation)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator cannot run under an address-space limit";
#endif
    receiver.AddDevice(DEFAULT_FILE, std::make_shared<File>(MAX_IMAGE_SIZE, MAX_IMAGE_SIZE));
    // Re-executed: no memory freed by earlier tests is left to reuse.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(LoadWithoutRoom(&env), ::testing::ExitedWithCode(3),
                "Not enough memory to load file /mnt/usbdisk/adl_fw.bin \\(16776960 bytes\\)");
}

TEST(Adler32, AgreesWithZlib)
{
    // Lengths around the points where the sums are reduced; 0xFF bytes give the largest sums.
    for (size_t size : {0u, 5551u, 5552u, 5553u, 100000u, 1u << 20}) {
        for (const Bytes &data : {Random(size), Bytes(size, '\xFF')})
            EXPECT_EQ(ComputeAdler32(reinterpret_cast<const unsigned char *>(data.data()), size), ZlibAdler(data))
                << size;
    }
}

}  // namespace
