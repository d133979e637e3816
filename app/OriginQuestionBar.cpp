#include "OriginQuestionBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "WindowTexts.h"

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TOriginQuestionBar::TOriginQuestionBar(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setStyleSheet(QStringLiteral("TOriginQuestionBar { background: #fff3c4; }"));
    auto* layout = new QHBoxLayout(this);
    Question = new QLabel(this);
    Question->setWordWrap(true);
    Question->setTextFormat(Qt::PlainText);
    Allow = new QPushButton(FromUtf8(WindowText::kOriginAllow), this);
    Deny = new QPushButton(FromUtf8(WindowText::kOriginDeny), this);
    // Enter presses the button that has the focus, as Space does.
    Allow->setAutoDefault(true);
    Deny->setAutoDefault(true);
    layout->addWidget(Question, 1);
    layout->addWidget(Allow);
    layout->addWidget(Deny);
    connect(Allow, &QPushButton::clicked, this, [this] { Press(true); });
    connect(Deny, &QPushButton::clicked, this, [this] { Press(false); });
    hide();
}

void TOriginQuestionBar::Ask(const std::string& origin) {
    Current_ = origin;
    if (origin.empty()) {
        hide();
        return;
    }
    Question->setText(QString::fromStdString(OriginQuestionText(origin)));
    show();
    if (Shown) {
        Shown(Current_);
    }
}

void TOriginQuestionBar::Press(bool allowed) {
    // A copy: the press may put the next question in this one's place.
    const std::string origin = Current_;
    if (!origin.empty() && Pressed) {
        Pressed(origin, allowed);
    }
}
