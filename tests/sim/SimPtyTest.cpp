// The simulator program over a real pseudo-terminal, talked to as a master would.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "PtyClient.h"
#include "SpawnedProgram.h"
#include "TestFrames.h"

namespace {

// Bound of every wait for something that should come; only a broken simulator reaches it.
constexpr int kWaitMs = 5000;
// How long the line is watched for bytes that must not come.
constexpr int kQuietMs = 300;

const TBytes kRead = {0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B};
const TBytes kAnswer = {0x01, 0x03, 0x04, 0x00, 0x00, 0x00, 0x01, 0x3B, 0xF3};

std::vector<std::string> WithVerbose(std::vector<std::string> options) {
    options.push_back("--verbose");
    return options;
}

struct TExchange {
    TBytes Request;
    TBytes Answer;
};

TEST(SimPtyTest, AnswersRequestsByteForByte) {
    const TExchange exchanges[] = {
        {{0x01, 0x03, 0x00, 0x0A, 0x00, 0x05, 0xA5, 0xCB},
         {0x01, 0x03, 0x0A, 0x00, 0x0A, 0x00, 0x0B, 0x00, 0x0C, 0x00, 0x0D, 0x00, 0x0E, 0xE0,
          0xD0}},
        {{0x01, 0x06, 0x00, 0x07, 0x04, 0xD2, 0xBA, 0x96},
         {0x01, 0x06, 0x00, 0x07, 0x04, 0xD2, 0xBA, 0x96}},
        {WithCrc({0x01, 0x03, 0x00, 0x07, 0x00, 0x01}), WithCrc({0x01, 0x03, 0x02, 0x04, 0xD2})},
        {WithCrc({0x01, 0x10, 0x00, 0x20, 0x00, 0x02, 0x04, 0x12, 0x34, 0x56, 0x78}),
         WithCrc({0x01, 0x10, 0x00, 0x20, 0x00, 0x02})},
        {WithCrc({0x01, 0x03, 0x00, 0x1F, 0x00, 0x03}),
         WithCrc({0x01, 0x03, 0x06, 0x00, 0x1F, 0x12, 0x34, 0x56, 0x78})},
        {WithCrc({0x01, 0x04, 0x00, 0x03, 0x00, 0x02}),
         WithCrc({0x01, 0x04, 0x04, 0x10, 0x03, 0x10, 0x04})},
        {WithCrc({0x01, 0x03, 0x90, 0x00, 0x00, 0x01}), WithCrc({0x01, 0x83, 0x02})},
        {WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x7E}), WithCrc({0x01, 0x83, 0x03})},
        {WithCrc({0x01, 0x14, 0x07, 0x06, 0x00, 0x06, 0x00, 0x1F, 0x00, 0x03}),
         WithCrc({0x01, 0x14, 0x08, 0x07, 0x06, 0x1F, 0x04, 0x00, 0x00, 0x79, 0x18})},
        {WithCrc({0x01, 0x45}), WithCrc(Concat({{0x01, 0x45, 0x20, 0x00, 0x01, 0x00, 0x03, 0x01,
                                                 0x00, 0x00, 0x01, 0x20, 0x26, 0x00, 0x01},
                                                TBytes(20, 0)}))},
        {WithCrc({0x01, 0x46, 0xAA, 0x55}), WithCrc({0x01, 0x46, 0x00, 0xAA, 0x55})},
        {WithCrc({0x01, 0x47}), WithCrc({0x01, 0x47, 0x00})},
        {WithCrc({0x01, 0x2B, 0x0E, 0x01, 0x00}), WithCrc({0x01, 0xAB, 0x01})},
    };
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({}));
    TPtyClient port;
    ASSERT_TRUE(port.Open(sim.Port)) << sim.Port;
    for (const TExchange& exchange : exchanges) {
        ASSERT_TRUE(port.Send(exchange.Request));
        EXPECT_EQ(Hex(port.Receive(exchange.Answer.size(), kWaitMs)), Hex(exchange.Answer))
            << "request " << Hex(exchange.Request);
    }
    EXPECT_EQ(sim.Process.Stop(), 0);
}

struct TFaultCase {
    std::string Name;
    std::vector<std::string> Options;
    TBytes Request;
    TBytes Expected;  // everything on the line after the request
};

