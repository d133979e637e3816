#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <fstream>

#include "AccessSettings.h"
#include "BridgeServer.h"
#include "DailyLogFiles.h"
#include "DemoPages.h"
#include "ErrorReport.h"
#include "IniFile.h"
#include "LinkStatus.h"
#include "ListenSocket.h"
#include "LogFile.h"
#include "LogView.h"
#include "OriginQuestionBar.h"
#include "PortMap.h"
#include "Ravo32.h"
#include "SettingsPath.h"
#include "StartLines.h"

namespace {

constexpr char kOptions[] = "Options";
constexpr int kDefaultTop = 100;
constexpr int kDefaultLeft = 100;
constexpr int kMinimumWidth = 600;
constexpr int kMinimumHeight = 400;
constexpr int kDefaultLogLimitMB = 256;
constexpr int kDefaultLogDays = 30;
constexpr int kStatusBarHeight = 19;

const QString kAboutText = QString::fromUtf8(
    "RAVO Duridur - Modbus демонстрационный мост\n"
    "V1.1 Февраль 2018\n"
    "\n"
    "\n"
    "https://modbus-bridge.example");

std::optional<QString> ShowSaveDialog(QWidget* parent, const QString& folder,
                                      const QString& lastPath) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QString::fromUtf8("Текстовый файл RTF (*.rtf)"),
                           QString::fromUtf8("Текстовый файл TXT (*.txt)")});
    dialog.setDefaultSuffix(QStringLiteral("rtf"));
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

// The error line of a window whose server could not open: a port that another program holds is
// the usual cause, and the operator is told how to find that program.
std::string NoServerLine(uint16_t port, const std::string& reason) {
    const std::string line = "Сервер не запущен, запросы страниц не принимаются: ";
    if (reason != ListenErrorText(TListenSocket{{}, EADDRINUSE, "bind", {}})) {
        return line + reason;
    }
    return line + "порт " + std::to_string(port) + " занят другой программой (" + reason +
           "); какой, покажет ss -ltnp";
}

}  // namespace

TForm1::TForm1(std::string settingsPath, uint16_t port, QWidget* parent)
    : QMainWindow(parent),
      SettingsPath(std::move(settingsPath)),
      Port(port),
      GuiThread(std::this_thread::get_id()) {
    setWindowTitle(QString::fromUtf8(LogText::kCaption.data(),
                                     static_cast<qsizetype>(LogText::kCaption.size())));
    setMinimumSize(kMinimumWidth, kMinimumHeight);

    M1_File = menuBar()->addMenu(QString::fromUtf8("Файл"));
    M1_Save = M1_File->addAction(QString::fromUtf8("Сохранить"));
    M1_File->addSeparator();
    M1_Exit = M1_File->addAction(QString::fromUtf8("Выход"));
    M2_View = menuBar()->addMenu(QString::fromUtf8("Вид"));
    M2_Error = M2_View->addAction(QString::fromUtf8("Только ошибки"));
    M2_Set = M2_View->addAction(QString::fromUtf8("Параметры связи"));
    M2_Hex = M2_View->addAction(QStringLiteral("HEX данные"));
    M_Help = menuBar()->addAction(QStringLiteral("?"));
    for (QAction* option : {M2_Error, M2_Set, M2_Hex}) {
        option->setCheckable(true);
    }
    connect(M1_Save, &QAction::triggered, this, [this] { M1_SaveClick(); });
    connect(M1_Exit, &QAction::triggered, this, [this] { M1_ExitClick(); });
    connect(M2_Error, &QAction::triggered, this, [this] { M2_ErrorClick(); });
    connect(M2_Set, &QAction::triggered, this, [this] { M2_SetClick(); });
    connect(M2_Hex, &QAction::triggered, this, [this] { M2_HexClick(); });
    connect(M_Help, &QAction::triggered, this, [this] { M_HelpClick(); });

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    OriginQuestion = new TOriginQuestionBar(central);
    OriginQuestion->Answered = [this](const std::string& origin, bool allowed) {
        OriginAnswered(origin, allowed);
    };
    // The operator may be looking at another window: the question asks for attention.
    OriginQuestion->Shown = [this](const std::string&) { QApplication::alert(this); };
    RichEdit = new TLogView(LogModel, central);
    column->addWidget(OriginQuestion);
    column->addWidget(RichEdit, 1);
    setCentralWidget(central);
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
    ReportError = [](const QString& text) { ShowErrorReport(text); };
    ReportErrorModeless = [this](const QString& text) { ShowModelessErrorReport(this, text); };
    ReportUnattended = [](const QString& text) { PrintErrorReport(text); };
    SaveFolder = QString::fromStdString(
        SaveFolderPath(QCoreApplication::applicationFilePath().toStdString()));
}

