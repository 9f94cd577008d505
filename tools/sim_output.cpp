#include "sim_output.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <unistd.h>

namespace simsession {

namespace {

// A line longer than this is published in pieces.
const size_t kLongestLine = 65536;

bool WriteAll(int fd, const char *bytes, size_t size)
{
    while (size > 0) {
        ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

void OutputTee::Start(Timeline &timeline)
{
    m_timeline = &timeline;
    // pipe(), F_DUPFD and FD_CLOEXEC: the receiver's kernel predates pipe2()
    // and F_DUPFD_CLOEXEC.
    if (pipe(m_wake) != 0)
        return;
    for (int fd : m_wake)
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    for (int index = 0; index < 2; ++index) {
        Channel &stream = m_streams[index];
        int fd = index + 1;
        int ends[2];
        if (fcntl(fd, F_GETFD) < 0 || pipe(ends) != 0)
            continue;
        stream.original = fcntl(fd, F_DUPFD, 3);
        if (stream.original >= 0)
            fcntl(stream.original, F_SETFD, FD_CLOEXEC);
        if (stream.original < 0 || dup2(ends[1], fd) < 0) {
            close(ends[0]);
            close(ends[1]);
            if (stream.original >= 0)
                close(stream.original);
            stream.original = -1;
            continue;
        }
        close(ends[1]);
        fcntl(ends[0], F_SETFD, FD_CLOEXEC);
        stream.pipe = ends[0];
    }
    m_thread = QuietThread([this] { Run(); });
}

void OutputTee::Stop()
{
    if (!m_thread.joinable())
        return;
    fflush(stdout);
    fflush(stderr);
    for (int index = 0; index < 2; ++index)
        if (m_streams[index].original >= 0)
            dup2(m_streams[index].original, index + 1);
    char wake = 0;
    while (write(m_wake[1], &wake, 1) < 0 && errno == EINTR) {
    }
    m_thread.join();
    for (int &fd : m_wake)
        close(fd);
}

void OutputTee::Run()
{
    for (;;) {
        pollfd fds[3] = {{m_streams[0].pipe, POLLIN, 0}, {m_streams[1].pipe, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int index = 0; index < 2; ++index)
            if (fds[index].revents & (POLLIN | POLLHUP | POLLERR))
                Pass(index);
        if (fds[2].revents)
            break;
    }
    // The descriptors are back: what is in the pipes is all there is, unless
    // a child still writes into them; it is not waited for.
    for (int index = 0; index < 2; ++index) {
        Channel &stream = m_streams[index];
        if (stream.pipe >= 0) {
            fcntl(stream.pipe, F_SETFL, O_NONBLOCK);
            while (Pass(index)) {
            }
            close(stream.pipe);
            stream.pipe = -1;
        }
        Publish(index, true);
    }
}

bool OutputTee::Pass(int index)
{
    Channel &stream = m_streams[index];
    if (stream.pipe < 0)
        return false;
    char buffer[4096];
    ssize_t count = read(stream.pipe, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR)
        return true;
    if (count == 0) {
        close(stream.pipe);
        stream.pipe = -1;
    }
    if (count <= 0)
        return false;
    if (!WriteAll(stream.original, buffer, static_cast<size_t>(count))) {
        // The reader went away: the program's own next write finds that out
        // (EPIPE or SIGPIPE) as it would have without the tee.
        close(stream.pipe);
        stream.pipe = -1;
    }
    stream.partial.append(buffer, static_cast<size_t>(count));
    Publish(index, false);
    return stream.pipe >= 0;
}

void OutputTee::Publish(int index, bool all)
{
    Channel &stream = m_streams[index];
    size_t start = 0;
    for (;;) {
        size_t newline = stream.partial.find('\n', start);
        if (newline == std::string::npos)
            break;
        m_timeline->PublishOutput(index == 0 ? simsession::Stream::Stdout : simsession::Stream::Stderr,
                                  stream.partial.substr(start, newline - start));
        start = newline + 1;
    }
    stream.partial.erase(0, start);
    if ((all && !stream.partial.empty()) || stream.partial.size() >= kLongestLine) {
        m_timeline->PublishOutput(index == 0 ? simsession::Stream::Stdout : simsession::Stream::Stderr, stream.partial);
        stream.partial.clear();
    }
}

}  // namespace simsession
