#pragma once

#include <QFrame>
#include <functional>
#include <string>

class QLabel;
class QPushButton;

// The question about a page that asks to drive the devices, shown above the log without
// stopping anything, with "Разрешить" and "Запретить" (Alt+Р, Alt+З).
class TOriginQuestionBar : public QFrame {
public:
    explicit TOriginQuestionBar(QWidget* parent = nullptr);

    // Shows the question about this origin in place of any other; empty hides the bar.
    void Ask(const std::string& origin);
    // The origin asked about now; empty when the bar is hidden.
    const std::string& Current() const { return Current_; }

    // A button pressed (a click, Space, or the access key); the bar stays as it is until it is
    // told otherwise (Ask).
    std::function<void(const std::string& origin, bool allowed)> Pressed;
    // A question has come into view.
    std::function<void(const std::string& origin)> Shown;

    QLabel* Question = nullptr;
    QPushButton* Allow = nullptr;
    QPushButton* Deny = nullptr;

private:
    void Press(bool allowed);

    std::string Current_;
};