void TForm1::CloseOnTerminationSignal() {
    TerminationSignalled = true;
    close();
    // A dialog open at this moment runs an event loop of its own; ending every loop ends it too.
    QCoreApplication::quit();
}

TForm1::~TForm1() {
    if (!Closed) {
        FormClose();
    }
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!Started) {
        Started = true;
        FormShow();
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!Closed) {
        FormClose();
    }
    event->accept();
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TForm1::FormShow() {
    // The log is empty until this first show: nothing to clear.
    Link = std::make_unique<TRavo32>();
    IniFile = std::make_unique<TIniFile>(SettingsPath);
    ApplyPortMap(*IniFile, *Link);

    move(IniFile->ReadInteger(kOptions, "WindowsLeft", kDefaultLeft),
         IniFile->ReadInteger(kOptions, "WindowsTop", kDefaultTop));
    resize(IniFile->ReadInteger(kOptions, "WindowsWidth", kMinimumWidth),
           IniFile->ReadInteger(kOptions, "WindowsHeight", kMinimumHeight));
    setWindowState(Qt::WindowNoState);

    M2_Error->setChecked(IniFile->ReadBool(kOptions, "ViewError", false));
    M2_Set->setChecked(IniFile->ReadBool(kOptions, "ViewSet", false));
    M2_Hex->setChecked(IniFile->ReadBool(kOptions, "ViewHex", false));
    ViewErrorOn = M2_Error->isChecked();
    ViewSetOn = M2_Set->isChecked();
    ViewHexOn = M2_Hex->isChecked();
    M2_Set->setEnabled(!ViewErrorOn);
    M2_Hex->setEnabled(!ViewErrorOn);
    const std::string dailyFilesLine = OpenLogLimits();

    TAccessSettings access = ReadAccessSettings(*IniFile);
    const std::vector<std::string> problems = access.Problems;
    const std::vector<std::string> risks = AccessRisks(access);
    const bool ask = access.Origins == TOriginMode::Ask;
    ServerSocket = std::make_unique<TBridgeServer>(*Link, *this);
    if (const int setupError = ServerSocket->SetupError(); setupError != 0) {
        // A request could be neither stopped nor answered: the program says so and does not
        // start, as without its termination signals. Nothing was changed, so nothing is stored.
        StartRefused_ = true;
        Closed = true;
        ReportUnattended(QStringLiteral("The server cannot be set up (%1); not started")
                             .arg(QString::fromStdString(
                                 ListenErrorText(TListenSocket{{}, setupError, "eventfd", {}}))));
        ServerSocket.reset();
        return;
    }
    ServerSocket->SetAccess(std::move(access));
    // Shown from the event loop, not from inside the inbox's run: the box waits for the
    // operator, and the log lines queued behind the report must not wait with it.
    ServerSocket->ReportFault = [this](const std::string& text) {
        QTimer::singleShot(0, this, [this, text] { ReportError(QString::fromStdString(text)); });
    };
    if (ask) {
        ServerSocket->AskAboutOrigin = [this](const std::string& origin) {
            return OriginQuestion->Ask(origin);
        };
    }
    std::string error;
    const bool listening = ServerSocket->Open(Port, error);
    WriteStartLines(*this);
    if (listening) {
        LogInfo(ServerSocket->ListeningLine());
        LogInfo(DemoPageLine(ServerSocket->ListeningPort()));
    } else {
        LogError(NoServerLine(Port, error));
    }
    if (!dailyFilesLine.empty()) {
        LogInfo(dailyFilesLine);
    }
    for (const std::string& problem : problems) {
        LogError(problem);
    }
    for (const std::string& risk : risks) {
        LogError(risk);
    }
    if (!listening) {
        // The window goes on without a server: its log can be read and saved, and a termination
        // signal or the close button ends it at once, whether or not the box is still open.
        ReportErrorModeless(QString::fromStdString(error));
    }
}

