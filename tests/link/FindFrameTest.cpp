#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

#include "FrameFinder.h"
#include "LiteralFindFrame.h"
#include "TestFrames.h"

namespace {

constexpr uint8_t kSlave = 0x01;
constexpr uint8_t kRead = 0x03;

const TBytes kRequest = WithCrc({kSlave, kRead, 0x00, 0x00, 0x00, 0x02});
const TBytes kAnswer = WithCrc({kSlave, kRead, 0x04, 0x01, 0x02, 0x03, 0x04});
const TBytes kException = WithCrc({kSlave, kRead | 0x80, 0x02});

struct TFindCase {
    std::string Name;
    TBytes Received;
    uint8_t Function;
    std::optional<TFrameSpan> Expected;
};

std::vector<TFindCase> FindCases() {
    const int answerLength = static_cast<int>(kAnswer.size());
    return {
        {"answer alone", kAnswer, kRead, TFrameSpan{0, answerLength}},
        {"noise before the answer", Concat({{0x55, 0x01, 0xFF, 0x01}, kAnswer}), kRead,
         TFrameSpan{4, answerLength}},
        {"first piece of the answer", TBytes(kAnswer.begin(), kAnswer.begin() + 5), kRead,
         std::nullopt},
        {"answer missing its last byte", TBytes(kAnswer.begin(), kAnswer.end() - 1), kRead,
         std::nullopt},
        {"echo before the answer: the echo comes first", Concat({kRequest, kAnswer}), kRead,
         TFrameSpan{0, static_cast<int>(kRequest.size())}},
        {"exception form", kException, kRead, TFrameSpan{0, 5}},
        {"exception form with bytes after it", Concat({kException, {0x00, 0x11}}), kRead,
         TFrameSpan{0, 5}},
        {"exception form is five bytes only", WithCrc({kSlave, kRead | 0x80, 0x02, 0x00}), kRead,
         std::nullopt},
        {"foreign address", WithCrc({0x02, kRead, 0x02, 0x00, 0x07}), kRead, std::nullopt},
        {"other function code", kAnswer, 0x04, std::nullopt},
        {"shortest frame of four bytes", WithCrc({kSlave, kRead}), kRead, TFrameSpan{0, 4}},
        {"three bytes are never a frame", {kSlave, kRead, 0x00}, kRead, std::nullopt},
        {"nothing received", {}, kRead, std::nullopt},
        // The answer followed by its own CRC: a longer CRC-valid frame at the same start.
        {"longest CRC-valid length at the first start wins", WithCrc(kAnswer), kRead,
         TFrameSpan{0, answerLength + 2}},
        {"first start wins over a later frame", Concat({kAnswer, kException}), kRead,
         TFrameSpan{0, answerLength}},
        {"damaged CRC", Concat({TBytes(kAnswer.begin(), kAnswer.end() - 1), {0x00}}), kRead,
         std::nullopt},
        {"function code with bit 7 set has no separate exception form",
         WithCrc({kSlave, 0x83, 0x02}), 0x83, TFrameSpan{0, 5}},
    };
}

TEST(FindFrameTest, FindsTheFrameTheReceiverMustTake) {
    for (const TFindCase& test : FindCases()) {
        const auto found = FindFrame(test.Received.data(), static_cast<int>(test.Received.size()),
                                     kSlave, test.Function);
        const auto literal = LiteralFindFrame(
            test.Received.data(), static_cast<int>(test.Received.size()), kSlave, test.Function);
        ASSERT_EQ(found.has_value(), test.Expected.has_value()) << test.Name;
        ASSERT_EQ(literal.has_value(), test.Expected.has_value()) << test.Name;
        if (test.Expected) {
            EXPECT_EQ(found->Start, test.Expected->Start) << test.Name;
            EXPECT_EQ(found->Length, test.Expected->Length) << test.Name;
            EXPECT_EQ(literal->Start, test.Expected->Start) << test.Name;
            EXPECT_EQ(literal->Length, test.Expected->Length) << test.Name;
        }
    }
}

TEST(FindFrameTest, AnswerInPiecesIsFoundWithThePieceThatCompletesIt) {
    const TBytes received = Concat({{0x7E, 0x01}, kAnswer});
    TFrameFinder finder;
    finder.Reset(kSlave, kRead);
    for (size_t end = 1; end < received.size(); ++end) {
        finder.Scan(received.data(), static_cast<int>(end));
        EXPECT_FALSE(finder.Frame().has_value()) << "after " << end << " bytes";
    }
    finder.Scan(received.data(), static_cast<int>(received.size()));
    ASSERT_TRUE(finder.Frame().has_value());
    EXPECT_EQ(finder.Frame()->Start, 2);
}

TEST(FindFrameTest, DiscardKeepsWhatFollowsTheDroppedBytes) {
    TBytes received = Concat({kRequest, kAnswer});
    TFrameFinder finder;
    finder.Reset(kSlave, kRead);
    finder.Scan(received.data(), static_cast<int>(received.size()));
    received.erase(received.begin(), received.begin() + static_cast<long>(kRequest.size()));
    finder.Discard(static_cast<int>(kRequest.size()));
    ASSERT_TRUE(finder.Frame().has_value());
    EXPECT_EQ(finder.Frame()->Start, 0);
    EXPECT_EQ(finder.Frame()->Length, static_cast<int>(kAnswer.size()));
    EXPECT_EQ(finder.Scanned(), static_cast<int>(kAnswer.size()));
}

// Random received streams built to hit the finder's corners: bytes equal to the address and the
// function code, whole and broken frames, exception forms, frames that run into the next one.
class TStreamMaker {
public:
    explicit TStreamMaker(uint32_t seed) : random_(seed) {}

