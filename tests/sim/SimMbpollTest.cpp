// mbpoll, a master written independently of this project, against the simulator.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "SpawnedProgram.h"

namespace {

constexpr int kRunBoundMs = 10000;

struct TMbpollRun {
    std::optional<int> Status;
    std::vector<std::string> Out;
    std::vector<std::string> Err;
};

// Runs mbpoll once against the port; the first options select the register table and range,
// the values after the port make it write.
TMbpollRun RunMbpoll(const std::string& port, const std::vector<std::string>& options,
                     const std::vector<std::string>& values = {}, const std::string& slave = "1") {
    std::vector<std::string> arguments = {"-m", "rtu",  "-a", slave, "-b", "19200",
                                          "-P", "none", "-0", "-1",  "-o", "1"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(port);
    arguments.insert(arguments.end(), values.begin(), values.end());

    TMbpollRun run;
    TSpawnedProgram mbpoll;
    if (!mbpoll.Start(MBPOLL_PATH, arguments)) {
        return run;
    }
    // Standard output ends when mbpoll does; standard error is read after that.
    while (std::optional<std::string> line = mbpoll.ReadLine(kRunBoundMs)) {
        run.Out.push_back(*line);
    }
    while (std::optional<std::string> line = mbpoll.ReadErrorLine(kRunBoundMs)) {
        run.Err.push_back(*line);
    }
    run.Status = mbpoll.WaitForExit(kRunBoundMs);
    return run;
}

// The values of lines such as "[10]: \t10" or "[32768]: \t32768 (-32768)", by reference. Other
// lines, headers and messages, are passed over.
std::map<int, long> Values(const std::vector<std::string>& lines) {
    std::map<int, long> values;
    for (const std::string& line : lines) {
        int reference = 0;
        long value = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), "[%d]: %ld%n", &reference, &value, &used) != 2) {
            continue;
        }
        long signedValue = 0;
        char close = 0;
        const std::string rest = line.substr(static_cast<size_t>(used));
        const bool plain = rest.find_first_not_of(" \t") == std::string::npos;
        const bool withSigned =
            std::sscanf(rest.c_str(), " (%ld%c", &signedValue, &close) == 2 && close == ')';
        if (plain || withSigned) {
            values[reference] = value;
        }
    }
    return values;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

TEST(SimMbpollTest, ReadsHoldingRegisters) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({}));
    const TMbpollRun run = RunMbpoll(sim.Port, {"-t", "4", "-r", "10", "-c", "5"});
    ASSERT_EQ(run.Status, 0) << Joined(run.Out) << Joined(run.Err);
    EXPECT_EQ(Values(run.Out),
              (std::map<int, long>{{10, 10}, {11, 11}, {12, 12}, {13, 13}, {14, 14}}))
        << Joined(run.Out);

    // The top of the bank, where values no longer fit a signed register.
    const TMbpollRun top = RunMbpoll(sim.Port, {"-t", "4", "-r", "36862", "-c", "2"});
    ASSERT_EQ(top.Status, 0) << Joined(top.Out) << Joined(top.Err);
    EXPECT_EQ(Values(top.Out), (std::map<int, long>{{36862, 0x8FFE}, {36863, 0x8FFF}}))
        << Joined(top.Out);
}

TEST(SimMbpollTest, ReadsInputRegisters) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({}));
    const TMbpollRun run = RunMbpoll(sim.Port, {"-t", "3", "-r", "0", "-c", "6"});
    ASSERT_EQ(run.Status, 0) << Joined(run.Out) << Joined(run.Err);
    const std::map<int, long> values = Values(run.Out);
    ASSERT_EQ(values.size(), 6U) << Joined(run.Out);
    // One reading gives the counter in 100 ms steps and the uptime in seconds from one instant.
    EXPECT_EQ(values.at(2), values.at(0) / 10);
    EXPECT_GE(values.at(1), 0);
    EXPECT_LE(values.at(1), 2000);
    EXPECT_EQ(values.at(3), 0x1003);
    EXPECT_EQ(values.at(4), 0x1004);
    EXPECT_EQ(values.at(5), 0x1005);
}

TEST(SimMbpollTest, WritesThenReadsBack) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--verbose"}));
    const TMbpollRun single = RunMbpoll(sim.Port, {"-t", "4", "-r", "7"}, {"1234"});
    ASSERT_EQ(single.Status, 0) << Joined(single.Out) << Joined(single.Err);
    EXPECT_TRUE(HasLine(single.Out, "Written 1 references.")) << Joined(single.Out);
    // mbpoll writes one register with function 6.
    EXPECT_TRUE(sim.Process.WaitForLine("rx 0106000704D2", 5000));

    const TMbpollRun several = RunMbpoll(sim.Port, {"-t", "4", "-r", "20"}, {"11", "22", "33"});
    ASSERT_EQ(several.Status, 0) << Joined(several.Out) << Joined(several.Err);
    EXPECT_TRUE(HasLine(several.Out, "Written 3 references.")) << Joined(several.Out);
    EXPECT_TRUE(sim.Process.WaitForLine("rx 011000140003", 5000));

    const TMbpollRun first = RunMbpoll(sim.Port, {"-t", "4", "-r", "6", "-c", "3"});
    ASSERT_EQ(first.Status, 0) << Joined(first.Err);
    EXPECT_EQ(Values(first.Out), (std::map<int, long>{{6, 6}, {7, 1234}, {8, 8}}));
    const TMbpollRun second = RunMbpoll(sim.Port, {"-t", "4", "-r", "19", "-c", "5"});
    ASSERT_EQ(second.Status, 0) << Joined(second.Err);
    EXPECT_EQ(Values(second.Out),
              (std::map<int, long>{{19, 19}, {20, 11}, {21, 22}, {22, 33}, {23, 23}}));
}

TEST(SimMbpollTest, AnswersOnlyItsOwnAddress) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--address", "17"}));
    const TMbpollRun own = RunMbpoll(sim.Port, {"-t", "4", "-r", "3", "-c", "1"}, {}, "17");
    ASSERT_EQ(own.Status, 0) << Joined(own.Out) << Joined(own.Err);
    EXPECT_EQ(Values(own.Out), (std::map<int, long>{{3, 3}}));

    const TMbpollRun other = RunMbpoll(sim.Port, {"-t", "4", "-r", "3", "-c", "1"}, {}, "18");
    EXPECT_NE(other.Status, 0);
    EXPECT_TRUE(Values(other.Out).empty()) << Joined(other.Out);
}

TEST(SimMbpollTest, ForcedExceptionReachesTheMaster) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--exception", "2"}));
    const TMbpollRun run = RunMbpoll(sim.Port, {"-t", "4", "-r", "0", "-c", "1"});
    EXPECT_NE(run.Status, 0);
    EXPECT_TRUE(HasLine(run.Err, "Illegal data address")) << Joined(run.Err);
    EXPECT_TRUE(Values(run.Out).empty()) << Joined(run.Out);
}

}  // namespace
