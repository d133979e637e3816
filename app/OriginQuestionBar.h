#pragma once

#include <QFrame>
#include <deque>
#include <functional>
#include <string>

class QLabel;
class QPushButton;

// The question about a page that asks to drive the devices, shown above the log without
// stopping anything: one origin at a time, the others wait their turn.
class TOriginQuestionBar : public QFrame {
public:
    // Questions waiting beyond this many are dropped; their pages ask again with their next
    // request after this run, and stay refused meanwhile.
    static constexpr size_t kMaxWaiting = 32;

    explicit TOriginQuestionBar(QWidget* parent = nullptr);

    void Ask(const std::string& origin);
    // The origin asked about now; empty when the bar is hidden.
    const std::string& Current() const { return Current_; }

    // The operator's answer; the bar goes on to the next origin.
    std::function<void(const std::string& origin, bool allowed)> Answered;

    QLabel* Question = nullptr;
    QPushButton* Allow = nullptr;
    QPushButton* Deny = nullptr;

private:
    void Answer(bool allowed);
    void ShowNext();

    std::string Current_;
    std::deque<std::string> Waiting;
};
