#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ErrorText.h"
#include "FakeLink.h"

namespace {

using TEvents = std::vector<std::string>;

const TBytes kReadTwo = {0x03, 0x00, 0x00, 0x00, 0x02};
const TBytes kAnswerTwo = WithCrc({0x01, 0x03, 0x04, 0x01, 0x02, 0x03, 0x04});

struct TLineCase {
    uint8_t Dtr;
    uint8_t Rts;
    uint8_t Invert;
    TEvents Transmit;
    TEvents ReceiveEvents;
};

TEST(Rs485Test, DirectionLinesAndPurgesFollowTheOptions) {
    const TLineCase cases[] = {
        {0, 0, 0, {"purge rx tx"}, {}},
        {0, 0, 1, {"purge rx tx"}, {}},
        {1, 0, 0, {"dtr 0", "purge rx tx"}, {"dtr 1"}},
        {1, 0, 1, {"dtr 1", "purge rx tx"}, {"dtr 0"}},
        {0, 1, 0, {"rts 0", "purge rx tx"}, {"rts 1"}},
        {0, 1, 1, {"rts 1", "purge rx tx"}, {"rts 0"}},
        {1, 1, 0, {"dtr 0", "rts 0", "purge rx tx"}, {"dtr 1", "rts 1"}},
        {1, 1, 1, {"dtr 1", "rts 1", "purge rx tx"}, {"dtr 0", "rts 0"}},
    };
    for (const TLineCase& test : cases) {
        TFakeLink fake;
        ASSERT_TRUE(fake.Link.Open(1, 9600));
        fake.Link.SetControl(test.Dtr, test.Rts, test.Invert);
        fake.Io->Events.clear();
        EXPECT_TRUE(fake.Link.TxMode());
        EXPECT_EQ(fake.Io->Events, test.Transmit)
            << int{test.Dtr} << int{test.Rts} << int{test.Invert};
        fake.Io->Events.clear();
        EXPECT_TRUE(fake.Link.RxMode());
        EXPECT_EQ(fake.Io->Events, test.ReceiveEvents)
            << int{test.Dtr} << int{test.Rts} << int{test.Invert};
    }
}

TEST(Rs485Test, EveryStepRunsAfterAFailedLineChange) {
    TFakeLink fake;
    ASSERT_TRUE(fake.Link.Open(1, 9600));
    fake.Link.SetControl(1, 1, 0);
    fake.Io->FailModemLines = true;
    fake.Io->Events.clear();
    EXPECT_FALSE(fake.Link.TxMode());
    EXPECT_EQ(fake.Io->Events, (TEvents{"dtr 0", "rts 0", "purge rx tx"}));
    EXPECT_FALSE(fake.Link.RxMode());
    fake.Io->FailModemLines = false;
    fake.Io->FailDiscard = true;
    fake.Io->Events.clear();
    EXPECT_FALSE(fake.Link.TxMode());
    EXPECT_EQ(fake.Io->Events, (TEvents{"dtr 0", "rts 0", "purge rx tx"}));
}

TEST(Rs485Test, NothingIsTouchedWithoutAnOpenPort) {
    TFakeLink fake;
    fake.Link.SetControl(1, 1, 0);
    EXPECT_FALSE(fake.Link.TxMode());
    EXPECT_FALSE(fake.Link.RxMode());
    EXPECT_FALSE(fake.Link.SetDtr(1));
    EXPECT_FALSE(fake.Link.PurgeRx());
    EXPECT_TRUE(fake.Io->Events.empty());
}

TEST(Rs485Test, OnlyLevelOneRaisesALine) {
    TFakeLink fake;
    ASSERT_TRUE(fake.Link.Open(1, 9600));
    fake.Io->Events.clear();
    fake.Link.SetDtr(2);
    fake.Link.SetRts(1);
    fake.Link.SetRts(0);
    EXPECT_EQ(fake.Io->Events, (TEvents{"dtr 0", "rts 1", "rts 0"}));
}

TEST(Comp32Test, PortNumbersMapToDevicePaths) {
    TFakeLink fake;
    fake.Link.MapPort(7, "/dev/ttyUSB0");
    EXPECT_EQ(fake.Link.PortPath(1), "/dev/fake0");
    EXPECT_EQ(fake.Link.PortPath(3), PlatformPortPath(3));
    EXPECT_EQ(fake.Link.PortPath(7), "/dev/ttyUSB0");
    EXPECT_EQ(fake.Link.PortPath(255), PlatformPortPath(255));
    EXPECT_EQ(fake.Link.PortPath(0), "");

    EXPECT_FALSE(fake.Link.Open(0, 9600));
    EXPECT_FALSE(fake.Link.IsOpen());
    EXPECT_TRUE(fake.Io->Events.empty());

    ASSERT_TRUE(fake.Link.Open(3, 19200));
    EXPECT_EQ(fake.Link.PortName, PlatformPortPath(3));
    EXPECT_EQ(fake.Io->Events, (TEvents{"open " + PlatformPortPath(3) + " 19200", "purge rx tx"}));
}

TEST(Comp32Test, OpenClosesAnOpenPortFirstAndFailsClosed) {
    TFakeLink fake;
    ASSERT_TRUE(fake.Link.Open(1, 9600));
    fake.Io->Events.clear();
    fake.Io->FailDiscard = true;
    EXPECT_FALSE(fake.Link.Open(1, 9600));
    EXPECT_FALSE(fake.Link.IsOpen());
    EXPECT_EQ(fake.Io->Events, (TEvents{"close", "open /dev/fake0 9600", "purge rx tx", "close"}));

    fake.Io->FailDiscard = false;
    fake.Io->FailOpen = true;
    EXPECT_FALSE(fake.Link.Open(1, 9600));
    EXPECT_FALSE(fake.Link.IsOpen());
    EXPECT_FALSE(fake.Link.Close());
}

TEST(Comp32Test, PurgeFlagsChooseTheQueues) {
    TFakeLink fake;
    ASSERT_TRUE(fake.Link.Open(1, 9600));
    fake.Io->Events.clear();
    fake.Link.Purge(PurgeTxAbort);
    fake.Link.Purge(PurgeRxClear);
    fake.Link.Purge(PurgeTxAbort | PurgeRxAbort);
    fake.Link.PurgeTx();
    EXPECT_EQ(fake.Io->Events, (TEvents{"purge tx", "purge rx", "purge rx tx", "purge tx"}));
}

TEST(Comp32Test, WriteIsBoundedByTheLineTimeOfItsBytesPlusOneSecond) {
    EXPECT_EQ(TComp32::WriteLimitMs(256, 9600), 267U + 1000U);
    EXPECT_EQ(TComp32::WriteLimitMs(256, 1200), 2134U + 1000U);
    EXPECT_EQ(TComp32::WriteLimitMs(8, 115200), 1U + 1000U);
    EXPECT_EQ(TComp32::WriteLimitMs(0, 9600), 1000U);

    TFakeLink fake;
    ASSERT_TRUE(fake.Link.Connect(1, 1, 1200));
    fake.BuildRequest(kReadTwo);
    EXPECT_TRUE(fake.Link.Transact(0));
    EXPECT_EQ(fake.Io->LastWriteLimitMs, TComp32::WriteLimitMs(8, 1200));
}

TEST(Ravo32Test, ConnectOpensAndTurnsTheLineToReceive) {
    TFakeLink fake;
    fake.Link.SetControl(0, 1, 0);
    ASSERT_TRUE(fake.Link.Connect(1, 0x11, 9600));
    EXPECT_EQ(fake.Io->Events, (TEvents{"open /dev/fake0 9600", "purge rx tx", "rts 1"}));
    EXPECT_EQ(fake.Link.Frame.FrameSlave, 0x11);
    EXPECT_EQ(fake.Link.Frame.FrameSize, 256);
    EXPECT_EQ(fake.Link.GetError(), ErrorCode::None);
}

TEST(Ravo32Test, ConnectFailuresLeaveThePortClosedWithCode122) {
    TFakeLink fake;
    fake.Io->FailOpen = true;
    EXPECT_FALSE(fake.Link.Connect(1, 1, 9600));
    EXPECT_EQ(fake.Link.GetError(), ErrorCode::PortOpen);
    EXPECT_FALSE(fake.Link.Frame.FrameAdd(0x03));

    fake.Io->FailOpen = false;
    fake.Io->FailModemLines = true;
    fake.Link.SetControl(1, 0, 0);
    EXPECT_FALSE(fake.Link.Connect(1, 1, 9600));
    EXPECT_FALSE(fake.Link.IsOpen());
    EXPECT_EQ(fake.Link.GetError(), ErrorCode::PortOpen);
}

TEST(Ravo32Test, TransactSwitchesDirectionAroundTheWrite) {
    TFakeLink fake;
    fake.Link.SetControl(1, 0, 1);
    ASSERT_TRUE(fake.Link.Connect(1, 1, 9600));
    fake.BuildRequest(kReadTwo);
    fake.Io->QueueChunk(kAnswerTwo);
    fake.Io->Events.clear();
    ASSERT_TRUE(fake.Link.Transact(1000));
    EXPECT_EQ(fake.Io->Events,
              (TEvents{"dtr 1", "purge rx tx", "write 010300000002C40B", "dtr 0"}));
    EXPECT_EQ(fake.Answer(), kAnswerTwo);
    // What the port holds at the turn is taken without waiting; then the answer is awaited for
    // what is left of the time-out, which the clock may have shortened by a moment.
    ASSERT_EQ(fake.Io->ReadWaits.size(), 2U);
    EXPECT_EQ(fake.Io->ReadWaits[0], 0U);
    EXPECT_LE(fake.Io->ReadWaits[1], 1000U);
    EXPECT_GT(fake.Io->ReadWaits[1], 500U);
}

TEST(Ravo32Test, FailedWritesAre124AndStillTurnTheLineBack) {
    TFakeLink fake;
    fake.BuildRequest(kReadTwo);
    EXPECT_FALSE(fake.Link.Transact(1000));
    EXPECT_EQ(fake.Link.GetError(), ErrorCode::PortOperation);

    fake.Link.SetControl(0, 1, 0);
    ASSERT_TRUE(fake.Link.Connect(1, 1, 9600));
    fake.BuildRequest(kReadTwo);
    fake.Io->FailWrite = true;
    fake.Io->Events.clear();
    EXPECT_FALSE(fake.Link.Transact(1000));
    EXPECT_EQ(fake.Link.GetError(), ErrorCode::PortOperation);
    EXPECT_EQ(fake.Io->Events.back(), "rts 1");
    EXPECT_TRUE(fake.Io->ReadWaits.empty());

    fake.Io->FailWrite = false;
    fake.Io->ShortWriteBy = 1;
    EXPECT_FALSE(fake.Link.Transact(1000));
    EXPECT_EQ(fake.Link.GetError(), ErrorCode::PortOperation);
}

TEST(Ravo32Test, TimeOutZeroSendsAndReadsNothing) {
    TFakeLink fake;
    ASSERT_TRUE(fake.Link.Connect(1, 1, 9600));
    fake.BuildRequest(kReadTwo);
    fake.Io->QueueChunk(kAnswerTwo);
    EXPECT_TRUE(fake.Link.Transact(0));
    EXPECT_EQ(fake.Io->Written.size(), 1U);
    EXPECT_TRUE(fake.Io->ReadWaits.empty());
    EXPECT_EQ(fake.Link.GetError(), ErrorCode::None);
}

struct TReceiveCase {
    std::string Name;
    uint8_t Echo;
    TBytes Pdu;
    std::vector<TBytes> Chunks;
    bool Accepted;
    TBytes Answer;
};

std::vector<TReceiveCase> ReceiveCases() {
    const TBytes request = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02});
    const TBytes writeOne = {0x06, 0x00, 0x01, 0x00, 0x03};
    const TBytes writeAnswer = WithCrc({0x01, 0x06, 0x00, 0x01, 0x00, 0x03});
    const TBytes head(kAnswerTwo.begin(), kAnswerTwo.begin() + 3);
    const TBytes middle(kAnswerTwo.begin() + 3, kAnswerTwo.begin() + 6);
    const TBytes tail(kAnswerTwo.begin() + 6, kAnswerTwo.end());
    return {
        {"answer in one piece", 0, kReadTwo, {kAnswerTwo}, true, kAnswerTwo},
        {"answer in three pieces", 0, kReadTwo, {head, middle, tail}, true, kAnswerTwo},
        {"noise before the answer",
         0,
         kReadTwo,
         {{0x00, 0xFF, 0x01}, kAnswerTwo},
         true,
         kAnswerTwo},
        {"echo then answer", 1, kReadTwo, {request, kAnswerTwo}, true, kAnswerTwo},
        {"echo and answer in the same read",
         1,
         kReadTwo,
         {Concat({request, kAnswerTwo})},
         true,
         kAnswerTwo},
        {"echo, then the answer in pieces",
         1,
         kReadTwo,
         {Concat({request, head}), middle, tail},
         true,
         kAnswerTwo},
        {"echo option without an echo", 1, kReadTwo, {kAnswerTwo}, true, kAnswerTwo},
        {"answer equal to the request taken for the echo", 1, writeOne, {writeAnswer}, false, {}},
        {"answer equal to the request without the echo option",
         0,
         writeOne,
         {writeAnswer},
         true,
         writeAnswer},
        {"echo and equal answer in one read",
         1,
         writeOne,
         {Concat({writeAnswer, writeAnswer})},
         true,
         writeAnswer},
        {"echo off: the echo is the answer",
         0,
         kReadTwo,
         {Concat({request, kAnswerTwo})},
         true,
         request},
        {"only one echo removed", 1, kReadTwo, {Concat({request, request})}, true, request},
        {"answer from another slave",
         0,
         kReadTwo,
         {WithCrc({0x02, 0x03, 0x04, 0x01, 0x02, 0x03, 0x04})},
         false,
         {}},
        {"damaged CRC",
         0,
         kReadTwo,
         {Concat({TBytes(kAnswerTwo.begin(), kAnswerTwo.end() - 1), {0x00}})},
         false,
         {}},
        {"more than 1024 bytes", 0, kReadTwo, {TBytes(600, 0x55), TBytes(600, 0x55)}, false, {}},
        {"exception answer",
         0,
         kReadTwo,
         {WithCrc({0x01, 0x83, 0x02})},
         true,
         WithCrc({0x01, 0x83, 0x02})},
    };
}

