// Bootloader frames and the acknowledgement check.
#include <string.h>

#include <vector>

#include "loader_test.h"

namespace {

using loadertest::B;
using loadertest::Bytes;

Bytes Frame(const unsigned char *frame, unsigned long length)
{
    return Bytes(reinterpret_cast<const char *>(frame), length);
}

// CREATEFILE and SETBAUDRATE as samples of a command frame on a buffer of
// garbage; the wire of a whole run shows the others.
TEST(Frames, CarryTheirPayloadAndSumAndTheAcknowledgementIsChecked)
{
    std::vector<unsigned char> image(513);
    for (size_t i = 0; i < image.size(); i++)
        image[i] = static_cast<unsigned char>(i * 7 + 1);
    LOADER_ENV env = loadertest::FreshRecord();
    env.image = image.data();
    env.image_size = 513;
    env.block_count = 3;
    env.checksum = 0x0A0B0C0D;
    // Garbage first: every byte of a frame is the builder's.
    unsigned char frame[MAX_FRAME_LENGTH];
    memset(frame, 0xA5, sizeof frame);
    unsigned long length = 0;
    EXPECT_EQ(FormatCREATEFILEcommand(frame, length, &env), 8u);
    EXPECT_EQ(Frame(frame, length),
              B({0x02, 0x0B, 0x00, 0x07, 0x00, 0x00, 0x03, 0x0A, 0x0B, 0x0C, 0x0D, 0x00, 0x43, 0x03}));
    memset(frame, 0xA5, sizeof frame);
    FormatSETBAUDRATEcommand(frame, length, 9600);
    EXPECT_EQ(Frame(frame, length), B({0x02, 0x07, 0x00, 0x05, 0x00, 0x00, 0x00, 0x25, 0x80, 0x00, 0xB1, 0x03}));

    for (int block = 1; block <= 3; block++) {
        SCOPED_TRACE(block);
        EXPECT_EQ(FormatWRITEFILEBLOCK(frame, length, &env, block), 8u);
        ASSERT_EQ(length, 268u);
        EXPECT_EQ(Frame(frame, 9), B({0x02, 0x0C, 0x01, 0x05, 0x00, 0x00, block, 0x00, 0x03}));
        size_t present = std::min<size_t>(256, image.size() - (block - 1) * 256);
        EXPECT_EQ(Frame(frame + 9, present), Frame(image.data() + (block - 1) * 256, present));
        unsigned sum = 0;
        for (int i = 1; i < 265; i++)
            sum += frame[i];
        EXPECT_EQ(Frame(frame + 265, 3), B({static_cast<int>((sum >> 8) & 0xFF), static_cast<int>(sum & 0xFF), 0x03}));
    }
    // Block 3: the image's last byte, then filler.
    EXPECT_EQ(Frame(frame + 10, 255), Bytes(255, '\xFF'));
    // A block past the image's end is all filler, nothing read beyond it.
    env.image_size = 200;
    FormatWRITEFILEBLOCK(frame, length, &env, 2);
    EXPECT_EQ(Frame(frame + 9, 256), Bytes(256, '\xFF'));
    // A sum beyond 8 bits fills both check bytes.
    env.block_count = 0xFFFF;
    env.checksum = 0xFFFFFFFF;
    FormatCREATEFILEcommand(frame, length, &env);
    EXPECT_EQ(Frame(frame + 11, 3), B({0x06, 0x0C, 0x03}));  // 0x0B + 0x07 + 6 * 0xFF

    // An acknowledgement is eight bytes with the command and ACK.
    auto acknowledges = [](Bytes answer, unsigned long count) {
        answer.resize(16);
        return IsAcknowledged(reinterpret_cast<const unsigned char *>(answer.data()), count, COMMAND_CREATEFILE);
    };
    EXPECT_TRUE(acknowledges(B({0x02, 0x0B, 0x00, 0x01, 0x06, 0x00, 0x12, 0x03}), 8));
    EXPECT_TRUE(acknowledges(B({0x02, 0x0B, 0x55, 0x66, 0x06, 0x77, 0x88, 0x03}), 8));  // length and sum unchecked
    EXPECT_FALSE(acknowledges(B({0x03, 0x0B, 0x00, 0x01, 0x06, 0x00, 0x12, 0x03}), 8));
    EXPECT_FALSE(acknowledges(B({0x02, 0x0B, 0x00, 0x01, 0x06, 0x00, 0x12, 0x02}), 8));
    EXPECT_FALSE(acknowledges(B({0x02, 0x0B, 0x00, 0x01, 0x06, 0x00, 0x12, 0x03}), 7));
    EXPECT_FALSE(acknowledges(B({0x02, 0x0B, 0x00, 0x01, 0x06, 0x00, 0x12, 0x03}), 9));
}

}  // namespace
