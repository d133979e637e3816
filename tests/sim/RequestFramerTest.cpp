#include <gtest/gtest.h>

#include <string>

#include "RequestFramer.h"
#include "TestFrames.h"

namespace {

// A read request with the CRC every Modbus text shows for it.
const TBytes kRead = {0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B};
const TBytes kReadOther = WithCrc({0x05, 0x04, 0x00, 0x10, 0x00, 0x01});
const TBytes kBroadcastWrite = WithCrc({0x00, 0x06, 0x00, 0x09, 0xAB, 0xCD});
const TBytes kWriteMultiple =
    WithCrc({0x01, 0x10, 0x00, 0x20, 0x00, 0x02, 0x04, 0x12, 0x34, 0x56, 0x78});
const TBytes kFileRecord = WithCrc({0x01, 0x14, 0x07, 0x06, 0x00, 0x06, 0x00, 0x03, 0x00, 0x10});
const TBytes kMaskWrite = WithCrc({0x01, 0x16, 0x00, 0x04, 0x00, 0xF2, 0x00, 0x25});
const TBytes kSection = WithCrc({0x01, 0x45});
const TBytes kSectionWithData = WithCrc({0x01, 0x45, 0x00, 0x00});
const TBytes kBinding = WithCrc({0x01, 0x46, 0x11, 0x22, 0x33, 0x44, 0x55});
// The head of a write of ten registers: the frame needs 29 bytes.
const TBytes kLongWriteHead = {0x01, 0x10, 0x00, 0x00, 0x00, 0x0A, 0x14, 0x00, 0x01};

TBytes Part(const TBytes& bytes, size_t from, size_t to) {
    return TBytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                  bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

TBytes Damaged(TBytes frame) {
    frame.back() ^= 0x40;
    return frame;
}

TBytes Repeated(uint8_t byte, size_t count) {
    return TBytes(count, byte);
}

struct TStep {
    TBytes Bytes;
    bool Expire = false;
};

struct TFramingCase {
    std::string Name;
    std::vector<TStep> Steps;
    std::vector<TBytes> Frames;
    size_t HeldAfter;
};

std::vector<TStep> ByteByByte(const TBytes& bytes) {
    std::vector<TStep> steps;
    for (const uint8_t byte : bytes) {
        steps.push_back({{byte}});
    }
    return steps;
}

TEST(RequestFramerTest, CutsFramesOutOfTheStream) {
    const TFramingCase cases[] = {
        {"whole frame", {{kRead}}, {kRead}, 0},
        {"frame byte by byte", ByteByByte(kRead), {kRead}, 0},
        {"frame in three pieces",
         {{Part(kRead, 0, 1)}, {Part(kRead, 1, 4)}, {Part(kRead, 4, 8)}},
         {kRead},
         0},
        {"two frames in one chunk",
         {{Concat({kRead, kWriteMultiple})}},
         {kRead, kWriteMultiple},
         0},
        {"three kinds of length in one chunk",
         {{Concat({kFileRecord, kSection, kMaskWrite})}},
         {kFileRecord, kSection, kMaskWrite},
         0},
        {"frame and the start of the next",
         {{Concat({kRead, Part(kWriteMultiple, 0, 5)})}, {Part(kWriteMultiple, 5, 13)}},
         {kRead, kWriteMultiple},
         0},
        {"write multiple split around its byte count",
         {{Part(kWriteMultiple, 0, 6)},
          {Part(kWriteMultiple, 6, 7)},
          {Part(kWriteMultiple, 7, 13)}},
         {kWriteMultiple},
         0},
        {"file record request byte by byte", ByteByByte(kFileRecord), {kFileRecord}, 0},
        {"other addresses and broadcasts are framed too",
         {{Concat({kReadOther, kBroadcastWrite})}},
         {kReadOther, kBroadcastWrite},
         0},
        {"garbage with an open code before a frame",
         {{Concat({{0xFF, 0xFF, 0x00}, kRead})}},
         {kRead},
         0},
        {"garbage with a fixed code before a frame",
         {{Concat({{0x01, 0x03, 0x77}, kRead})}},
         {kRead},
         0},
        {"garbage in its own chunk before a frame", {{{0x7E, 0x7E}}, {kRead}}, {kRead}, 0},
        {"bad CRC, then a good frame", {{Concat({Damaged(kRead), kReadOther})}}, {kReadOther}, 0},
        {"bad CRC on its own is held as noise", {{Damaged(kRead)}}, {}, 7},
        {"byte count too large for any frame",
         {{Concat({{0x01, 0x10, 0x00, 0x00, 0x00, 0x01, 0xFF}, kRead})}},
         {kRead},
         0},
        {"open code ends where the CRC fits",
         {{Part(kSectionWithData, 0, 2)}, {Part(kSectionWithData, 2, 6)}},
         {kSectionWithData},
         0},
        {"open code with data byte by byte", ByteByByte(kBinding), {kBinding}, 0},
        {"open-code frames back to back",
         {{Concat({kSection, kBinding, kSectionWithData})}},
         {kSection, kBinding, kSectionWithData},
         0},
        {"open code with a bad CRC waits", {{Damaged(kBinding)}}, {}, 9},
        {"partial frame waits for its rest", {{Part(kWriteMultiple, 0, 8)}}, {}, 8},
        {"a long partial frame swallows what follows until the line goes quiet",
         {{kLongWriteHead}, {kRead}},
         {},
         17},
        {"expiry drops a partial frame", {{kLongWriteHead}, {{}, true}, {kRead}}, {kRead}, 0},
        {"expiry leaves nothing behind", {{Part(kRead, 0, 5)}, {{}, true}}, {}, 0},
        {"open-code noise longer than any frame", {{Repeated(0xFF, 300)}, {kRead}}, {kRead}, 0},
    };
    for (const TFramingCase& test : cases) {
        TRequestFramer framer;
        std::vector<TBytes> frames;
        for (const TStep& step : test.Steps) {
            if (step.Expire) {
                framer.Expire();
            }
            for (TBytes& frame : framer.Push(step.Bytes)) {
                frames.push_back(std::move(frame));
            }
            EXPECT_LE(framer.Held(), TRequestFramer::kMaxFrame) << test.Name;
        }
        EXPECT_EQ(frames, test.Frames) << test.Name;
        EXPECT_EQ(framer.Held(), test.HeldAfter) << test.Name;
    }
}

TEST(RequestFramerTest, FramesEveryRequestOfALongMixedStreamInOrder) {
    const std::vector<TBytes> requests = {kRead,    kWriteMultiple, kSection,         kFileRecord,
                                          kBinding, kMaskWrite,     kSectionWithData, kReadOther};
    TBytes stream;
    for (int round = 0; round < 20; ++round) {
        for (const TBytes& request : requests) {
            stream.insert(stream.end(), request.begin(), request.end());
        }
    }
    // Chunk sizes that fall everywhere inside the frames.
    for (size_t chunk = 1; chunk <= 17; ++chunk) {
        TRequestFramer framer;
        std::vector<TBytes> frames;
        for (size_t at = 0; at < stream.size(); at += chunk) {
            for (TBytes& frame :
                 framer.Push(Part(stream, at, std::min(stream.size(), at + chunk)))) {
                frames.push_back(std::move(frame));
            }
        }
        ASSERT_EQ(frames.size(), 20 * requests.size()) << "chunk " << chunk;
        for (size_t i = 0; i < frames.size(); ++i) {
            ASSERT_EQ(frames[i], requests[i % requests.size()])
                << "chunk " << chunk << " frame " << i;
        }
        EXPECT_EQ(framer.Held(), 0U);
    }
}

}  // namespace
