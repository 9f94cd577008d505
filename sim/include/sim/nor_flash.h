// The NOR flash partition behind "/dev/mtd3": 8 MiB of erased bytes in memory,
// one file position shared by every open (the API uses one descriptor), a log
// of the writes and injectable faults.
#ifndef SIM_NOR_FLASH_H
#define SIM_NOR_FLASH_H

#include <stdint.h>

#include <mutex>
#include <string>
#include <vector>

#include "sim/device.h"

namespace sim {

struct NorWrite {
    uint32_t address;
    uint32_t length;
};

class NorFlash : public Device {
public:
    static constexpr uint32_t kSize = 8u * 1024 * 1024;

    NorFlash();

    // Bytes as stored, for setting up and checking without the API.
    std::vector<uint8_t> Peek(uint32_t address, uint32_t length) const;
    std::string PeekText(uint32_t address, uint32_t length) const;
    void Poke(uint32_t address, const void *data, uint32_t length);
    void Poke(uint32_t address, const std::string &bytes)
    {
        Poke(address, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    void Erase();

    // Every successful write (address and count actually stored), in order.
    std::vector<NorWrite> Writes() const;
    void ClearWrites();
    // Addresses of the bytes that differ from the erased state.
    std::vector<uint32_t> ProgrammedAddresses() const;

    // Faults, each until cleared: the call fails with `error`.
    void FailSeek(int error) { SetFault(m_seekError, error); }
    void FailRead(int error) { SetFault(m_readError, error); }
    void FailWrite(int error) { SetFault(m_writeError, error); }
    // Writes store at most `bytes` bytes per call (a short write); -1 clears.
    void LimitWrite(long bytes);
    // Reads deliver at most `bytes` bytes per call; -1 clears.
    void LimitRead(long bytes);
    void ClearFaults();

    // A pause inside every seek, read and write, so that two threads whose
    // accesses are not serialised interleave reliably.
    void SetAccessDelayUs(unsigned us);

    int OpenDescriptors() const;

    int Open(int flags) override;
    void Close() override;
    ssize_t Read(void *buffer, size_t size) override;
    ssize_t Write(const void *data, size_t size) override;
    off_t Lseek(off_t offset, int whence) override;

private:
    void SetFault(int &slot, int error);
    void Pause() const;

    mutable std::mutex m_mutex;
    std::vector<uint8_t> m_bytes;
    uint32_t m_position = 0;
    std::vector<NorWrite> m_writes;
    int m_seekError = 0;
    int m_readError = 0;
    int m_writeError = 0;
    long m_writeLimit = -1;
    long m_readLimit = -1;
    unsigned m_delayUs = 0;
    int m_open = 0;
};

}  // namespace sim

#endif
