// The hand-over of tasks to the main thread: order of posting, also when a task posts and runs
// the inbox itself, as a log line written by a task does.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <string>
#include <thread>
#include <vector>

#include "MainThreadInbox.h"

namespace {

TEST(MainThreadInboxTest, ATaskThatPostsAndRunsTheInboxKeepsTheOrderOfPosting) {
    TMainThreadInbox inbox;
    ASSERT_TRUE(inbox.Ready());
    std::vector<std::string> ran;
    inbox.Post([&] {
        ran.push_back("first");
        inbox.Post([&] { ran.push_back("posted by the first"); });
        inbox.RunPosted();
        ran.push_back("first, after running the inbox");
    });
    inbox.Post([&] { ran.push_back("second"); });
    inbox.RunPosted();
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "first, after running the inbox", "second",
                                             "posted by the first"}));
}

TEST(MainThreadInboxTest, TasksFromAnotherThreadRunOnTheOwnerInOrderThroughTheEventLoop) {
    TMainThreadInbox inbox;
    ASSERT_TRUE(inbox.Ready());
    constexpr int kTasks = 10000;
    std::vector<int> ran;
    const std::thread::id owner = std::this_thread::get_id();
    bool allOnOwner = true;
    std::thread poster([&] {
        for (int index = 0; index < kTasks; ++index) {
            inbox.Post([&, index] {
                allOnOwner = allOnOwner && std::this_thread::get_id() == owner;
                ran.push_back(index);
                if (index + 1 == kTasks) {
                    QCoreApplication::quit();
                }
            });
        }
    });
    QCoreApplication::exec();
    poster.join();
    ASSERT_EQ(ran.size(), size_t{kTasks});
    for (int index = 0; index < kTasks; ++index) {
        ASSERT_EQ(ran[static_cast<size_t>(index)], index);
    }
    EXPECT_TRUE(allOnOwner);
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