TEST(Ravo32Test, ReceiveTakesTheAnswerFrame) {
    for (const TReceiveCase& test : ReceiveCases()) {
        TFakeLink fake;
        fake.Link.SetEcho(test.Echo);
        ASSERT_TRUE(fake.Link.Connect(1, 0x01, 9600));
        fake.BuildRequest(test.Pdu);
        for (const TBytes& chunk : test.Chunks) {
            fake.Io->QueueChunk(chunk);
        }
        EXPECT_EQ(fake.Link.Transact(5000), test.Accepted) << test.Name;
        if (test.Accepted) {
            EXPECT_EQ(fake.Link.GetError(), ErrorCode::None) << test.Name;
            EXPECT_EQ(fake.Answer(), test.Answer) << test.Name;
        } else {
            EXPECT_EQ(fake.Link.GetError(), ErrorCode::AnswerTimeout) << test.Name;
            EXPECT_EQ(fake.Link.Frame.AnswerLen, 0) << test.Name;
        }
        EXPECT_EQ(fake.Link.GetEcho(), test.Echo) << test.Name << ": the option itself stays";
    }
}

// Bytes that reach the port at chosen moments of an exchange: left from before it, while the
// request is on the line (the writer turns the line back only after them), and while the
// receiver waits.
struct TTurnaroundCase {
    std::string Name;
    TBytes Pdu;
    TBytes Before;
    TBytes DuringWrite;
    std::vector<TBytes> Later;
    bool Accepted;
    TBytes Answer;
};

