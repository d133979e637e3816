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
    // Questions that may wait their turn; beyond them the bar is full.
    static constexpr size_t kMaxWaiting = 32;

    explicit TOriginQuestionBar(QWidget* parent = nullptr);

    // True when the question is shown or waits its turn (also when it already did); false when
    // the bar is full, and the page is to be asked again with its next request.
    bool Ask(const std::string& origin);
    // The origin asked about now; empty when the bar is hidden.
    const std::string& Current() const { return Current_; }

    // The operator's answer; the bar goes on to the next origin.
    std::function<void(const std::string& origin, bool allowed)> Answered;
    // A question has come into view.
    std::function<void(const std::string& origin)> Shown;

    QLabel* Question = nullptr;
    QPushButton* Allow = nullptr;
    QPushButton* Deny = nullptr;

private:
    void Answer(bool allowed);
    void ShowNext();

    std::string Current_;
    std::deque<std::string> Waiting;
};
