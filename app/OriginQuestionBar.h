#pragma once

#include <QFrame>
#include <functional>
#include <string>

class QLabel;
class QPushButton;

// The question about a page that asks to drive the devices, shown above the log without
// stopping anything, with "Разрешить" and "Запретить".
class TOriginQuestionBar : public QFrame {
public:
    explicit TOriginQuestionBar(QWidget* parent = nullptr);

    // Shows the question about this origin in place of any other; empty hides the bar.
    void Ask(const std::string& origin);
    // The origin asked about now; empty when the bar is hidden.
    const std::string& Current() const { return Current_; }

    // The operator's answer; the bar is hidden by then.
    std::function<void(const std::string& origin, bool allowed)> Answered;
    // A question has come into view.
    std::function<void(const std::string& origin)> Shown;

    QLabel* Question = nullptr;
    QPushButton* Allow = nullptr;
    QPushButton* Deny = nullptr;

private:
    void Answer(bool allowed);

    std::string Current_;
};
