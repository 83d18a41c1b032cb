// The rate search: a bit-level model of the line proves that its probe can never reach
// a panel at another rate as a command that writes, erases, downloads or moves it, and
// the search finds the in-process panel wherever a run left it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include "link/SerialComm.h"
#include "loader/Engine.h"
#include "loader/RateSearch.h"
#include "platform/Clock.h"
#include "sim/SimulatedPanel.h"

namespace {

// One byte on the wire: start bit, 8 data bits LSB first, one stop bit, at `rate`.
struct Frame
{
    uint8_t byte;
    uint32_t rate;
    double start; // seconds
};

class Line
{
public:
    explicit Line(std::vector<Frame> frames) : m_frames(std::move(frames)) {}

    int Level(double t) const
    {
        for (const Frame& f : m_frames) {
            const double bit = (t - f.start) * f.rate;
            if (bit < 0 || bit >= 10) continue;
            const int index = static_cast<int>(bit);
            if (index == 0) return 0;
            if (index == 9) return 1;
            return (f.byte >> (index - 1)) & 1;
        }
        return 1; // idle
    }

    // Every high-to-low transition: the start bits and the falls inside frames.
    std::vector<double> FallingEdges() const
    {
        std::vector<double> edges;
        for (const Frame& f : m_frames) {
            int previous = 1;
            for (int index = 0; index < 10; ++index) {
                const int level = index == 0 ? 0 : index == 9 ? 1 : (f.byte >> (index - 1)) & 1;
                if (previous == 1 && level == 0) edges.push_back(f.start + double(index) / f.rate);
                previous = level;
            }
        }
        std::sort(edges.begin(), edges.end());
        return edges;
    }

    double End() const
    {
        double end = 0;
        for (const Frame& f : m_frames)
            end = std::max(end, f.start + 10.0 / f.rate);
        return end;
    }

private:
    std::vector<Frame> m_frames;
};

struct Decoded
{
    uint8_t byte;
    bool framingError;
};

// A receiver at `rate` whose clock runs `clock` times the nominal one, sampling each
// bit at `phase` of its length. It starts a frame on a falling edge, or (levelHunt, as
// a UART that takes a low line after a framing error for the next start bit) on a low
// line as soon as it is free; a start bit found high again at its sample is a glitch.
std::vector<Decoded> Receive(const Line& line, uint32_t rate, double clock, double phase, bool levelHunt)
{
    const double bit = 1.0 / (rate * clock);
    const std::vector<double> edges = line.FallingEdges();
    std::vector<Decoded> out;
    double free = -1;
    for (;;) {
        double start = -1;
        if (levelHunt && free >= 0 && line.Level(free) == 0) {
            start = free;
        } else {
            const auto next = std::lower_bound(edges.begin(), edges.end(), free);
            if (next == edges.end()) break;
            start = *next;
        }
        if (start > line.End()) break;
        if (line.Level(start + phase * bit) != 0) {
            free = start + phase * bit + 1e-9;
            continue;
        }
        uint8_t byte = 0;
        for (int i = 0; i < 8; ++i)
            byte |= static_cast<uint8_t>(line.Level(start + (1 + i + phase) * bit) << i);
        const bool framingError = line.Level(start + (9 + phase) * bit) == 0;
        out.push_back({byte, framingError});
        free = start + (9 + phase) * bit + 1e-9;
    }
    return out;
}

// Everything receivers at `rate` decode from the line, over sampling points and clock
// errors a real UART shows (majority of three samples around the middle, +-3 %).
std::set<uint8_t> DecodedBytes(const Line& line, uint32_t rate, bool* framingErrors = nullptr)
{
    std::set<uint8_t> bytes;
    for (const double phase : {0.4, 0.5, 0.6})
        for (const double clock : {0.97, 1.0, 1.03})
            for (const bool levelHunt : {false, true})
                for (const Decoded& d : Receive(line, rate, clock, phase, levelHunt)) {
                    bytes.insert(d.byte);
                    if (framingErrors && d.framingError) *framingErrors = true;
                }
    return bytes;
}

// Commands that write, erase, download, check the ID (and swallow what follows), move
// the panel to another rate, clear its status or unlock its blocks.
const std::set<uint8_t> kHarmful = {0x41, 0xA7, 0xFA, 0xF5, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0x50, 0x75};
// Commands the panel answers: garbage that became one would fake a probe's reply.
const std::set<uint8_t> kAnswered = {0x70, 0xFB};

std::string Hex(const std::set<uint8_t>& bytes)
{
    std::string text;
    char buffer[4];
    for (const uint8_t b : bytes) {
        std::snprintf(buffer, sizeof buffer, "%02X ", b);
        text += buffer;
    }
    return text;
}

std::set<uint8_t> Intersection(const std::set<uint8_t>& a, const std::set<uint8_t>& b)
{
    std::set<uint8_t> both;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::inserter(both, both.end()));
    return both;
}