std::vector<TTurnaroundCase> TurnaroundCases() {
    const TBytes request = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02});
    const TBytes requestHead(request.begin(), request.begin() + 3);
    const TBytes requestTail(request.begin() + 3, request.end());
    const TBytes answerHead(kAnswerTwo.begin(), kAnswerTwo.begin() + 4);
    const TBytes answerTail(kAnswerTwo.begin() + 4, kAnswerTwo.end());
    // The answer's address and function code are the request's first two bytes.
    const TBytes answerStart(kAnswerTwo.begin(), kAnswerTwo.begin() + 2);
    const TBytes answerRest(kAnswerTwo.begin() + 2, kAnswerTwo.end());
    const TBytes staleAnswer = WithCrc({0x01, 0x03, 0x04, 0x09, 0x09, 0x09, 0x09});
    TBytes damagedEcho = request;
    damagedEcho[4] ^= 0x40;
    std::vector<TBytes> echoByteByByte;
    for (size_t i = 1; i < request.size(); ++i) {
        echoByteByByte.push_back({request[i]});
    }
    echoByteByByte.push_back(kAnswerTwo);

    // A write of one register is answered with a copy of its request.
    const TBytes writeOne = {0x06, 0x00, 0x01, 0x00, 0x03};
    const TBytes copy = WithCrc({0x01, 0x06, 0x00, 0x01, 0x00, 0x03});
    const TBytes copyHead(copy.begin(), copy.begin() + 3);
    const TBytes copyTail(copy.begin() + 3, copy.end());

    return {
        {"the whole answer came before the turn", kReadTwo, {}, kAnswerTwo, {}, true, kAnswerTwo},
        {"part of the answer came before the turn",
         kReadTwo,
         {},
         answerHead,
         {answerTail},
         true,
         kAnswerTwo},
        {"only the answer's address and function code came before the turn",
         kReadTwo,
         {},
         answerStart,
         {answerRest},
         true,
         kAnswerTwo},
        {"echo before the turn, answer after it",
         kReadTwo,
         {},
         request,
         {kAnswerTwo},
         true,
         kAnswerTwo},
        {"echo and answer before the turn",
         kReadTwo,
         {},
         Concat({request, kAnswerTwo}),
         {},
         true,
         kAnswerTwo},
        {"echo and the answer's first bytes before the turn",
         kReadTwo,
         {},
         Concat({request, answerHead}),
         {answerTail},
         true,
         kAnswerTwo},
        {"part of the echo before the turn, its rest after it",
         kReadTwo,
         {},
         requestHead,
         {requestTail, kAnswerTwo},
         true,
         kAnswerTwo},
        {"part of the echo before the turn, its rest and the answer in one read",
         kReadTwo,
         {},
         requestHead,
         {Concat({requestTail, kAnswerTwo})},
         true,
         kAnswerTwo},
        {"echo still arriving byte by byte",
         kReadTwo,
         {},
         {request[0]},
         echoByteByByte,
         true,
         kAnswerTwo},
        {"noise before the turn, answer after it",
         kReadTwo,
         {},
         {0x00, 0xFF},
         {kAnswerTwo},
         true,
         kAnswerTwo},
        {"noise like the request's first byte, then the answer",
         kReadTwo,
         {},
         {0x01},
         {kAnswerTwo},
         true,
         kAnswerTwo},
        {"damaged echo before the turn, answer after it",
         kReadTwo,
         {},
         damagedEcho,
         {kAnswerTwo},
         true,
         kAnswerTwo},
        {"a late answer of an earlier exchange is dropped",
         kReadTwo,
         staleAnswer,
         {},
         {kAnswerTwo},
         true,
         kAnswerTwo},
        {"a late answer of an earlier exchange, then the answer before the turn",
         kReadTwo,
         staleAnswer,
         kAnswerTwo,
         {},
         true,
         kAnswerTwo},
        {"copy answer: echo and answer before the turn",
         writeOne,
         {},
         Concat({copy, copy}),
         {},
         true,
         copy},
        {"copy answer: echo before the turn, answer after it",
         writeOne,
         {},
         copy,
         {copy},
         true,
         copy},
        {"copy answer: part of the echo before the turn, the rest and the answer after it",
         writeOne,
         {},
         copyHead,
         {copyTail, copy},
         true,
         copy},
        {"copy answer: a lone copy before the turn is taken for the echo",
         writeOne,
         {},
         copy,
         {},
         false,
         {}},
    };
}