TEST(SimPtyTest, LineFaultsShapeTheBytes) {
    const TFaultCase cases[] = {
        {"echo", {"--echo"}, kRead, Concat({kRead, kAnswer})},
        {"wrong address",
         {"--wrong-address"},
         kRead,
         {0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x01, 0x08, 0xF3}},
        {"wrong address from 17",
         {"--address", "17", "--wrong-address"},
         WithCrc({0x11, 0x03, 0x00, 0x00, 0x00, 0x02}),
         WithCrc({0x12, 0x03, 0x04, 0x00, 0x00, 0x00, 0x01})},
        {"bad CRC", {"--bad-crc"}, kRead, {0x01, 0x03, 0x04, 0x00, 0x00, 0x00, 0x01, 0x3B, 0x0C}},
        {"exception", {"--exception", "4"}, kRead, {0x01, 0x83, 0x04, 0x40, 0xF3}},
        {"exception with echo",
         {"--exception", "0x02", "--echo"},
         kRead,
         Concat({kRead, WithCrc({0x01, 0x83, 0x02})})},
        {"delay", {"--delay", "50"}, kRead, kAnswer},
        {"pieces", {"--pieces", "4", "--gap", "5"}, kRead, kAnswer},
        {"echo, delay and pieces",
         {"--echo", "--delay", "20", "--pieces", "3"},
         kRead,
         Concat({kRead, kAnswer})},
        {"echo for another slave", {"--echo", "--address", "2"}, kRead, kRead},
    };
    for (const TFaultCase& test : cases) {
        TRunningSim sim;
        ASSERT_TRUE(sim.Start(WithVerbose(test.Options))) << test.Name;
        TPtyClient port;
        ASSERT_TRUE(port.Open(sim.Port)) << test.Name;
        ASSERT_TRUE(port.Send(test.Request)) << test.Name;
        EXPECT_EQ(Hex(port.Receive(test.Expected.size(), kWaitMs)), Hex(test.Expected))
            << test.Name;
        EXPECT_EQ(sim.Process.Stop(), 0) << test.Name;
    }
}

TEST(SimPtyTest, PiecesAreSeparateWritesThatMakeUpTheAnswer) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--pieces", "3", "--gap", "10", "--verbose"}));
    TPtyClient port;
    ASSERT_TRUE(port.Open(sim.Port));
    ASSERT_TRUE(port.Send(kRead));
    EXPECT_EQ(port.Receive(kAnswer.size(), kWaitMs), kAnswer);

    ASSERT_EQ(sim.Process.WaitForLine("rx ", kWaitMs), "rx " + Hex(kRead));
    std::string joined;
    for (int piece = 0; piece < 3; ++piece) {
        const std::optional<std::string> line = sim.Process.ReadLine(kWaitMs);
        ASSERT_TRUE(line) << "piece " << piece;
        ASSERT_EQ(line->substr(0, 3), "tx ");
        EXPECT_EQ(line->size(), 3 + 6U) << "three bytes per piece";
        joined += line->substr(3);
    }
    EXPECT_EQ(joined, Hex(kAnswer));
}

TEST(SimPtyTest, NoiseFloodComesBeforeTheAnswerWithoutItsAddress) {
    for (const bool echo : {false, true}) {
        TRunningSim sim;
        std::vector<std::string> options = {"--noise", "2000"};
        if (echo) {
            options.push_back("--echo");
        }
        ASSERT_TRUE(sim.Start(options));
        TPtyClient port;
        ASSERT_TRUE(port.Open(sim.Port));
        ASSERT_TRUE(port.Send(kRead));
        const size_t echoLength = echo ? kRead.size() : 0;
        const TBytes line = port.Receive(echoLength + 2000 + kAnswer.size(), kWaitMs);
        ASSERT_EQ(line.size(), echoLength + 2000 + kAnswer.size()) << "echo " << echo;
        EXPECT_EQ(TBytes(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(echoLength)),
                  echo ? kRead : TBytes{});
        EXPECT_EQ(TBytes(line.end() - static_cast<std::ptrdiff_t>(kAnswer.size()), line.end()),
                  kAnswer);
        const TBytes noise(line.begin() + static_cast<std::ptrdiff_t>(echoLength),
                           line.end() - static_cast<std::ptrdiff_t>(kAnswer.size()));
        EXPECT_EQ(std::count(noise.begin(), noise.end(), 0x01), 0) << "echo " << echo;
    }
}