void TForm1::OriginAnswered(const std::string& origin, bool allowed) {
    if (!ServerSocket || !IniFile) {
        return;
    }
    ServerSocket->DecideOrigin(origin, allowed);
    LogInfo("Страница " + origin + (allowed ? " разрешена" : " запрещена") + " оператором");
    // Kept at once, so that the answer outlives a crash or a power cut.
    if (!IniFile->WriteString(kOriginsSection, origin, allowed ? "1" : "0")) {
        ReportError(
            QStringLiteral("Unable to write to %1").arg(QString::fromStdString(IniFile->Path())));
    }
}

std::string TForm1::OpenLogLimits() {
    const int32_t limitMB =
        std::max(1, IniFile->ReadInteger(kOptions, "LogLimitMB", kDefaultLogLimitMB));
    LogModel.SetLimitBytes(static_cast<size_t>(limitMB) << 20);
    const std::string folder = IniFile->ReadString(kOptions, "LogFolder", "");
    RichEdit->SetDroppedLinesFolder(QString::fromStdString(folder));
    if (folder.empty()) {
        return {};
    }
    const int32_t days = std::max(1, IniFile->ReadInteger(kOptions, "LogDays", kDefaultLogDays));
    DailyFiles = std::make_unique<TDailyLogFiles>(folder, days);
    return "Все строки журнала пишутся в ежедневные файлы в " + folder + ", хранятся " +
           std::to_string(days) + " дн.; в окне — последние, до " + std::to_string(limitMB) + " МБ";
}

void TForm1::FormClose() {
    Closed = true;
    if (ServerSocket) {
        ServerSocket->Shutdown();
    } else if (Link && Link->IsOpen()) {
        Link->Disconnect();
    }
    if (IniFile && !StoreSettings()) {
        const QString text =
            QStringLiteral("Unable to write to %1").arg(QString::fromStdString(IniFile->Path()));
        if (TerminationSignalled) {
            LogError(text.toStdString() + " (" + IniFile->LastWriteError() + ")");
            ReportUnattended(text + QStringLiteral(" (%1)").arg(
                                        QString::fromStdString(IniFile->LastWriteError())));
        } else {
            ReportError(text);
        }
    }
    ServerSocket.reset();
    IniFile.reset();
    Link.reset();
}

bool TForm1::StoreSettings() {
    if (windowState() == Qt::WindowNoState) {
        const QRect frame = frameGeometry();
        IniFile->SetInteger(kOptions, "WindowsTop", frame.top());
        IniFile->SetInteger(kOptions, "WindowsLeft", frame.left());
        IniFile->SetInteger(kOptions, "WindowsWidth", width());
        IniFile->SetInteger(kOptions, "WindowsHeight", height());
    }
    IniFile->SetBool(kOptions, "ViewError", M2_Error->isChecked());
    IniFile->SetBool(kOptions, "ViewSet", M2_Set->isChecked());
    IniFile->SetBool(kOptions, "ViewHex", M2_Hex->isChecked());
    // One write for all of them: each write replaces the file and waits for the disk.
    return IniFile->Save();
}

void TForm1::FormResize() {
    RichEdit->viewport()->update();
}

void TForm1::M1_SaveClick() {
    // A folder that cannot be made leaves the dialog wherever the platform puts it.
    QDir().mkpath(SaveFolder);
    const std::optional<QString> path = AskSaveFileName(SaveFolder, LastSavePath);
    if (!path) {
        return;
    }
    LastSavePath = *path;
    if (!SaveLog(*path)) {
        ReportError(QStringLiteral("Cannot create file %1").arg(*path));
        return;
    }
    LogDate();
    LogInfo("Файл сохренён: \"" + path->toStdString() + "\"");
}