TEST(Ravo32Test, BytesBeforeTheTurnAreDroppedOnlyWhenTheyRepeatTheRequest) {
    for (const TTurnaroundCase& test : TurnaroundCases()) {
        for (const uint8_t echo : {uint8_t{0}, uint8_t{1}}) {
            const std::string name = test.Name + (echo != 0 ? ", echo option on" : "");
            TFakeLink fake;
            fake.Link.SetEcho(echo);
            ASSERT_TRUE(fake.Link.Connect(1, 0x01, 9600));
            fake.BuildRequest(test.Pdu);
            fake.Io->Arrive(test.Before);
            if (!test.DuringWrite.empty()) {
                fake.Io->ArriveDuringWrite(test.DuringWrite);
            }
            for (const TBytes& chunk : test.Later) {
                fake.Io->QueueChunk(chunk);
            }
            EXPECT_EQ(fake.Link.Transact(5000), test.Accepted) << name;
            if (test.Accepted) {
                EXPECT_EQ(fake.Link.GetError(), ErrorCode::None) << name;
                EXPECT_EQ(Hex(fake.Answer()), Hex(test.Answer)) << name;
            } else {
                EXPECT_EQ(fake.Link.GetError(), ErrorCode::AnswerTimeout) << name;
            }
        }
    }
}