    TBytes Make(uint8_t slave, uint8_t function) {
        TBytes stream;
        const int parts = Pick(1, 8);
        for (int part = 0; part < parts; ++part) {
            switch (Pick(0, 6)) {
                case 0:
                    AppendNoise(stream, Pick(1, 30));
                    break;
                case 1:
                    AppendAlphabet(stream, slave, function, Pick(1, 40));
                    break;
                case 2:
                    Append(stream, Frame(slave, function, Pick(0, 20)));
                    break;
                case 3:
                    Append(stream, WithCrc({slave, static_cast<uint8_t>(function | 0x80), Byte()}));
                    break;
                case 4: {
                    TBytes broken = Frame(slave, function, Pick(0, 20));
                    broken[static_cast<size_t>(Pick(0, static_cast<int>(broken.size()) - 1))] ^=
                        static_cast<uint8_t>(Pick(1, 255));
                    Append(stream, broken);
                    break;
                }
                case 5: {
                    TBytes cut = Frame(slave, function, Pick(0, 20));
                    cut.resize(static_cast<size_t>(Pick(1, static_cast<int>(cut.size()))));
                    Append(stream, cut);
                    break;
                }
                default:
                    // A whole valid stream so far followed by its own CRC: several valid lengths.
                    stream = WithCrc(stream);
                    break;
            }
        }
        if (stream.size() > 600) {
            stream.resize(600);
        }
        return stream;
    }

    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

private:
    uint8_t Byte() { return static_cast<uint8_t>(Pick(0, 255)); }

    TBytes Frame(uint8_t slave, uint8_t function, int dataLength) {
        TBytes frame{slave, function};
        for (int i = 0; i < dataLength; ++i) {
            frame.push_back(Byte());
        }
        return WithCrc(frame);
    }

    void AppendNoise(TBytes& stream, int count) {
        for (int i = 0; i < count; ++i) {
            stream.push_back(Byte());
        }
    }

    void AppendAlphabet(TBytes& stream, uint8_t slave, uint8_t function, int count) {
        const uint8_t alphabet[] = {slave, function, static_cast<uint8_t>(function | 0x80)};
        for (int i = 0; i < count; ++i) {
            stream.push_back(alphabet[Pick(0, 2)]);
        }
    }

    static void Append(TBytes& stream, const TBytes& more) {
        stream.insert(stream.end(), more.begin(), more.end());
    }

    std::mt19937 random_;
};

// Feeds the stream in random pieces and, like the receiver, drops the bytes up to and including
// each frame found; after every step the finder must agree with the literal search.
TEST(FindFrameDifferentialTest, AgreesWithTheLiteralSearchOnRandomAndNoisyStreams) {
    TStreamMaker maker(20261207);
    int framesFound = 0;
    for (int round = 0; round < 4000; ++round) {
        const uint8_t slave = static_cast<uint8_t>(maker.Pick(0, 3) == 0 ? maker.Pick(0, 255) : 1);
        const uint8_t function = static_cast<uint8_t>(
            maker.Pick(0, 4) == 0 ? maker.Pick(0, 255) : (maker.Pick(0, 1) ? 3 : 0x83));
        const TBytes stream = maker.Make(slave, function);

        TBytes held;
        TFrameFinder finder;
        finder.Reset(slave, function);
        size_t next = 0;
        while (next < stream.size()) {
            const size_t piece = static_cast<size_t>(maker.Pick(1, 40));
            const size_t end = std::min(stream.size(), next + piece);
            held.insert(held.end(), stream.begin() + static_cast<long>(next),
                        stream.begin() + static_cast<long>(end));
            next = end;
            finder.Scan(held.data(), static_cast<int>(held.size()));
            for (;;) {
                const auto ours = finder.Frame();
                const auto literal =
                    LiteralFindFrame(held.data(), static_cast<int>(held.size()), slave, function);
                ASSERT_EQ(ours.has_value(), literal.has_value()) << "round " << round;
                if (!ours) {
                    break;
                }
                ASSERT_EQ(ours->Start, literal->Start) << "round " << round;
                ASSERT_EQ(ours->Length, literal->Length) << "round " << round;
                ++framesFound;
                const int dropped = ours->Start + ours->Length;
                held.erase(held.begin(), held.begin() + dropped);
                finder.Discard(dropped);
            }
        }
    }
    // The streams must really exercise the finding, not only the rejecting.
    EXPECT_GT(framesFound, 2000);
}

TEST(FindFrameDifferentialTest, AgreesOnWholeBuffersOfAddressAndFunctionBytes) {
    TStreamMaker maker(7);
    for (int round = 0; round < 300; ++round) {
        TBytes stream(static_cast<size_t>(maker.Pick(0, 200)));
        for (uint8_t& byte : stream) {
            byte = maker.Pick(0, 1) ? 0x01 : 0x03;
        }
        const auto ours = FindFrame(stream.data(), static_cast<int>(stream.size()), 0x01, 0x03);
        const auto literal =
            LiteralFindFrame(stream.data(), static_cast<int>(stream.size()), 0x01, 0x03);
        ASSERT_EQ(ours.has_value(), literal.has_value()) << "round " << round;
        if (ours) {
            EXPECT_EQ(ours->Start, literal->Start);
            EXPECT_EQ(ours->Length, literal->Length);
        }
    }
}

}  // namespace