TEST(UartModel, TheProbeAtAWrongRateIsNeverACommandThatActsOrAnswers)
{
    for (const uint32_t sent : loader::kBaudRates) {
        // At its own rate the probe arrives as itself, whole.
        bool errors = false;
        EXPECT_EQ(DecodedBytes(Line({{loader::kProbeByte, sent, 0.001}}), sent, &errors),
                  std::set<uint8_t>{loader::kProbeByte});
        EXPECT_FALSE(errors);
        for (const uint32_t heard : loader::kBaudRates) {
            if (heard == sent) continue;
            // One probe on an idle line: what the search sends at each rate.
            const std::set<uint8_t> single = DecodedBytes(Line({{loader::kProbeByte, sent, 0.001}}), heard);
            EXPECT_TRUE(Intersection(single, kHarmful).empty())
                << sent << " -> " << heard << ": " << Hex(single);
            EXPECT_TRUE(Intersection(single, kAnswered).empty())
                << sent << " -> " << heard << ": " << Hex(single);
            // Two back to back (no idle bit between): still nothing that acts.
            const std::set<uint8_t> pair = DecodedBytes(
                Line({{loader::kProbeByte, sent, 0.001}, {loader::kProbeByte, sent, 0.001 + 10.0 / sent}}),
                heard);
            EXPECT_TRUE(Intersection(pair, kHarmful).empty()) << sent << " -> " << heard << ": " << Hex(pair);
        }
    }
}

TEST(UartModel, TheSpeedCodesThemselvesWouldBeUnsafeProbes)
{
    // Why the search does not ask with the speed codes: sent at 38400 bit/s, 0xB2 can
    // reach a 19200 bit/s receiver as 0xFA (download).
    const std::set<uint8_t> heard = DecodedBytes(Line({{0xB2, 38400, 0.001}}), 19200);
    EXPECT_TRUE(heard.count(0xFA)) << Hex(heard);
}

TEST(UartModel, AWholeSearchAndTheStartUpBurstReachNoRateAsAHarmfulCommand)
{
    for (const uint32_t remembered : loader::kBaudRates) {
        // Each rate's probe, then silence for the probe's time-out, in both passes.
        std::vector<Frame> frames;
        double t = 0.001;
        for (uint32_t pass = 0; pass < loader::kSearchPasses; ++pass)
            for (const uint32_t rate : loader::SearchOrder(remembered)) {
                frames.push_back({loader::kProbeByte, rate, t});
                t += loader::kProbeTimeout / 1000.0;
            }
        const Line search(frames);
        for (const uint32_t heard : loader::kBaudRates) {
            std::set<uint8_t> bytes = DecodedBytes(search, heard);
            bytes.erase(loader::kProbeByte); // its own rate's probe, heard as sent
            EXPECT_TRUE(Intersection(bytes, kHarmful).empty())
                << remembered << " at " << heard << ": " << Hex(bytes);
        }
    }
    // The synchronisation burst at 9600 bit/s: 0xB0, then sixteen 0x00 20 ms apart.
    std::vector<Frame> burst{{0xB0, 9600, 0.001}};
    for (int i = 0; i < 16; ++i)
        burst.push_back({0x00, 9600, 0.051 + 0.020 * i});
    for (const uint32_t heard : loader::kBaudRates) {
        if (heard == 9600) continue;
        const std::set<uint8_t> bytes = DecodedBytes(Line(burst), heard);
        EXPECT_TRUE(Intersection(bytes, kHarmful).empty()) << heard << ": " << Hex(bytes);
    }
}

