#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "DialogTexts.h"
#include "ErrorReport.h"
#include "LogView.h"
#include "OriginQuestionBar.h"
#include "PortsDialogView.h"
#include "SettingsPath.h"
#include "SitesDialogView.h"
#include "WindowTexts.h"

namespace {

constexpr int kMinimumWidth = 600;
constexpr int kMinimumHeight = 400;
constexpr int kStatusBarHeight = 19;

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::optional<QString> ShowSaveDialog(QWidget* parent, const QString& folder,
                                      const QString& lastPath) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({FromUtf8(WindowText::kSaveRtfCaption) + QStringLiteral(" (") +
                               FromUtf8(WindowText::kSaveRtfPattern) + QStringLiteral(")"),
                           FromUtf8(WindowText::kSaveTextCaption) + QStringLiteral(" (") +
                               FromUtf8(WindowText::kSaveTextPattern) + QStringLiteral(")")});
    dialog.setDefaultSuffix(FromUtf8(WindowText::kSaveDefaultExtension));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setOption(QFileDialog::ReadOnly, false);
    // The captions alone; the patterns still choose the files shown.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setSizeGripEnabled(true);
    dialog.setDirectory(folder);
    if (!lastPath.isEmpty()) {
        dialog.selectFile(lastPath);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front();
}

}  // namespace

TForm1::TForm1(std::string settingsPath, uint16_t port, QWidget* parent)
    : QMainWindow(parent),
      Behaviour_(std::make_unique<TWindowBehaviour>(
          *this, std::move(settingsPath),
          SaveFolderPath(QCoreApplication::applicationFilePath().toStdString()), port)) {
    setWindowTitle(FromUtf8(LogText::kCaption));
    setMinimumSize(kMinimumWidth, kMinimumHeight);

    M1_File = menuBar()->addMenu(FromUtf8(WindowText::kMenuFile));
    M1_Save = M1_File->addAction(FromUtf8(WindowText::kMenuSave));
    M1_StartAtLogin = M1_File->addAction(FromUtf8(WindowText::kMenuStartAtLogin));
    M1_StartAtLogin->setCheckable(true);
    M1_File->addSeparator();
    M1_Exit = M1_File->addAction(FromUtf8(WindowText::kMenuExit));
    M2_View = menuBar()->addMenu(FromUtf8(WindowText::kMenuView));
    M2_Error = M2_View->addAction(FromUtf8(WindowText::kMenuViewError));
    M2_Set = M2_View->addAction(FromUtf8(WindowText::kMenuViewSet));
    M2_Hex = M2_View->addAction(FromUtf8(WindowText::kMenuViewHex));
    M3_Service = menuBar()->addMenu(FromUtf8(DialogText::kMenuService));
    M3_Sites = M3_Service->addAction(FromUtf8(DialogText::kMenuSites));
    M3_Ports = M3_Service->addAction(FromUtf8(DialogText::kMenuPorts));
    M_Help = menuBar()->addAction(FromUtf8(WindowText::kMenuHelp));
    for (QAction* option : {M2_Error, M2_Set, M2_Hex}) {
        option->setCheckable(true);
    }
    TWindowBehaviour& behaviour = *Behaviour_;
    connect(M1_Save, &QAction::triggered, this, [&behaviour] { behaviour.M1_SaveClick(); });
    connect(M1_StartAtLogin, &QAction::triggered, this,
            [&behaviour] { behaviour.M1_StartAtLoginClick(); });
    connect(M1_Exit, &QAction::triggered, this, [&behaviour] { behaviour.M1_ExitClick(); });
    connect(M2_Error, &QAction::triggered, this, [&behaviour] { behaviour.M2_ErrorClick(); });
    connect(M2_Set, &QAction::triggered, this, [&behaviour] { behaviour.M2_SetClick(); });
    connect(M2_Hex, &QAction::triggered, this, [&behaviour] { behaviour.M2_HexClick(); });
    connect(M_Help, &QAction::triggered, this, [&behaviour] { behaviour.M_HelpClick(); });
    connect(M3_Sites, &QAction::triggered, this, [&behaviour] { behaviour.M3_SitesClick(); });
    connect(M3_Ports, &QAction::triggered, this, [&behaviour] { behaviour.M3_PortsClick(); });

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    OriginQuestion = new TOriginQuestionBar(central);
    OriginQuestion->Pressed = [&behaviour](const std::string& origin, bool allowed) {
        behaviour.OriginAnswered(origin, allowed);
    };
    // The operator may be looking at another window: the question asks for attention.
    OriginQuestion->Shown = [this](const std::string&) { QApplication::alert(this); };
    RichEdit = new TLogView(behaviour.Model(), central);
    column->addWidget(OriginQuestion);
    column->addWidget(RichEdit, 1);
    setCentralWidget(central);
    // The log has the keys from the start; Tab goes from it to the bar's buttons and back. A
    // question that comes never takes the focus (ShowOriginQuestion).
    setTabOrder(RichEdit, OriginQuestion->Allow);
    setTabOrder(OriginQuestion->Allow, OriginQuestion->Deny);
    RichEdit->setFocus();
    QFont panelFont = font();
    panelFont.setPixelSize(11);
    statusBar()->setFont(panelFont);
    statusBar()->setSizeGripEnabled(true);
    statusBar()->setFixedHeight(kStatusBarHeight);
    for (size_t index = 0; index < StatusPanels.size(); ++index) {
        StatusPanels[index] = new QLabel(this);
        StatusPanels[index]->setFrameShape(QFrame::Panel);
        StatusPanels[index]->setFrameShadow(QFrame::Sunken);
        StatusPanels[index]->setMinimumWidth(kPanelWidths[index]);
        // The last panel takes the rest of the bar, so a long device name is not cut.
        const bool last = index + 1 == StatusPanels.size();
        if (!last) {
            StatusPanels[index]->setFixedWidth(kPanelWidths[index]);
        }
        statusBar()->addWidget(StatusPanels[index], last ? 1 : 0);
    }

    AskSaveFileName = [this](const QString& folder, const QString& lastPath) {
        return ShowSaveDialog(this, folder, lastPath);
    };
    ReportError = [](const QString& text) { ::ShowErrorReport(text); };
    ReportErrorModeless = [this](const QString& text) { ShowModelessErrorReport(this, text); };
    ReportUnattended = [](const QString& text) { PrintErrorReport(text); };
}