TEST(SimPtyTest, SilentDeviceTakesTheRequestAndSaysNothing) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--silent", "--verbose"}));
    TPtyClient port;
    ASSERT_TRUE(port.Open(sim.Port));
    ASSERT_TRUE(port.Send(kRead));
    ASSERT_EQ(sim.Process.ReadLine(kWaitMs), "rx " + Hex(kRead));
    EXPECT_TRUE(port.StaysQuiet(kQuietMs));

    // Writes are still carried out; only the answers never reach the line.
    ASSERT_TRUE(port.Send(WithCrc({0x01, 0x06, 0x00, 0x01, 0x00, 0x2A})));
    ASSERT_TRUE(sim.Process.WaitForLine("rx 010600", kWaitMs));
    EXPECT_TRUE(port.StaysQuiet(kQuietMs));
}

TEST(SimPtyTest, SilentDeviceWithEchoGivesOnlyTheEcho) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--silent", "--echo", "--verbose"}));
    TPtyClient port;
    ASSERT_TRUE(port.Open(sim.Port));
    ASSERT_TRUE(port.Send(kRead));
    EXPECT_EQ(port.Receive(kRead.size(), kWaitMs), kRead);
    ASSERT_EQ(sim.Process.ReadLine(kWaitMs), "rx " + Hex(kRead));
    ASSERT_EQ(sim.Process.ReadLine(kWaitMs), "tx " + Hex(kRead));
    EXPECT_TRUE(port.StaysQuiet(kQuietMs));
}

TEST(SimPtyTest, IgnoresOtherSlavesAndAnswersNoBroadcast) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--verbose"}));
    TPtyClient port;
    ASSERT_TRUE(port.Open(sim.Port));
    // Nothing may come back for the first two: the first bytes on the line must be the answer to
    // the third, which shows the broadcast write.
    ASSERT_TRUE(port.Send(WithCrc({0x05, 0x03, 0x00, 0x09, 0x00, 0x01})));
    ASSERT_TRUE(port.Send(WithCrc({0x00, 0x06, 0x00, 0x09, 0xAB, 0xCD})));
    ASSERT_TRUE(port.Send(WithCrc({0x01, 0x03, 0x00, 0x09, 0x00, 0x01})));
    const TBytes expected = WithCrc({0x01, 0x03, 0x02, 0xAB, 0xCD});
    EXPECT_EQ(Hex(port.Receive(expected.size(), kWaitMs)), Hex(expected));
    EXPECT_EQ(sim.Process.ReadLine(kWaitMs),
              "rx " + Hex(WithCrc({0x05, 0x03, 0x00, 0x09, 0x00, 0x01})));
    EXPECT_EQ(sim.Process.ReadLine(kWaitMs),
              "rx " + Hex(WithCrc({0x00, 0x06, 0x00, 0x09, 0xAB, 0xCD})));
    EXPECT_EQ(sim.Process.ReadLine(kWaitMs),
              "rx " + Hex(WithCrc({0x01, 0x03, 0x00, 0x09, 0x00, 0x01})));
    EXPECT_EQ(sim.Process.ReadLine(kWaitMs), "tx " + Hex(expected));
}

// Faults: a slave that answers at a speed it is not set to, or not at its own; a rate that is not
// a standard one (set as the bridge sets it) read wrongly by the simulator.
TEST(SimPtyTest, SlavesAnswerOnlyAtTheirOwnSpeed) {
    struct TSpeedCase {
        uint32_t Baud;
        std::vector<uint8_t> Answering;
    };
    const TSpeedCase cases[] = {
        {19200, {3, 12}},
        {9600, {7, 12}},
        {14400, {12, 30}},
        {4800, {12}},
    };
    TRunningSim sim;
    ASSERT_TRUE(sim.Start(
        {"--slave", "3@19200", "--slave", "7@9600", "--slave", "12", "--slave", "30@14400"}));
    TPtyClient port;
    ASSERT_TRUE(port.Open(sim.Port));
    for (const TSpeedCase& test : cases) {
        ASSERT_TRUE(port.SetBaud(test.Baud)) << test.Baud;
        TBytes expected;
        for (const uint8_t address : {uint8_t{3}, uint8_t{7}, uint8_t{12}, uint8_t{30}}) {
            ASSERT_TRUE(port.Send(WithCrc({address, 0x03, 0x00, 0x00, 0x00, 0x01})));
            if (std::count(test.Answering.begin(), test.Answering.end(), address) > 0) {
                expected = Concat({expected, WithCrc({address, 0x03, 0x02, 0x00, 0x00})});
            }
        }
        EXPECT_EQ(Hex(port.Receive(expected.size(), kWaitMs)), Hex(expected)) << test.Baud;
        EXPECT_TRUE(port.StaysQuiet(kQuietMs)) << test.Baud;
    }
}

