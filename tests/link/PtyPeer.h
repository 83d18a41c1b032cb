#pragma once
// The far end of a real pseudo-terminal: the test plays the device on the master side
// while the port under test opens the slave.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "platform/posix/UniqueFd.h"

class CPtyPeer
{
public:
    CPtyPeer()
    {
        m_master.Reset(posix_openpt(O_RDWR | O_NOCTTY));
        if (!m_master.Valid() || grantpt(m_master.Get()) != 0 || unlockpt(m_master.Get()) != 0) return;
        // Raw before anyone opens the slave, or it starts with echo and line editing.
        termios tio{};
        tcgetattr(m_master.Get(), &tio);
        cfmakeraw(&tio);
        tcsetattr(m_master.Get(), TCSANOW, &tio);
        m_slave = ptsname(m_master.Get());
    }
    const std::string& SlavePath() const { return m_slave; }
    void Send(const std::string& bytes)
    {
        ASSERT_EQ(write(m_master.Get(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    std::string Receive(size_t count)
    {
        std::string bytes(count, '\0');
        size_t got = 0;
        while (got < count) {
            const ssize_t n = read(m_master.Get(), bytes.data() + got, count - got);
            if (n <= 0) break;
            got += size_t(n);
        }
        bytes.resize(got);
        return bytes;
    }
    // The adapter pulled out: the port sees a hang-up.
    void HangUp() { m_master.Reset(); }

private:
    platform::CUniqueFd m_master;
    std::string m_slave;
};
