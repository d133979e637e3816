// The line queue's order, admission, waits and silent slaves, as tables of steps; and its settings.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "IniFile.h"
#include "LineQueue.h"
#include "QueueSettings.h"

namespace {

enum class TOp { Admit, Take, Heard, FirstRefusal, Expire, NextExpiry, Remove };

// One step; tickets are numbered by the Admit steps, from 1.
struct TStep {
    TOp Op;
    // Admit, Remove.
    uint64_t Client = 0;
    // Admit, Heard, FirstRefusal: the address on COM1; 0 for a request that names none.
    uint8_t Slave = 0;
    // Admit: the arrival; Expire: now. NextExpiry: the time expected, 0 for none.
    uint64_t Ms = 0;
    // Heard: the slave answered; FirstRefusal: what is expected.
    bool Yes = true;
    TAdmission Admission = TAdmission::Queued;
    // Take (one ticket, or none), Expire, Remove: the tickets out, in order.
    std::vector<uint64_t> Tickets = {};
};

struct TScenario {
    const char* Name;
    size_t Depth;
    uint64_t WaitMs;
    std::vector<TStep> Steps;
};

std::vector<uint64_t> TicketsOf(const std::vector<TQueueEntry>& entries) {
    std::vector<uint64_t> tickets;
    for (const TQueueEntry& entry : entries) {
        tickets.push_back(entry.Ticket);
    }
    return tickets;
}

TStep Admit(uint64_t client, uint8_t slave, uint64_t ms = 0,
            TAdmission admission = TAdmission::Queued) {
    return {.Op = TOp::Admit, .Client = client, .Slave = slave, .Ms = ms, .Admission = admission};
}
TStep Take(std::vector<uint64_t> ticket) {
    return {.Op = TOp::Take, .Tickets = std::move(ticket)};
}
TStep Heard(uint8_t slave, bool answered) {
    return {.Op = TOp::Heard, .Slave = slave, .Yes = answered};
}
TStep FirstRefusal(uint8_t slave, bool expected) {
    return {.Op = TOp::FirstRefusal, .Slave = slave, .Yes = expected};
}
TStep Expire(uint64_t nowMs, std::vector<uint64_t> tickets) {
    return {.Op = TOp::Expire, .Ms = nowMs, .Tickets = std::move(tickets)};
}
TStep NextExpiry(uint64_t ms) {
    return {.Op = TOp::NextExpiry, .Ms = ms};
}
TStep Remove(uint64_t client, std::vector<uint64_t> tickets) {
    return {.Op = TOp::Remove, .Client = client, .Tickets = std::move(tickets)};
}

TEST(LineQueueTest, OrderAdmissionWaitsAndSilentSlaves) {
    constexpr TAdmission kFull = TAdmission::Full;
    constexpr TAdmission kSilent = TAdmission::SlaveSilent;
    const TScenario scenarios[] = {
        {"clients take turns, each client's requests in their order",
         8,
         5000,
         {Admit(1, 3), Admit(1, 3), Admit(1, 3), Admit(2, 3), Admit(2, 3), Admit(3, 4), Take({1}),
          Take({4}), Take({6}), Take({2}), Take({5}), Take({3}), Take({})}},
        {"a client new to the queue goes before those served since",
         8,
         5000,
         {Admit(1, 3), Take({1}), Admit(1, 3), Admit(2, 3), Take({3}), Admit(2, 3), Take({2}),
          Take({4})}},
        {"a client on a new connection for each request takes its turn, not every turn",
         8,
         5000,
         {Admit(1, 3), Take({1}), Admit(1, 3), Admit(10, 3), Take({3}), Remove(10, {}),
          Admit(11, 3), Take({2}), Take({4})}},
        {"at most Depth wait; the one more is refused",
         2,
         5000,
         {Admit(1, 3), Admit(2, 3), Admit(3, 3, 0, kFull), Take({1}), Admit(3, 3), Take({2}),
          Take({4})}},
        {"answering slaves first; one request per silent slave waits",
         8,
         5000,
         {Heard(5, false), Admit(1, 5), Admit(2, 5, 0, kSilent), Admit(3, 6), Admit(4, 0),
          Take({3}), Take({4}), Take({1}), Admit(2, 5)}},
        {"a silent slave's request goes once a round of the others has passed it, however busy",
         8,
         5000,
         {Heard(5, false), Admit(1, 6), Admit(2, 6), Admit(9, 5), Take({1}), Admit(1, 6), Take({2}),
          Admit(2, 6), Take({4}), Admit(1, 6), Take({3})}},
        {"a silent slave's refusal is not the queue being full",
         1,
         5000,
         {Heard(5, false), Admit(1, 5), Admit(2, 5, 0, kSilent), Admit(3, 6, 0, kFull)}},
        {"a slave that answers again is served as before",
         8,
         5000,
         {Heard(5, false), Admit(1, 5), FirstRefusal(5, true), FirstRefusal(5, false),
          Heard(5, true), Admit(2, 5), Admit(3, 6), Take({1}), Take({2}), Take({3}),
          Heard(5, false), FirstRefusal(5, true)}},
        {"a client's silent head holds its later requests, not the others'",
         8,
         5000,
         {Heard(5, false), Admit(1, 5), Admit(1, 6), Admit(2, 6), Take({3}), Take({1}), Take({2})}},
        {"a wait runs out at its time, the oldest first",
         8,
         100,
         {NextExpiry(0), Admit(1, 3, 1000), Admit(2, 3, 1050), NextExpiry(1100), Expire(1099, {}),
          Expire(1100, {1}), NextExpiry(1150), Expire(2000, {2}), NextExpiry(0), Take({})}},
        {"a client that goes away takes its requests along",
         8,
         5000,
         {Admit(1, 3), Admit(2, 3), Admit(1, 4), Remove(1, {1, 3}), Remove(1, {}), Take({2}),
          Take({})}},
    };
    for (const TScenario& scenario : scenarios) {
        TLineQueue queue(scenario.Depth, scenario.WaitMs);
        uint64_t ticket = 0;
        size_t index = 0;
        for (const TStep& step : scenario.Steps) {
            const std::string where =
                std::string(scenario.Name) + ", step " + std::to_string(index++);
            const TSlaveId slave{1, step.Slave};
            switch (step.Op) {
                case TOp::Admit: {
                    const TQueueEntry entry{
                        .Ticket = ++ticket,
                        .Client = step.Client,
                        .Slave = step.Slave == 0 ? std::nullopt : std::optional<TSlaveId>(slave),
                        .ArrivedMs = step.Ms};
                    EXPECT_EQ(queue.Admit(entry), step.Admission) << where;
                    break;
                }
                case TOp::Take: {
                    const std::optional<TQueueEntry> next = queue.TakeNext();
                    EXPECT_EQ(next ? std::vector<uint64_t>{next->Ticket} : std::vector<uint64_t>{},
                              step.Tickets)
                        << where;
                    break;
                }
                case TOp::Heard:
                    queue.Heard(slave, step.Yes);
                    break;
                case TOp::FirstRefusal:
                    EXPECT_EQ(queue.FirstRefusalSinceSilent(slave), step.Yes) << where;
                    break;
                case TOp::Expire:
                    EXPECT_EQ(TicketsOf(queue.TakeExpired(step.Ms)), step.Tickets) << where;
                    break;
                case TOp::NextExpiry:
                    EXPECT_EQ(queue.NextExpiryMs().value_or(0), step.Ms) << where;
                    break;
                case TOp::Remove:
                    EXPECT_EQ(TicketsOf(queue.RemoveClient(step.Client)), step.Tickets) << where;
                    break;
            }
        }
    }
}

TEST(QueueSettingsTest, DefaultsAreNoQueueAndOddValuesAProblemEach) {
    const struct {
        const char* Text;
        size_t Depth;
        uint32_t WaitMs;
        size_t Problems;
    } rows[] = {
        {"", 0, 5000, 0},
        {"[Server]\nQueue=8\nQueueWaitMs=2000\n", 8, 2000, 0},
        {"[Server]\nQueue=0x10\n", 16, 5000, 0},
        {"[Server]\nQueue=-1\nQueueWaitMs=0\n", 0, 5000, 2},
        {"[Server]\nQueue=257\nQueueWaitMs=600001\n", 0, 5000, 2},
        {"[Server]\nQueue=many\nQueueWaitMs=600000\n", 0, 600000, 1},
        {"[Server]\nQueue=8 ; comment\n", 8, 5000, 0},
    };
    for (const auto& row : rows) {
        TIniFile file;
        file.LoadText(row.Text);
        std::vector<std::string> problems;
        const TQueueSettings read = ReadQueueSettings(file, problems);
        EXPECT_EQ(read.Depth, row.Depth) << row.Text;
        EXPECT_EQ(read.WaitMs, row.WaitMs) << row.Text;
        EXPECT_EQ(problems.size(), row.Problems) << row.Text;
    }
}

}  // namespace
