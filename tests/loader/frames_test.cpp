// Bootloader frames and the acknowledgement check.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "loader_test_support.h"
#include "orvaflash.h"

namespace {

using loader_test::B;
using loader_test::Bytes;

Bytes FrameBytes(const unsigned char *frame, unsigned long length)
{
    return Bytes(reinterpret_cast<const char *>(frame), length);
}

TEST(Frames, FixedFramesCarryTheirSumsAndAskForEightBytes)
{
    unsigned char frame[MAX_FRAME_LENGTH];
    unsigned long length = 0;

    EXPECT_EQ(FormatPOCcommand(frame, length), 8u);
    EXPECT_EQ(FrameBytes(frame, length), B({0x02, 0x02, 0x00, 0x00, 0x00, 0x02, 0x03}));
    EXPECT_EQ(FormatRESETcommand(frame, length), 8u);
    EXPECT_EQ(FrameBytes(frame, length), B({0x02, 0x04, 0x00, 0x00, 0x00, 0x04, 0x03}));
    EXPECT_EQ(FormatSETBAUDRATEcommand(frame, length, 115200), 8u);
    EXPECT_EQ(FrameBytes(frame, length), B({0x02, 0x07, 0x00, 0x05, 0x00, 0x00, 0x01, 0xC2, 0x00, 0x00, 0xCF, 0x03}));
    FormatSETBAUDRATEcommand(frame, length, 9600);
    EXPECT_EQ(FrameBytes(frame, length), B({0x02, 0x07, 0x00, 0x05, 0x00, 0x00, 0x00, 0x25, 0x80, 0x00, 0xB1, 0x03}));
}

TEST(Frames, CreateFileAnnouncesBlockCountAndChecksum)
{
    LOADER_ENV env = loader_test::FreshRecord();
    env.block_count = 2;
    env.checksum = 0x0A0B0C0D;
    unsigned char frame[MAX_FRAME_LENGTH];
    unsigned long length = 0;
    EXPECT_EQ(FormatCREATEFILEcommand(frame, length, &env), 8u);
    EXPECT_EQ(FrameBytes(frame, length),
              B({0x02, 0x0B, 0x00, 0x07, 0x00, 0x00, 0x02, 0x0A, 0x0B, 0x0C, 0x0D, 0x00, 0x42, 0x03}));

    // Sums beyond 16 bits travel as their low 16 bits.
    env.block_count = 0xFFFF;
    env.checksum = 0xFFFFFFFF;
    FormatCREATEFILEcommand(frame, length, &env);
    unsigned sum = 0x0B + 0x07 + 6 * 0xFF;
    EXPECT_EQ(frame[11], (sum >> 8) & 0xFF);
    EXPECT_EQ(frame[12], sum & 0xFF);
}

TEST(Frames, WriteFileBlocksNumberFromOneAndFillTheLastBlock)
{
    std::vector<unsigned char> image(513);
    for (size_t i = 0; i < image.size(); i++)
        image[i] = static_cast<unsigned char>(i * 7 + 1);
    LOADER_ENV env = loader_test::FreshRecord();
    env.image = image.data();
    env.image_size = 513;
    env.block_count = 3;

    unsigned char frame[MAX_FRAME_LENGTH];
    for (unsigned long block = 1; block <= 3; block++) {
        SCOPED_TRACE(block);
        unsigned long length = 0;
        EXPECT_EQ(FormatWRITEFILEBLOCK(frame, length, &env, block), 8u);
        ASSERT_EQ(length, 268u);
        EXPECT_EQ(FrameBytes(frame, 9), B({0x02, 0x0C, 0x01, 0x05, 0x00, 0x00, static_cast<int>(block), 0x00, 0x03}));
        size_t offset = (block - 1) * 256;
        size_t present = std::min<size_t>(256, image.size() - offset);
        EXPECT_EQ(FrameBytes(frame + 9, present), FrameBytes(image.data() + offset, present));
        unsigned sum = 0;
        for (int i = 1; i < 265; i++)
            sum += frame[i];
        EXPECT_EQ(frame[265], (sum >> 8) & 0xFF);
        EXPECT_EQ(frame[266], sum & 0xFF);
        EXPECT_EQ(frame[267], 0x03);
    }
    // Block 3 holds the image's last byte; the rest is filler that the image
    // checksum does not cover.
    EXPECT_EQ(frame[9], image[512]);
    EXPECT_EQ(FrameBytes(frame + 10, 255), Bytes(255, static_cast<char>(0xFF)));
}

TEST(Frames, ChecksumIsThePlainByteSum)
{
    unsigned char bytes[300];
    for (unsigned char &byte : bytes)
        byte = 0xFF;
    EXPECT_EQ(ComputeChecksum(bytes, 0), 0u);
    EXPECT_EQ(ComputeChecksum(bytes, 300), 300u * 0xFF);
}

TEST(Frames, AnAcknowledgementNeedsEightBytesTheCommandAndAck)
{
    auto acknowledged = [](const Bytes &answer, unsigned long count, unsigned char command) {
        Bytes padded = answer + Bytes(16, '\0');
        return IsAcknowledged(reinterpret_cast<const unsigned char *>(padded.data()), count, command);
    };
    EXPECT_TRUE(acknowledged(B({0x02, 0x0B, 0x00, 0x01, 0x06, 0x00, 0x12, 0x03}), 8, COMMAND_CREATEFILE));
    // Length and check bytes are not examined.
    EXPECT_TRUE(acknowledged(B({0x02, 0x0B, 0x55, 0x66, 0x06, 0x77, 0x88, 0x03}), 8, COMMAND_CREATEFILE));
    EXPECT_FALSE(acknowledged(B({0x02, 0x0B, 0x00, 0x01, 0x15, 0x00, 0x21, 0x03}), 8, COMMAND_CREATEFILE));
    EXPECT_FALSE(acknowledged(B({0x02, 0x07, 0x00, 0x01, 0x06, 0x00, 0x0E, 0x03}), 8, COMMAND_CREATEFILE));
    EXPECT_FALSE(acknowledged(B({0x03, 0x0B, 0x00, 0x01, 0x06, 0x00, 0x12, 0x03}), 8, COMMAND_CREATEFILE));
    EXPECT_FALSE(acknowledged(B({0x02, 0x0B, 0x00, 0x01, 0x06, 0x00, 0x12, 0x02}), 8, COMMAND_CREATEFILE));
    EXPECT_FALSE(acknowledged(B({0x02, 0x0B, 0x00, 0x01, 0x06, 0x00, 0x12, 0x03}), 7, COMMAND_CREATEFILE));
    EXPECT_FALSE(acknowledged(B({0x02, 0x0B, 0x00, 0x01, 0x06, 0x00, 0x12, 0x03, 0x00}), 9, COMMAND_CREATEFILE));
}

}  // namespace