void TForm1::CloseOnTerminationSignal() {
    Behaviour_->CloseRequested(TCloseCause::SessionEnd);
    // A dialog open at this moment runs an event loop of its own; ending every loop ends it too.
    QCoreApplication::quit();
}

TForm1::~TForm1() {
    Destroying = true;
    if (!Behaviour_->Closed()) {
        Behaviour_->CloseRequested(TCloseCause::Operator);
    }
}

void TForm1::Start() {
    Behaviour_->FormShow();
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    Behaviour_->FormShow();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!CloseAllowed) {
        // Every close goes through the behaviour's shutdown, which lets the window go.
        InCloseEvent = true;
        Behaviour_->CloseRequested(TCloseCause::Operator);
        InCloseEvent = false;
    }
    if (CloseAllowed) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    RichEdit->viewport()->update();
}

void TForm1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        // Not inside the change itself: the window system is still making it.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && isVisible()) {
                Behaviour_->WindowMinimized();
            }
        });
    }
}

void TForm1::ShowLogLines(const TLogModel&) {
    RichEdit->LinesAppended();
}

void TForm1::ShowLogNotice(const std::string& text) {
    RichEdit->SetNotice(QString::fromStdString(text));
}

void TForm1::ShowStatusPanels(const std::array<std::string, 4>& texts) {
    for (size_t index = 0; index < StatusPanels.size(); ++index) {
        StatusPanels[index]->setText(QString::fromStdString(texts[index]));
    }
}

void TForm1::ShowViewChecks(const TViewChecks& checks) {
    const std::pair<QAction*, const TMenuCheck*> items[] = {
        {M2_Error, &checks.ViewError}, {M2_Set, &checks.ViewSet}, {M2_Hex, &checks.ViewHex}};
    for (const auto& [action, check] : items) {
        action->setChecked(check->Checked);
        action->setEnabled(check->Enabled);
    }
}

void TForm1::ShowOriginQuestion(const std::string& origin) {
    // A key meant for the question that goes must not answer the one that comes.
    if (OriginQuestion->isAncestorOf(focusWidget())) {
        RichEdit->setFocus();
    }
    OriginQuestion->Ask(origin);
}

void TForm1::ShowErrorReport(const std::string& text, TReportKind kind) {
    const QString report = QString::fromStdString(text);
    switch (kind) {
        case TReportKind::Waiting:
            ReportError(report);
            break;
        case TReportKind::Beside:
            ReportErrorModeless(report);
            break;
        case TReportKind::Unattended:
            ReportUnattended(report);
            break;
    }
}

std::optional<std::string> TForm1::AskSavePath(const std::string& folder,
                                               const std::string& lastPath) {
    const std::optional<QString> path =
        AskSaveFileName(QString::fromStdString(folder), QString::fromStdString(lastPath));
    if (!path) {
        return std::nullopt;
    }
    return path->toStdString();
}

void TForm1::PlaceWindow(const TWindowPlacement& placement) {
    move(placement.Left, placement.Top);
    resize(placement.Width, placement.Height);
    setWindowState(Qt::WindowNoState);
}

std::optional<TWindowPlacement> TForm1::NormalPlacement() const {
    if ((windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) != 0) {
        return std::nullopt;
    }
    const QRect frame = frameGeometry();
    return TWindowPlacement{frame.left(), frame.top(), width(), height()};
}

void TForm1::ShowWindowAs(TWindowShown shown) {
    switch (shown) {
        case TWindowShown::Normal:
            setWindowState(windowState() & ~Qt::WindowMinimized);
            show();
            raise();
            activateWindow();
            break;
        case TWindowShown::Minimized:
            showMinimized();
            break;
        case TWindowShown::Hidden:
            hide();
            break;
    }
}

bool TForm1::WindowInSight() const {
    return isVisible() && !isMinimized();
}

void TForm1::ShowStartAtLoginCheck(bool checked) {
    M1_StartAtLogin->setChecked(checked);
}

void TForm1::ShowAboutBox(const std::string& caption, const std::string& text) {
    QMessageBox about(QMessageBox::NoIcon, QString::fromStdString(caption),
                      QString::fromStdString(text), QMessageBox::Ok);
    about.exec();
}

void TForm1::RunSitesDialog(TSitesDialog& dialog) {
    TQtSitesDialog(this, dialog).Run();
}

void TForm1::RunPortsDialog(TPortsDialog& dialog) {
    TQtPortsDialog(this, dialog).Run();
}

void TForm1::CloseWindow() {
    CloseAllowed = true;
    if (!InCloseEvent && !Destroying) {
        close();
    }
    if (QuitOnClose) {
        QCoreApplication::quit();
    }
}
