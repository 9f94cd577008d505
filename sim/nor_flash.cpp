#include "sim/nor_flash.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

namespace sim {

NorFlash::NorFlash() : m_bytes(kSize, 0xFF) {}

std::vector<uint8_t> NorFlash::Peek(uint32_t address, uint32_t length) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (address >= kSize)
        return {};
    uint32_t end = std::min<uint64_t>(uint64_t{address} + length, kSize);
    return std::vector<uint8_t>(m_bytes.begin() + address, m_bytes.begin() + end);
}

std::string NorFlash::PeekText(uint32_t address, uint32_t length) const
{
    std::vector<uint8_t> bytes = Peek(address, length);
    return std::string(bytes.begin(), bytes.end());
}

void NorFlash::Poke(uint32_t address, const void *data, uint32_t length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (address >= kSize)
        return;
    uint32_t count = std::min<uint64_t>(length, kSize - address);
    memcpy(m_bytes.data() + address, data, count);
}

void NorFlash::Erase()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fill(m_bytes.begin(), m_bytes.end(), 0xFF);
}

std::vector<NorWrite> NorFlash::Writes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes;
}

void NorFlash::ClearWrites()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writes.clear();
}

std::vector<uint32_t> NorFlash::ProgrammedAddresses() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint32_t> addresses;
    for (uint32_t address = 0; address < kSize; ++address) {
        if (m_bytes[address] != 0xFF)
            addresses.push_back(address);
    }
    return addresses;
}

void NorFlash::SetFault(int &slot, int error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    slot = error;
}

void NorFlash::LimitWrite(long bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writeLimit = bytes;
}

void NorFlash::LimitRead(long bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_readLimit = bytes;
}

void NorFlash::ClearFaults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_seekError = m_readError = m_writeError = 0;
    m_writeLimit = m_readLimit = -1;
}

void NorFlash::SetAccessDelayUs(unsigned us)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_delayUs = us;
}

void NorFlash::Pause() const
{
    unsigned us;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        us = m_delayUs;
    }
    if (us)
        usleep(us);
}

int NorFlash::OpenDescriptors() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}

int NorFlash::Open(int)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_open;
    return 0;
}

void NorFlash::Close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_open;
}

ssize_t NorFlash::Read(void *buffer, size_t size)
{
    Pause();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_readError) {
        errno = m_readError;
        return -1;
    }
    size_t count = std::min<size_t>(size, kSize - m_position);
    if (m_readLimit >= 0)
        count = std::min<size_t>(count, static_cast<size_t>(m_readLimit));
    memcpy(buffer, m_bytes.data() + m_position, count);
    m_position += static_cast<uint32_t>(count);
    return static_cast<ssize_t>(count);
}

ssize_t NorFlash::Write(const void *data, size_t size)
{
    Pause();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_writeError) {
        errno = m_writeError;
        return -1;
    }
    if (size > 0 && m_position >= kSize) {
        errno = ENOSPC;
        return -1;
    }
    size_t count = std::min<size_t>(size, kSize - m_position);
    if (m_writeLimit >= 0)
        count = std::min<size_t>(count, static_cast<size_t>(m_writeLimit));
    memcpy(m_bytes.data() + m_position, data, count);
    if (count > 0)
        m_writes.push_back({m_position, static_cast<uint32_t>(count)});
    m_position += static_cast<uint32_t>(count);
    return static_cast<ssize_t>(count);
}

off_t NorFlash::Lseek(off_t offset, int whence)
{
    Pause();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_seekError) {
        errno = m_seekError;
        return -1;
    }
    off_t base = whence == SEEK_SET   ? 0
                 : whence == SEEK_CUR ? static_cast<off_t>(m_position)
                 : whence == SEEK_END ? static_cast<off_t>(kSize)
                                      : -1;
    if (base < 0 || offset < -base || base + offset > static_cast<off_t>(kSize)) {
        errno = EINVAL;
        return -1;
    }
    m_position = static_cast<uint32_t>(base + offset);
    return static_cast<off_t>(m_position);
}

}  // namespace sim