// Requests that come before the answer to the one before it are answered in order, and the
// verbose lines tell of each such overlap (the queue's end-to-end test shows that a master that
// waits causes none).
TEST(SimPtyTest, SeveralRequestsInOneWriteAreAnsweredInOrderAndTheOverlapsTold) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--verbose"}));
    TPtyClient port;
    ASSERT_TRUE(port.Open(sim.Port));
    const TBytes second = WithCrc({0x01, 0x04, 0x00, 0x10, 0x00, 0x01});
    ASSERT_TRUE(port.Send(Concat({kRead, second, WithCrc({0x01, 0x47, 0x01})})));
    const TBytes expected = Concat(
        {kAnswer, WithCrc({0x01, 0x04, 0x02, 0x10, 0x10}), WithCrc({0x01, 0x47, 0x00, 0x01})});
    EXPECT_EQ(Hex(port.Receive(expected.size(), kWaitMs)), Hex(expected));
    EXPECT_TRUE(sim.Process.WaitForLine("overlap " + Hex(kRead), kWaitMs));
    EXPECT_TRUE(sim.Process.WaitForLine("overlap " + Hex(second), kWaitMs));
}

TEST(SimPtyTest, BrokenFrameIsDroppedOnceTheLineGoesQuiet) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--verbose"}));
    TPtyClient port;
    ASSERT_TRUE(port.Open(sim.Port));
    // The head of a ten-register write: without the drop it would swallow the next request.
    ASSERT_TRUE(port.Send({0x01, 0x10, 0x00, 0x00, 0x00, 0x0A, 0x14, 0x00, 0x01}));
    EXPECT_TRUE(port.StaysQuiet(kQuietMs));
    ASSERT_TRUE(port.Send(kRead));
    EXPECT_EQ(port.Receive(kAnswer.size(), kWaitMs), kAnswer);
    EXPECT_EQ(sim.Process.ReadLine(kWaitMs), "rx " + Hex(kRead));
}

TEST(SimPtyTest, PortCanBeClosedAndOpenedAgain) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({}));
    for (int round = 0; round < 3; ++round) {
        TPtyClient port;
        ASSERT_TRUE(port.Open(sim.Port)) << "round " << round;
        ASSERT_TRUE(port.Send(kRead));
        EXPECT_EQ(port.Receive(kAnswer.size(), kWaitMs), kAnswer) << "round " << round;
        port.Close();
        // A simulator that lets the terminal hang up with the last client would end here.
        ASSERT_EQ(sim.Process.WaitForExit(kQuietMs), std::nullopt) << "round " << round;
    }
    EXPECT_EQ(sim.Process.Stop(), 0);
}

TEST(SimPtyTest, TerminalIsRawWithoutHelpFromTheClient) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({}));
    TPtyClient port;
    ASSERT_TRUE(port.Open(sim.Port, true));
    // Line ends, an end-of-file and an interrupt character that a cooked terminal would change,
    // and an answer that would come back at the simulator if the terminal echoed.
    const TBytes request = WithCrc({0x01, 0x46, 0x0A, 0x0D, 0x04, 0x03, 0x7F, 0x11, 0x13});
    const TBytes answer = WithCrc({0x01, 0x46, 0x00, 0x0A, 0x0D, 0x04, 0x03, 0x7F, 0x11, 0x13});
    ASSERT_TRUE(port.Send(request));
    EXPECT_EQ(Hex(port.Receive(answer.size(), kWaitMs)), Hex(answer));
    EXPECT_TRUE(port.StaysQuiet(kQuietMs));
}

TEST(SimPtyTest, AnswersNobodyReadsAreDroppedWithoutStalling) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--noise", "100000", "--verbose"}));
    TPtyClient port;
    ASSERT_TRUE(port.Open(sim.Port));
    // Far more noise than the terminal holds: a simulator that blocked on the write would never
    // take the next request.
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(port.Send(kRead));
        ASSERT_TRUE(sim.Process.WaitForLine("rx " + Hex(kRead), kWaitMs)) << "round " << round;
    }
    EXPECT_EQ(sim.Process.Stop(), 0);
}