TEST(UartModel, ReceiverSeesASlowByteAsSeveralAndAFastOneAsOneOrNone)
{
    // The model itself: 0x00 at 9600 bit/s lasts 9 bits of 115200 bit/s several times
    // over, so a fast receiver reports zeros with framing errors.
    bool errors = false;
    const std::set<uint8_t> slow = DecodedBytes(Line({{0x00, 9600, 0.001}}), 115200, &errors);
    EXPECT_TRUE(slow.count(0x00));
    EXPECT_TRUE(errors);
    // 0xFF at 115200 bit/s is a single low bit of 8.7 us: a 9600 bit/s receiver
    // takes it for a glitch.
    EXPECT_TRUE(DecodedBytes(Line({{0xFF, 115200, 0.001}}), 9600).empty());
}

class RateSearch : public ::testing::Test
{
protected:
    RateSearch()
    {
        EXPECT_TRUE(m_link.Open("COM1"));
        m_link.SetTimeout(1000);
        m_engine.SetLinkRate(9600);
    }

    platform::CVirtualClock m_clock;
    platform::CScopedClock m_scoped{m_clock};
    sim::CSimulatedPanel m_panel{"COM1"};
    CSerialComm m_link;
    loader::CEngine m_engine{m_link};
};

TEST_F(RateSearch, FindsAPanelLeftAtAFastRateSendingOnlyProbes)
{
    m_panel.Device().SetIdVerified(true);
    ASSERT_TRUE(m_engine.NegotiateRate(9600, 115200).Ok());
    m_panel.ClearTrace();
    const uint32_t started = GetTickCount();

    const loader::PanelSearch found = loader::FindPanel(m_engine, loader::SearchOrder(9600));
    ASSERT_TRUE(found.found);
    EXPECT_EQ(found.rate, 115200u);
    EXPECT_EQ(m_engine.LinkRate(), 115200u);
    EXPECT_TRUE(found.status.IdVerified());
    EXPECT_EQ(m_panel.Device().Baud(), 115200u) << "the search never moves the panel";
    for (const uint8_t b : m_panel.HostBytes())
        EXPECT_EQ(b, loader::kProbeByte);
    EXPECT_LT(GetTickCount() - started, 1000u);

    // The remembered rate is tried first: one probe and its confirmation.
    m_panel.ClearTrace();
    ASSERT_TRUE(loader::FindPanel(m_engine, loader::SearchOrder(115200)).found);
    EXPECT_EQ(m_panel.HostBytes().size(), 2u);
}

TEST_F(RateSearch, ASilentPanelIsGivenUpWithinTwoSecondsAtTheFirstRate)
{
    m_panel.Device().SetSilent(true);
    const uint32_t started = GetTickCount();
    const loader::PanelSearch found = loader::FindPanel(m_engine, loader::SearchOrder(57600));
    EXPECT_FALSE(found.found);
    EXPECT_EQ(found.outcome, loader::Outcome::Silent);
    EXPECT_LT(GetTickCount() - started, 2000u);
    EXPECT_EQ(m_engine.LinkRate(), 57600u);
    EXPECT_EQ(m_link.GetTimeout(), 1000u) << "the link's time-out is back";
    EXPECT_EQ(loader::SearchOrder(57600), (std::vector<uint32_t>{57600, 9600, 19200, 38400, 115200}));
    EXPECT_EQ(loader::SearchOrder(0), (std::vector<uint32_t>{9600, 19200, 38400, 57600, 115200}));
}

} // namespace