TEST(Ravo32Test, ReadsWaitOnlyWhatIsLeftOfTheTimeOut) {
    TFakeLink fake;
    ASSERT_TRUE(fake.Link.Connect(1, 0x01, 9600));
    fake.BuildRequest(kReadTwo);
    fake.Io->QueueChunk({0x01});
    fake.Io->QueueChunk({0x03});
    EXPECT_FALSE(fake.Link.Transact(60000));
    ASSERT_EQ(fake.Io->ReadWaits.size(), 4U);
    EXPECT_EQ(fake.Io->ReadWaits[0], 0U);
    EXPECT_EQ(fake.Io->ReadWaits[1], 60000U);
    for (size_t i = 2; i < fake.Io->ReadWaits.size(); ++i) {
        EXPECT_LE(fake.Io->ReadWaits[i], fake.Io->ReadWaits[i - 1]);
        EXPECT_GT(fake.Io->ReadWaits[i], 50000U);
    }
}

TEST(Ravo32Test, AStopRequestFailsTheExchangeAndCutsThePause) {
    TFakeLink fake;
    ASSERT_TRUE(fake.Link.Connect(1, 0x01, 9600));
    fake.BuildRequest(kReadTwo);
    fake.Io->QueueChunk(kAnswerTwo);
    fake.Link.RequestStop();
    EXPECT_TRUE(fake.Link.StopRequested());
    EXPECT_FALSE(fake.Link.Transact(1000));
    EXPECT_EQ(fake.Link.GetError(), ErrorCode::PortOperation);
    EXPECT_FALSE(fake.Link.Pause(60000));

    fake.Link.ResetStop();
    EXPECT_FALSE(fake.Link.StopRequested());
    EXPECT_TRUE(fake.Link.Pause(1));
    EXPECT_TRUE(fake.Link.Transact(1000));
}

TEST(Ravo32Test, DisconnectClearsTheErrorAndClosesThePort) {
    TFakeLink fake;
    ASSERT_TRUE(fake.Link.Connect(1, 0x01, 9600));
    fake.BuildRequest(kReadTwo);
    EXPECT_FALSE(fake.Link.Transact(250));
    EXPECT_EQ(fake.Link.GetError(), ErrorCode::AnswerTimeout);
    EXPECT_TRUE(fake.Link.Disconnect());
    EXPECT_FALSE(fake.Link.IsOpen());
    EXPECT_EQ(fake.Link.GetError(), ErrorCode::None);
    EXPECT_FALSE(fake.Link.Disconnect());
}

}  // namespace