bool TForm1::SaveLog(const QString& path) {
    std::ofstream file(path.toStdString(), std::ios::binary | std::ios::trunc);
    if (!file) {
        return false;
    }
    // Lower-case "rtf" as the last three characters, compared byte for byte, chooses RTF.
    if (path.endsWith(QStringLiteral("rtf"), Qt::CaseSensitive)) {
        WriteLogRtf(Log(), file);
    } else {
        WriteLogText(Log(), file);
    }
    file.close();
    return !file.fail();
}

void TForm1::M1_ExitClick() {
    close();
}

void TForm1::M2_ErrorClick() {
    ViewErrorOn = M2_Error->isChecked();
    LogInfo(ViewOptionLine(LogText::kViewErrorLine, ViewErrorOn));
    M2_Set->setEnabled(!ViewErrorOn);
    M2_Hex->setEnabled(!ViewErrorOn);
}

void TForm1::M2_SetClick() {
    if (ViewErrorOn) {
        M2_Set->setChecked(ViewSetOn);
        return;
    }
    ViewSetOn = M2_Set->isChecked();
    LogInfo(ViewOptionLine(LogText::kViewSetLine, ViewSetOn));
}

void TForm1::M2_HexClick() {
    if (ViewErrorOn) {
        M2_Hex->setChecked(ViewHexOn);
        return;
    }
    ViewHexOn = M2_Hex->isChecked();
    LogInfo(ViewOptionLine(LogText::kViewHexLine, ViewHexOn));
}

void TForm1::M_HelpClick() {
    QMessageBox about(QMessageBox::NoIcon, QString::fromUtf8("О программе"), kAboutText,
                      QMessageBox::Ok);
    about.exec();
}

void TForm1::LogDate() {
    Write(TLogKind::Date, {});
}

void TForm1::LogInfo(std::string text) {
    Write(TLogKind::Info, std::move(text));
}

void TForm1::LogError(std::string text) {
    Write(TLogKind::Error, std::move(text));
}

void TForm1::LogNotice(std::string text) {
    Write(TLogKind::Notice, std::move(text));
}

void TForm1::LogSend(std::string text) {
    Write(TLogKind::Send, std::move(text));
}

void TForm1::LogReceive(std::string text) {
    Write(TLogKind::Receive, std::move(text));
}

void TForm1::Write(TLogKind kind, std::string text) {
    {
        // The clock is read on the writer's thread and the line queued in the same step, so the
        // queue is in the order of the stamps and they never step back in the log.
        const std::lock_guard stamping(StampLock);
        const TLocalTime now = LocalTimeNow();
        std::string line = FormatLogLine(kind, now, text);
        Inbox.Post([this, kind, line = std::move(line), now] { AppendLine(kind, line, now); });
    }
    if (OnGuiThread()) {
        Inbox.RunPosted();
    }
}

void TForm1::AppendLine(TLogKind kind, const std::string& line, const TLocalTime& time) {
    LogModel.Append(kind, line);
    RichEdit->LinesAppended();
    if (!DailyFiles) {
        return;
    }
    if (DailyFiles->Append(time, line)) {
        DailyFilesFailing = false;
    } else if (!DailyFilesFailing) {
        // Told once, not once a line; this line itself cannot reach the file either.
        DailyFilesFailing = true;
        LogError("Cannot create file " + DailyFiles->LastError());
    }
}

void TForm1::ShowLinkStatus(uint8_t comPort, uint8_t slave, uint16_t deviceType, int32_t baud) {
    const auto texts = LinkStatusTexts(comPort, slave, deviceType, baud);
    const auto show = [this, texts] {
        for (size_t index = 0; index < StatusPanels.size(); ++index) {
            StatusPanels[index]->setText(QString::fromStdString(texts[index]));
        }
    };
    if (OnGuiThread()) {
        Inbox.RunPosted();
        show();
    } else {
        Inbox.Post(show);
    }
}

const TLogModel& TForm1::Log() {
    Inbox.RunPosted();
    return LogModel;
}

uint16_t TForm1::ListeningPort() const {
    return ServerSocket ? ServerSocket->ListeningPort() : 0;
}