// A private folder for links, removed with what is left in it.
class TScratchFolder {
public:
    TScratchFolder() {
        char pattern[] = "/tmp/modbus-sim-test-XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            path_ = pattern;
        }
    }
    ~TScratchFolder() {
        if (!path_.empty()) {
            for (const char* name : {"port", "file"}) {
                unlink((path_ + "/" + name).c_str());
            }
            rmdir(path_.c_str());
        }
    }
    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    bool Ready() const { return !path_.empty(); }

private:
    std::string path_;
};

std::string LinkTarget(const std::string& path) {
    char target[256] = {};
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

bool Exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

TEST(SimPtyTest, LinkPointsToTheTerminalWhileRunning) {
    TScratchFolder folder;
    ASSERT_TRUE(folder.Ready());
    const std::string link = folder.Path("port");
    // A stale link from an earlier run is replaced.
    ASSERT_EQ(symlink("/dev/does-not-exist", link.c_str()), 0);

    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--link", link}));
    EXPECT_EQ(LinkTarget(link), sim.Port);
    TPtyClient port;
    ASSERT_TRUE(port.Open(link));
    ASSERT_TRUE(port.Send(kRead));
    EXPECT_EQ(port.Receive(kAnswer.size(), kWaitMs), kAnswer);
    port.Close();

    EXPECT_EQ(sim.Process.Stop(), 0);
    EXPECT_FALSE(Exists(link)) << "the link outlived the simulator";
}

TEST(SimPtyTest, LinkNeverReplacesAnOrdinaryFile) {
    TScratchFolder folder;
    ASSERT_TRUE(folder.Ready());
    const std::string file = folder.Path("file");
    std::ofstream(file) << "keep me\n";

    TSpawnedProgram sim;
    ASSERT_TRUE(sim.Start(MODBUS_SIM_PATH, {"--link", file}));
    EXPECT_TRUE(sim.WaitForErrorLine("refusing to replace", kWaitMs));
    EXPECT_EQ(sim.ReadLine(kWaitMs), std::nullopt) << "no terminal path without the link";
    EXPECT_EQ(sim.WaitForExit(kWaitMs), 1);

    // Read only once known to be the file still: a link to the terminal would block the read.
    struct stat status {};
    ASSERT_EQ(lstat(file.c_str(), &status), 0);
    ASSERT_TRUE(S_ISREG(status.st_mode));
    std::ifstream kept(file);
    std::string content;
    std::getline(kept, content);
    EXPECT_EQ(content, "keep me");
}

TEST(SimPtyTest, EndsCleanlyOnSigint) {
    TScratchFolder folder;
    ASSERT_TRUE(folder.Ready());
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--link", folder.Path("port")}));
    ASSERT_TRUE(Exists(folder.Path("port")));
    ASSERT_EQ(kill(sim.Process.Pid(), SIGINT), 0);
    EXPECT_EQ(sim.Process.WaitForExit(kWaitMs), 0);
    EXPECT_FALSE(Exists(folder.Path("port")));
}

TEST(SimPtyTest, EndsCleanlyOnSigtermDuringADelay) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--delay", "60000", "--verbose"}));
    TPtyClient port;
    ASSERT_TRUE(port.Open(sim.Port));
    ASSERT_TRUE(port.Send(kRead));
    ASSERT_TRUE(sim.Process.WaitForLine("rx ", kWaitMs));
    EXPECT_EQ(sim.Process.Stop(), 0);
}

TEST(SimPtyTest, HelpAndBadOptions) {
    TSpawnedProgram help;
    ASSERT_TRUE(help.Start(MODBUS_SIM_PATH, {"--help"}));
    EXPECT_EQ(help.ReadLine(kWaitMs), "Usage: modbus-sim [options]");
    EXPECT_TRUE(help.WaitForLine("--wrong-address", kWaitMs));
    EXPECT_TRUE(help.WaitForLine("Every other function code gets exception 1.", kWaitMs));
    EXPECT_EQ(help.ReadLine(kWaitMs), std::nullopt) << "the help text ended";
    EXPECT_EQ(help.WaitForExit(kWaitMs), 0);

    TSpawnedProgram bad;
    ASSERT_TRUE(bad.Start(MODBUS_SIM_PATH, {"--address", "300"}));
    EXPECT_TRUE(bad.WaitForErrorLine("--address: '300' is not a number from 1 to 247", kWaitMs));
    EXPECT_EQ(bad.ReadLine(kWaitMs), std::nullopt) << "no terminal for bad options";
    EXPECT_EQ(bad.WaitForExit(kWaitMs), 2);
}

}  // namespace
