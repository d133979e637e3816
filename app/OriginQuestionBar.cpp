#include "OriginQuestionBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

TOriginQuestionBar::TOriginQuestionBar(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setStyleSheet(QStringLiteral("TOriginQuestionBar { background: #fff3c4; }"));
    auto* layout = new QHBoxLayout(this);
    Question = new QLabel(this);
    Question->setWordWrap(true);
    Question->setTextFormat(Qt::PlainText);
    Allow = new QPushButton(QString::fromUtf8("Разрешить"), this);
    Deny = new QPushButton(QString::fromUtf8("Запретить"), this);
    layout->addWidget(Question, 1);
    layout->addWidget(Allow);
    layout->addWidget(Deny);
    connect(Allow, &QPushButton::clicked, this, [this] { Answer(true); });
    connect(Deny, &QPushButton::clicked, this, [this] { Answer(false); });
    hide();
}

bool TOriginQuestionBar::Ask(const std::string& origin) {
    if (origin == Current_ || std::find(Waiting.begin(), Waiting.end(), origin) != Waiting.end()) {
        return true;
    }
    if (Waiting.size() >= kMaxWaiting) {
        return false;
    }
    Waiting.push_back(origin);
    if (Current_.empty()) {
        ShowNext();
    }
    return true;
}

void TOriginQuestionBar::Answer(bool allowed) {
    const std::string origin = Current_;
    Current_.clear();
    if (!origin.empty() && Answered) {
        Answered(origin, allowed);
    }
    ShowNext();
}

void TOriginQuestionBar::ShowNext() {
    if (Waiting.empty()) {
        hide();
        return;
    }
    Current_ = Waiting.front();
    Waiting.pop_front();
    Question->setText(QString::fromUtf8("Разрешить странице ") + QString::fromStdString(Current_) +
                      QString::fromUtf8(" управлять устройствами через мост?"));
    show();
    if (Shown) {
        Shown(Current_);
    }
}
