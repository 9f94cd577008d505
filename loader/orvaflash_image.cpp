// Reading and classifying the firmware image file.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "Commun.h"
#include "board.h"
#include "orvaflash.h"

namespace {

bool StartsWith(const unsigned char *bytes, unsigned long size, unsigned char first, unsigned char second)
{
    return size >= 2 && bytes[0] == first && bytes[1] == second;
}

void ReportTooLarge(unsigned long size)
{
    DebugPrintf(1, "Image too large: %lu bytes, the radio takes at most %d blocks of %d bytes (%lu bytes)\n", size,
                MAX_BLOCK_COUNT, BLOCK_SIZE, MAX_IMAGE_SIZE);
}

// Reads until `size` bytes are in or the file gives no more; the count read.
unsigned long ReadWhole(int fd, unsigned char *buffer, unsigned long size)
{
    unsigned long total = 0;
    while (total < size) {
        ssize_t count = Board_Read(fd, buffer + total, size - total);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        total += static_cast<unsigned long>(count);
    }
    return total;
}

// Finds the application image in the file's bytes: its offset, or -1 after
// the classification messages.
long LocateApplication(const unsigned char *file, unsigned long file_size)
{
    if (StartsWith(file, file_size, 0xCA, 0xFE)) {
        DebugPrintf(2, "Application Image in .bin file\n");
        return 0;
    }
    if (StartsWith(file, file_size, 0xDE, 0xAD)) {
        DebugPrintf(2, "Bootloader image in .bin file ");
        if (file_size > BOOTLOADER_PART_SIZE + 1 &&
            StartsWith(file + BOOTLOADER_PART_SIZE, file_size - BOOTLOADER_PART_SIZE, 0xCA, 0xFE)) {
            DebugPrintf(2, "AND Application Image ");
            DebugPrintf(2, "in .bin file\n");
            return BOOTLOADER_PART_SIZE;
        }
        DebugPrintf(2, "BUT NO Application Image in .bin file");
        return -1;
    }
    DebugPrintf(2, "NO Application Image in .bin file");
    return -1;
}

}  // namespace

uint32_t ComputeAdler32(const unsigned char *data, unsigned long length)
{
    const uint32_t modulus = 65521;
    // The largest run of bytes whose sums cannot overflow 32 bits before the
    // modulo has to be taken.
    const unsigned long run = 5552;
    uint32_t a = 1;
    uint32_t b = 0;
    while (length > 0) {
        unsigned long chunk = length < run ? length : run;
        length -= chunk;
        while (chunk-- > 0) {
            a += *data++;
            b += a;
        }
        a %= modulus;
        b %= modulus;
    }
    return (b << 16) | a;
}

int LoadImageFile(LOADER_ENV *env)
{
    int fd = Board_Open(env->file_name, O_RDONLY, 0);
    if (fd < 0) {
        DebugPrintf(1, "Can't open file %s\n", env->file_name);
        return -1;
    }
    off_t end = Board_Lseek(fd, 0, SEEK_END);
    if (end < 0) {
        DebugPrintf(1, "\nFileLength = -1 !?!\n");
        Board_Close(fd);
        return -1;
    }
    unsigned long file_size = static_cast<unsigned long>(end);
    Board_Lseek(fd, 0, SEEK_SET);
    DebugPrintf(2, "File %s:\n\tloaded...\n", env->file_name);

    // No file of this size can hold an image the radio accepts: refuse before
    // reading it whole into memory.
    if (file_size > BOOTLOADER_PART_SIZE + MAX_IMAGE_SIZE) {
        ReportTooLarge(file_size);
        Board_Close(fd);
        return -1;
    }
    unsigned char *file = static_cast<unsigned char *>(malloc(file_size > 0 ? file_size : 1));
    if (file == nullptr) {
        DebugPrintf(1, "Not enough memory to load file %s (%lu bytes)\n", env->file_name, file_size);
        Board_Close(fd);
        return -1;
    }
    unsigned long read_size = ReadWhole(fd, file, file_size);
    Board_Close(fd);
    if (read_size != file_size) {
        DebugPrintf(1, "Read error on file %s: %lu of %lu bytes read\n", env->file_name, read_size, file_size);
        free(file);
        return -1;
    }

    env->image_size = 0;
    long offset = LocateApplication(file, file_size);
    if (offset < 0) {
        free(file);
        return -1;
    }
    unsigned long image_size = file_size - static_cast<unsigned long>(offset);
    if (image_size > MAX_IMAGE_SIZE) {
        ReportTooLarge(image_size);
        free(file);
        return -1;
    }
    // The image stays in the buffer it was read into, moved over the
    // bootloader part, so a large image is held in memory only once.
    if (offset > 0)
        memmove(file, file + offset, image_size);
    env->image = file;
    env->image_size = static_cast<uint32_t>(image_size);

    env->block_count = env->image_size / BLOCK_SIZE;
    if (env->image_size % BLOCK_SIZE != 0) {
        DebugPrintf(4, "\tcount++...\n");
        env->block_count++;
    }
    env->checksum = ComputeAdler32(env->image, env->image_size);

    DebugPrintf(2, "\tblock count : 0x%04X (%ld)\n", static_cast<unsigned>(env->block_count),
                static_cast<long>(env->block_count));
    DebugPrintf(2, "\tchecksum : 0x%08X\n", static_cast<unsigned>(env->checksum));
    DebugPrintf(2, "\timage size : 0x%08X (%ld)\n", static_cast<unsigned>(env->image_size),
                static_cast<long>(env->image_size));
    return 0;
}
