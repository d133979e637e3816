// The main window offscreen: start-up, settings, menus, saving the log, lines from other threads.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "HttpClient.h"
#include "IniFile.h"
#include "LogModel.h"
#include "LogView.h"
#include "MadeUpSerialTree.h"
#include "MainWindow.h"
#include "OriginQuestionBar.h"
#include "OriginQuestions.h"
#include "PortsDialogView.h"
#include "SettingsPath.h"
#include "SitesDialogView.h"
#include "SysfsSerialPorts.h"

namespace {

const std::string kSeparator(48, '-');

void WriteFile(const QString& path, const std::string& text) {
    std::ofstream(path.toStdString(), std::ios::binary) << text;
}

// The texts of the log's lines after their time stamps; date lines as "<date>".
QStringList LineTexts(const TLogModel& log) {
    QStringList texts;
    for (size_t index = 0; index < log.Size(); ++index) {
        const TLogModel::TLine line = log.Line(index);
        const std::string text(line.Text);
        if (line.Kind == TLogKind::Date) {
            texts << QStringLiteral("<date>");
        } else {
            texts << QString::fromStdString(text.substr(text.find('\t') + 1));
        }
    }
    return texts;
}

// The start lines up to the separator; the line about the server follows them.
QStringList StartLinesBeforeTheServer(bool errorsOnly, bool set, bool hex) {
    const auto onOff = [](bool on) {
        return on ? QStringLiteral("Включено") : QStringLiteral("Отключено");
    };
    QStringList lines = {QStringLiteral("<date>"),
                         QStringLiteral("RAVO Duridur - Modbus демонстрационный мост"),
                         QStringLiteral("Показывать Только ошибки: ") + onOff(errorsOnly)};
    if (!errorsOnly) {
        lines << QStringLiteral("Показывать Параметры связи: ") + onOff(set)
              << QStringLiteral("Показывать НЕХ данные: ") + onOff(hex);
    }
    lines << QStringLiteral("Старт") << QString::fromStdString(kSeparator);
    return lines;
}

QStringList StartLines(bool errorsOnly, bool set, bool hex, uint16_t port) {
    return StartLinesBeforeTheServer(errorsOnly, set, hex)
           << QStringLiteral(
                  "Сервер слушает порт %1 только на 127.0.0.1 и ::1: запросы лишь с этого "
                  "компьютера")
                  .arg(port)
           << QStringLiteral("Страница моста: http://localhost:%1/demo/").arg(port);
}

// How many times a file of the folder was replaced (renamed onto) since the last look. The
// watch must report both ends of a rename (IN_MOVED_FROM | IN_MOVED_TO): unread events that
// are alike are merged into one, and the other end keeps them apart.
int ReplacementsOf(int watch, const std::string& name) {
    int replaced = 0;
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t got = read(watch, events, sizeof events);
        if (got <= 0) {
            return replaced;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if ((event->mask & IN_MOVED_TO) != 0 && event->len > 0 && name == event->name) {
                ++replaced;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

// True when another program can take the terminal for itself now.
bool PortIsFree(const char* path) {
    const int port = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (port < 0) {
        return false;
    }
    const bool free = flock(port, LOCK_EX | LOCK_NB) == 0;
    close(port);
    return free;
}

// A listening socket on a port the system chooses, on every address: the window cannot listen
// there.
struct TTakenPort {
    TTakenPort() {
        Fd = socket(AF_INET6, SOCK_STREAM, 0);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_any;
        socklen_t length = sizeof address;
        if (bind(Fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            listen(Fd, 1) == 0 &&
            getsockname(Fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            Port = ntohs(address.sin6_port);
        }
    }
    ~TTakenPort() { close(Fd); }
    int Fd = -1;
    uint16_t Port = 0;
};

// The window with its settings file in a folder of its own; errors and save dialogs recorded.
struct TWindow {
    explicit TWindow(const QTemporaryDir& folder, const std::string& settings = {}) {
        Settings = folder.filePath(QStringLiteral("modbus-bridge.ini"));
        if (!settings.empty()) {
            WriteFile(Settings, settings);
        }
        Form = std::make_unique<TForm1>(Settings.toStdString(), 0);
        Form->ReportError = [this](const QString& text) { Errors << text; };
        Form->ReportErrorModeless = [this](const QString& text) { Errors << text; };
        Form->AskSaveFileName = [this](const QString&, const QString& lastPath) {
            LastPathOffered = lastPath;
            return NextSavePath;
        };
        Form->Behaviour().ClockMs = [this] { return NowMs; };
    }

    QString Settings;
    // The behaviour's clock, which the test moves on.
    uint64_t NowMs = 1'000'000;
    std::unique_ptr<TForm1> Form;
    QStringList Errors;
    std::optional<QString> NextSavePath;
    QString LastPathOffered;
};

// The error code of the bridge's reply to a request from a page of this origin (none: a program
// without Origin), asked from another thread while the window's event loop runs; -1 when no
// reply came.
int AskFromOrigin(TForm1& form, const std::string& origin) {
    const uint16_t port = form.Behaviour().ListeningPort();
    std::atomic<int> code{-2};
    std::thread page([&code, port, origin] { code = ErrorCodeForOrigin(port, origin); });
    const bool replied = QTest::qWaitFor([&code] { return code != -2; }, 10000);
    page.join();
    if (!replied) {
        return -1;
    }
    return code;
}

}  // namespace

class TMainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void FirstStartUsesDefaultsAndWritesTheStartLines() {
        QTemporaryDir folder;
        TWindow window(folder);
        window.Form->show();
        QCOMPARE(window.Form->windowTitle(),
                 QStringLiteral("RAVO Duridur - Modbus демонстрационный мост"));
        QCOMPARE(window.Form->frameGeometry().topLeft(), QPoint(100, 100));
        QCOMPARE(window.Form->size(), QSize(600, 400));
        QVERIFY(!window.Form->M2_Error->isChecked());
        QVERIFY(!window.Form->M2_Set->isChecked());
        QVERIFY(!window.Form->M2_Hex->isChecked());
        QVERIFY(window.Form->M2_Set->isEnabled());
        QCOMPARE(LineTexts(window.Form->Behaviour().Log()),
                 StartLines(false, false, false, window.Form->Behaviour().ListeningPort()));
        for (QLabel* panel : window.Form->StatusPanels) {
            QVERIFY(panel->text().isEmpty());
        }
        QVERIFY(window.Errors.isEmpty());

        window.Form->close();
        TIniFile stored(window.Settings.toStdString());
        QCOMPARE(stored.ReadString("Options", "WindowsTop", ""), std::string("100"));
        QCOMPARE(stored.ReadString("Options", "WindowsLeft", ""), std::string("100"));
        QCOMPARE(stored.ReadString("Options", "WindowsWidth", ""), std::string("600"));
        QCOMPARE(stored.ReadString("Options", "WindowsHeight", ""), std::string("400"));
        QCOMPARE(stored.ReadString("Options", "ViewError", ""), std::string("0"));
        QCOMPARE(stored.ReadString("Options", "ViewHex", ""), std::string("0"));
    }

    // Qt ticks a checkable item before its handler runs: the marks are the behaviour's all the
    // same, and a disabled item does nothing.
    void TheViewMenuShowsTheBehavioursMarks() {
        QTemporaryDir folder;
        TWindow window(folder, "[Options]\nViewError=1\nViewSet=1\n");
        window.Form->show();
        const auto marks = [&window] {
            QString text;
            for (const QAction* item :
                 {window.Form->M2_Error, window.Form->M2_Set, window.Form->M2_Hex}) {
                text += QLatin1Char(item->isChecked() ? 'x' : '-');
                text += QLatin1Char(item->isEnabled() ? 'e' : 'd');
            }
            return text;
        };
        QCOMPARE(marks(), QStringLiteral("xexd-d"));
        const struct {
            QAction* Item;
            const char* After;
        } clicks[] = {
            {window.Form->M2_Hex, "xexd-d"},
            {window.Form->M2_Error, "-exe-e"},
            {window.Form->M2_Hex, "-exexe"},
            {window.Form->M2_Set, "-e-exe"},
        };
        for (const auto& click : clicks) {
            click.Item->trigger();
            QCOMPARE(marks(), QString::fromLatin1(click.After));
        }
        QVERIFY(window.Form->Behaviour().ViewHex());
        QVERIFY(!window.Form->Behaviour().ViewSet());
    }

    void PlacementIsNotStoredWhileMaximisedAndSizeHasAMinimum() {
        QTemporaryDir folder;
        TWindow window(folder, "[Options]\nWindowsTop=0x64\nWindowsWidth=300\nWindowsHeight=200\n");
        window.Form->show();
        QCOMPARE(window.Form->size(), QSize(600, 400));
        window.Form->showMaximized();
        QTRY_VERIFY(window.Form->isMaximized());
        window.Form->close();
        TIniFile stored(window.Settings.toStdString());
        QCOMPARE(stored.ReadString("Options", "WindowsTop", ""), std::string("0x64"));
        QCOMPARE(stored.ReadString("Options", "WindowsWidth", ""), std::string("300"));
        QVERIFY(!stored.HasValue("Options", "WindowsLeft"));
        QCOMPARE(stored.ReadString("Options", "ViewError", ""), std::string("0"));
    }

    void AFreshConfigurationFolderIsCreatedAtTheFirstClose() {
        QTemporaryDir folder;
        const QString settings =
            folder.filePath(QStringLiteral("home/.config/modbus-bridge/modbus-bridge.ini"));
        {
            TForm1 form(settings.toStdString(), 0);
            form.ReportError = [](const QString& text) { QFAIL(qPrintable(text)); };
            form.show();
            form.M2_Set->trigger();
            form.CloseOnTerminationSignal();
        }
        TIniFile stored(settings.toStdString());
        QVERIFY(stored.ReadBool("Options", "ViewSet", false));
        QVERIFY(stored.HasValue("Options", "WindowsWidth"));
    }

    void StatusPanelsShowTheDeviceAnswer() {
        QTemporaryDir folder;
        TWindow window(folder);
        window.Form->show();
        std::thread worker(
            [&window] { window.Form->Behaviour().ShowLinkStatus(3, 17, 0x0003, 115200); });
        worker.join();
        QTRY_COMPARE(window.Form->StatusPanels[0]->text(), QStringLiteral("COM3"));
        QCOMPARE(window.Form->StatusPanels[1]->text(), QStringLiteral("ADDR 17"));
        QCOMPARE(window.Form->StatusPanels[2]->text(), QStringLiteral("115200 бод"));
        QVERIFY(!window.Form->StatusPanels[3]->text().isEmpty());
        QCOMPARE(window.Form->StatusPanels[0]->width(), 50);
        QCOMPARE(window.Form->StatusPanels[1]->width(), 60);
        QCOMPARE(window.Form->StatusPanels[2]->width(), 70);
        QCOMPARE(window.Form->statusBar()->height(), 19);
    }

    void SaveDialogOffersTheTwoCaptionsAlone() {
        QTemporaryDir folder;
        TForm1 form(folder.filePath(QStringLiteral("modbus-bridge.ini")).toStdString(), 0);
        form.ReportError = [](const QString& text) { QFAIL(qPrintable(text)); };
        form.show();
        QStringList captions;
        QString chosen;
        int looks = 0;
        QTimer look;
        connect(&look, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr && ++looks < 500) {
                return;
            }
            look.stop();
            if (dialog == nullptr) {
                return;
            }
            if (const auto* types =
                    dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
                for (int index = 0; index < types->count(); ++index) {
                    captions << types->itemText(index);
                }
                chosen = types->currentText();
            }
            dialog->reject();
        });
        look.start(10);
        form.M1_Save->trigger();
        QCOMPARE(captions, QStringList({QStringLiteral("Текстовый файл RTF"),
                                        QStringLiteral("Текстовый файл TXT")}));
        QCOMPARE(chosen, QStringLiteral("Текстовый файл RTF"));
    }

    void LogViewShowsEveryLineAndCopiesTheSelection() {
        QTemporaryDir folder;
        TWindow window(folder);
        window.Form->show();
        for (int index = 0; index < 20000; ++index) {
            window.Form->Behaviour().LogSend("frame " + std::to_string(index));
        }
        const size_t lines = window.Form->Behaviour().Log().Size();
        QScrollBar* scroll = window.Form->RichEdit->verticalScrollBar();
        // The whole log can be scrolled through, and the view stays on the newest line.
        QVERIFY(scroll->maximum() > 19000);
        QCOMPARE(scroll->value(), scroll->maximum());
        scroll->setValue(0);
        window.Form->Behaviour().LogInfo("one more");
        QCOMPARE(scroll->value(), 0);

        window.Form->RichEdit->SelectAll();
        const QString all = window.Form->RichEdit->SelectedText();
        QCOMPARE(all.count(QLatin1Char('\n')), static_cast<qsizetype>(lines + 1));
        QVERIFY(all.endsWith(QStringLiteral("\tone more\n")));
        QTest::keyClick(window.Form->RichEdit, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), all);
    }

    void LogViewKeepsSelectionAndSightWhileTheOldestLinesGo() {
        TLogModel log;
        log.SetLimitBytes(size_t{3} << 20);
        TLogView view(log);
        view.resize(800, 400);
        view.show();
        const auto append = [&log, &view](size_t count) {
            for (size_t index = 0; index < count; ++index) {
                log.Append(TLogKind::Send, "frame " + std::to_string(log.Dropped() + log.Size()) +
                                               std::string(40, 'x'));
                view.LinesAppended();
            }
        };
        append(30000);
        QCOMPARE(log.Dropped(), uint64_t{0});
        QScrollBar* scroll = view.verticalScrollBar();
        scroll->setValue(25000);
        const int row = QFontMetrics(view.font()).lineSpacing();
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, QPoint(20, row / 2));
        QTest::mousePress(view.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          QPoint(20, 5 * row + row / 2));
        const QString selected = view.SelectedText();
        QVERIFY(selected.startsWith(QStringLiteral("frame 25000x")));
        QCOMPARE(selected.count(QLatin1Char('\n')), qsizetype{6});

        while (log.Dropped() == 0) {
            append(1);
        }
        // The same lines stay selected and in sight.
        QCOMPARE(view.SelectedText(), selected);
        QCOMPARE(static_cast<uint64_t>(scroll->value()) + log.Dropped(), uint64_t{25000});

        // Once the selected lines are gone, nothing is selected; the view follows again.
        scroll->setValue(scroll->maximum());
        while (log.Dropped() <= 25005) {
            append(1);
        }
        QVERIFY(view.SelectedText().isEmpty());
        QCOMPARE(scroll->value(), scroll->maximum());
    }

    void SettingsFileBesideTheProgramOrPerUserWhenInstalled() {
        QTemporaryDir folder;
        const std::string program = folder.filePath(QStringLiteral("modbus-bridge")).toStdString();
        QCOMPARE(SettingsFilePath(program), program + ".ini");
        QCOMPARE(SettingsFilePath(folder.filePath(QStringLiteral("bridge.exe")).toStdString()),
                 folder.filePath(QStringLiteral("bridge.ini")).toStdString());
        const QString installed =
            QString::fromStdString(SettingsFilePath("/usr/bin/modbus-bridge"));
        QVERIFY(!installed.startsWith(QStringLiteral("/usr/")));
        QVERIFY(installed.endsWith(QStringLiteral("/modbus-bridge.ini")));

        QCOMPARE(SaveFolderPath(program), folder.filePath(QStringLiteral("save")).toStdString());
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(QString::fromStdString(SaveFolderPath("/usr/bin/modbus-bridge")),
                 documents + QStringLiteral("/modbus-bridge"));
    }

    // Without an Origins setting the window asks: a new page hears 127 and its question is shown
    // at once; after the answer its next request is served or refused, and the answer is kept.
    // The bridge's own page, programs without Origin and listed pages are served; null is never
    // asked about.
    void ByDefaultEachNewPageIsPutToTheOperatorAndTheAnswerKept() {
        QTemporaryDir folder;
        TWindow window(folder, "[Origins]\nhttps://known.example=1\n");
        window.Form->show();
        TOriginQuestionBar& bar = *window.Form->OriginQuestion;
        const std::string own =
            "http://localhost:" + std::to_string(window.Form->Behaviour().ListeningPort());
        // Served pages go on to the parameter checks (109: device_id is missing).
        for (const std::string& served :
             {std::string(), own, std::string("https://known.example")}) {
            QCOMPARE(AskFromOrigin(*window.Form, served), 109);
        }
        QCOMPARE(AskFromOrigin(*window.Form, "null"), 125);
        QVERIFY(bar.isHidden());

        QCOMPARE(AskFromOrigin(*window.Form, "https://new.example"), 127);
        QVERIFY(bar.isVisible());
        QCOMPARE(AskFromOrigin(*window.Form, "https://other.example"), 127);
        QCOMPARE(bar.Question->text(), QStringLiteral("Разрешить странице https://new.example "
                                                      "управлять устройствами через мост?"));
        // Unanswered, the page waits and is not asked about twice.
        QCOMPARE(AskFromOrigin(*window.Form, "https://new.example"), 127);
        window.NowMs += TOriginQuestions::kAnswerDelayMs;
        bar.Allow->click();
        QCOMPARE(TIniFile(window.Settings.toStdString())
                     .ReadString("Origins", "https://new.example", ""),
                 std::string("1"));
        QCOMPARE(AskFromOrigin(*window.Form, "https://new.example"), 109);

        QCOMPARE(bar.Question->text(), QStringLiteral("Разрешить странице https://other.example "
                                                      "управлять устройствами через мост?"));
        window.NowMs += TOriginQuestions::kAnswerDelayMs;
        bar.Deny->click();
        QVERIFY(bar.isHidden());
        QCOMPARE(TIniFile(window.Settings.toStdString())
                     .ReadString("Origins", "https://other.example", ""),
                 std::string("0"));
        QCOMPARE(AskFromOrigin(*window.Form, "https://other.example"), 125);
        QCOMPARE(AskFromOrigin(*window.Form, "null"), 125);
        QVERIFY(bar.isHidden());
        QVERIFY(!TIniFile(window.Settings.toStdString()).HasValue("Origins", "null"));
        QVERIFY(window.Errors.isEmpty());
    }

    // The bar answers to the keyboard, yet never takes the keys itself: the log has the focus
    // as a question comes; Tab goes from it to "Разрешить", "Запретить" and back; Space and Enter
    // press the button that has the focus; Alt+Р and Alt+З press theirs from anywhere in the
    // window. A press within the question's first half second answers nothing; once answered,
    // the focus is back on the log for the next question. The log has the focus also when the
    // window first comes to the front with a question in view, and when another question takes
    // the place of one whose button has it.
    void TheQuestionBarAnswersToTheKeyboardAfterItsFirstHalfSecondOnly() {
        QTemporaryDir folder;
        TWindow window(folder);
        window.Form->setAttribute(Qt::WA_ShowWithoutActivating);
        window.Form->show();
        TOriginQuestionBar& bar = *window.Form->OriginQuestion;
        QWidget* log = window.Form->RichEdit;
        QCOMPARE(AskFromOrigin(*window.Form, "https://before.example"), 127);
        QVERIFY(bar.isVisible());
        window.Form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.Form.get()));
        QCOMPARE(QApplication::focusWidget(), log);
        QTest::keyClick(log, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), bar.Allow);
        window.Form->ShowOriginQuestion("https://in.its.place.example");
        QCOMPARE(QApplication::focusWidget(), log);
        // The behaviour's question back in view, and answered.
        window.Form->ShowOriginQuestion("https://before.example");
        window.NowMs += TOriginQuestions::kAnswerDelayMs;
        bar.Deny->click();
        QVERIFY(bar.isHidden());
        int presses = 0;
        for (QPushButton* button : {bar.Allow, bar.Deny}) {
            connect(button, &QPushButton::clicked, [&presses] { ++presses; });
        }
        struct TStroke {
            Qt::Key Key;
            Qt::KeyboardModifiers Modifiers;
            // The letter a Cyrillic keyboard layout types; none for the other keys.
            QString Letter;
        };
        const TStroke tab{Qt::Key_Tab, Qt::NoModifier, {}};
        const TStroke backTab{Qt::Key_Backtab, Qt::ShiftModifier, {}};
        const TStroke space{Qt::Key_Space, Qt::NoModifier, {}};
        const TStroke enter{Qt::Key_Return, Qt::NoModifier, {}};
        const TStroke altEr{static_cast<Qt::Key>(0x0420), Qt::AltModifier, QStringLiteral("р")};
        const TStroke altZe{static_cast<Qt::Key>(0x0417), Qt::AltModifier, QStringLiteral("з")};
        const auto type = [&](const std::vector<TStroke>& strokes) {
            for (const TStroke& stroke : strokes) {
                QWidget* focus = QApplication::focusWidget();
                if (stroke.Letter.isEmpty()) {
                    QTest::keyClick(focus, stroke.Key, stroke.Modifiers);
                } else {
                    QTest::sendKeyEvent(QTest::Click, focus, stroke.Key, stroke.Letter,
                                        stroke.Modifiers);
                }
            }
        };
        // Early: strokes within the first half second, each series pressing one button; then
        // strokes once it is over, which press one button or none.
        const struct {
            const char* Name;
            std::vector<TStroke> Early;
            std::vector<TStroke> Strokes;
            bool Pressed;
            const char* Answer;
        } rows[] = {
            {"Tab, Space", {}, {tab, space}, true, "1"},
            {"Tab, Tab, Space", {}, {tab, tab, space}, true, "0"},
            {"Tab, Enter", {}, {tab, enter}, true, "1"},
            {"Shift+Tab, Enter", {}, {backTab, enter}, true, "0"},
            {"Alt+Р", {}, {altEr}, true, "1"},
            {"Alt+З", {}, {altZe}, true, "0"},
            {"Tab round to the log, Space", {}, {tab, tab, tab, space}, false, ""},
            {"Tab, Space early, Space", {tab, space}, {space}, true, "1"},
            {"Alt+З early, Alt+З", {altZe}, {altZe}, true, "0"},
        };
        int page = 0;
        for (const auto& row : rows) {
            const std::string origin = "https://page" + std::to_string(++page) + ".example";
            presses = 0;
            const uint64_t shownAt = window.NowMs;
            QCOMPARE(AskFromOrigin(*window.Form, origin), 127);
            QVERIFY2(bar.isVisible(), row.Name);
            QVERIFY2(QApplication::focusWidget() == log, row.Name);
            window.NowMs = shownAt + TOriginQuestions::kAnswerDelayMs - 1;
            type(row.Early);
            // An access key presses its button a moment later, as a click shows it.
            const int early = row.Early.empty() ? 0 : 1;
            QTRY_COMPARE_WITH_TIMEOUT(presses, early, 2000);
            QVERIFY2(bar.Current() == origin, row.Name);
            window.NowMs = shownAt + TOriginQuestions::kAnswerDelayMs;
            type(row.Strokes);
            QTRY_COMPARE_WITH_TIMEOUT(presses, early + (row.Pressed ? 1 : 0), 2000);
            QCOMPARE(TIniFile(window.Settings.toStdString()).ReadString("Origins", origin, ""),
                     std::string(row.Answer));
            if (!row.Pressed) {
                QVERIFY2(bar.Current() == origin, row.Name);
                QVERIFY2(QApplication::focusWidget() == log, row.Name);
                window.NowMs += TOriginQuestions::kAnswerDelayMs;
                bar.Deny->click();
            }
            QVERIFY2(bar.isHidden(), row.Name);
            QVERIFY2(QApplication::focusWidget() == log, row.Name);
        }
        QVERIFY(window.Errors.isEmpty());
    }

    // null=1 written by hand lets every sandboxed frame in: served, and the start lines say so.
    void NullWrittenByHandIsServedAndTheStartLinesWarn() {
        QTemporaryDir folder;
        TWindow window(folder, "[Origins]\nnull=1\n");
        window.Form->show();
        QCOMPARE(LineTexts(window.Form->Behaviour().Log()),
                 StartLines(false, false, false, window.Form->Behaviour().ListeningPort())
                     << QStringLiteral(
                            "Настройка null=1 в разделе Origins: любой сайт, открытый в браузере "
                            "на этом компьютере, может управлять устройствами через мост из "
                            "изолированного фрейма (sandbox), который посылает Origin: null"));
        QCOMPARE(AskFromOrigin(*window.Form, "null"), 109);
        QVERIFY(window.Form->OriginQuestion->isHidden());
    }

    void ClosingTheWindowWhileARequestWaitsForItsDeviceStopsTheRequestAtOnce() {
        // A device that never answers: the worker writes its request and waits the whole
        // timeout, logging, while the window closes.
        const int device = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(device >= 0);
        QCOMPARE(grantpt(device), 0);
        QCOMPARE(unlockpt(device), 0);
        const std::string terminal = ptsname(device);
        QTemporaryDir folder;
        TWindow window(folder, "[Options]\nViewSet=1\nViewHex=1\n[Ports]\nCOM1=" + terminal + "\n");
        window.Form->show();
        const uint16_t port = window.Form->Behaviour().ListeningPort();
        std::atomic<bool> closed{false};
        std::thread page([&closed, port] {
            THttpClient client;
            if (client.Connect(port) &&
                client.Send(PostRequest(
                    R"({"company_id":1,"device_id":1,"slave_addr":1,"baud_rate":19200,)"
                    R"("com_port":1,"poll_ms":1000,"timeout_ms":60000,"ctrl_echo":false,)"
                    R"("ctrl_dtr":false,"ctrl_rts":false,"ctrl_invert":false,)"
                    R"("rand_string":"r","pdu":{"read":[3,0,0,0,2]}})",
                    port))) {
                closed = client.ClosedByServer(20000);
            }
        });
        const bool requestWritten = QTest::qWaitFor(
            [device] {
                pollfd written{device, POLLIN, 0};
                return poll(&written, 1, 0) == 1;
            },
            10000);
        QElapsedTimer closing;
        closing.start();
        // Closed, not destroyed: the window object stays, so only its own shutdown can stop the
        // request and close the page's connection.
        window.Form->close();
        const qint64 closingMs = closing.elapsed();
        page.join();
        const bool portFree = PortIsFree(terminal.c_str());
        close(device);
        QVERIFY(requestWritten);
        QVERIFY(closed);
        QVERIFY(portFree);
        // The stop wakes the worker's wait at once; only the shutdown pause remains.
        QVERIFY2(closingMs < 10000, qPrintable(QString::number(closingMs)));
    }

    void TheTakenPortsBoxLeavesTheWindowFreeAndGoesWithIt() {
        const TTakenPort taken;
        QTemporaryDir folder;
        auto form = std::make_unique<TForm1>(
            folder.filePath(QStringLiteral("modbus-bridge.ini")).toStdString(), taken.Port);
        // A box that waited for the operator would hold show() in its own event loop; this
        // closes such a box, so that the test ends either way.
        bool modal = false;
        QTimer::singleShot(5000, [&modal] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                modal = true;
                box->close();
            }
        });
        form->show();
        QVERIFY(!modal);
        QPointer<QMessageBox> box = form->findChild<QMessageBox*>();
        QVERIFY(box);
        QTRY_VERIFY(box->isVisible());
        QVERIFY(box->text().contains(QStringLiteral("Address already in use")));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        // Lines still come, and the window closes at once.
        form->Behaviour().LogInfo("still running");
        QCOMPARE(LineTexts(form->Behaviour().Log()).back(), QStringLiteral("still running"));
        form->close();
        form.reset();
        QVERIFY(!box);
    }

    void ClosingWritesTheSettingsFileOnceAndNotAtAllWhenNothingChanged() {
        QTemporaryDir folder;
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QVERIFY(inotify_add_watch(watch, folder.path().toLocal8Bit().constData(),
                                  IN_MOVED_FROM | IN_MOVED_TO) >= 0);
        // The first close writes the placement and the three view options; the second has
        // nothing new to write.
        for (const int expected : {1, 0}) {
            TWindow window(folder);
            window.Form->show();
            window.Form->close();
            QCOMPARE(ReplacementsOf(watch, "modbus-bridge.ini"), expected);
        }
        close(watch);
        QVERIFY(TIniFile(folder.filePath(QStringLiteral("modbus-bridge.ini")).toStdString())
                    .HasValue("Options", "ViewHex"));
    }

    void TheLogFollowsNewLinesWhileTheOriginQuestionComesAndGoes() {
        QTemporaryDir folder;
        TWindow window(folder, "[Server]\nOrigins=ask\n");
        window.Form->show();
        for (int index = 0; index < 200; ++index) {
            window.Form->Behaviour().LogSend("frame " + std::to_string(index));
        }
        TLogView& view = *window.Form->RichEdit;
        QScrollBar* scroll = view.verticalScrollBar();
        TOriginQuestionBar& bar = *window.Form->OriginQuestion;
        const auto followsAfterANewLine = [&](const std::string& text) {
            window.Form->Behaviour().LogInfo(text);
            return scroll->value() == scroll->maximum() && scroll->maximum() > 0;
        };
        QVERIFY(followsAfterANewLine("before the question"));

        QCOMPARE(AskFromOrigin(*window.Form, "https://new.example"), 127);
        // The bar takes its room above the log.
        QTRY_VERIFY(bar.isVisible() && view.y() >= bar.height());
        QVERIFY(followsAfterANewLine("while the question is shown"));
        window.NowMs += TOriginQuestions::kAnswerDelayMs;
        bar.Deny->click();
        QTRY_VERIFY(bar.isHidden() && view.y() == 0);
        QVERIFY(followsAfterANewLine("after the answer"));

        // Once the operator has scrolled up, the view stays where they put it, bar or not.
        scroll->setValue(10);
        QCOMPARE(AskFromOrigin(*window.Form, "https://other.example"), 127);
        QTRY_VERIFY(bar.isVisible() && view.y() >= bar.height());
        window.Form->Behaviour().LogInfo("while the operator reads");
        QCOMPARE(scroll->value(), 10);
        // Ctrl+End takes the view back to the newest line, and it follows again.
        QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
        QVERIFY(followsAfterANewLine("after Ctrl+End"));
    }

    // "Сервис" → "Сайты…" and "Порты…" worked as the operator works them: a site typed and
    // added with Enter, refused from its row, and a page that waits allowed from its row (its
    // question goes); on a made-up machine an adapter kept on the COM number typed, which only
    // an adapter with a stable path offers. Each reaches [Origins] or [Ports] at once.
    void TheServiceMenusDialogsChangeSitesAndPortsAtOnce() {
        QTemporaryDir folder;
        TWindow window(folder, "[Origins]\nhttps://listed.example=1\n");
        const std::string machine = folder.filePath(QStringLiteral("machine")).toStdString();
        TMadeUpSerialTree tree(machine);
        const std::string stable = "/dev/serial/by-id/usb-Acme_Bridge_Cable_AB12CD34-if00-port0";
        tree.AddUsb({"ttyUSB0", "acme_uart", "1-1", "1a2b", "3c4d", "Acme", "Bridge Cable",
                     "AB12CD34", "usb-Acme_Bridge_Cable_AB12CD34-if00-port0"});
        tree.AddUart("ttyS0", "serial8250", "4");
        window.Form->Behaviour().ListPorts = [machine] { return SysfsPortsListing(machine); };
        window.Form->show();
        const std::string page = "https://page.example";
        const std::string typed = "https://typed.example";
        QCOMPARE(AskFromOrigin(*window.Form, page), 127);
        const auto stored = [&window](const char* section, const std::string& key) {
            return TIniFile(window.Settings.toStdString()).ReadString(section, key, "<none>");
        };

        int worked = 0;
        QTimer::singleShot(0, [&] {
            auto* dialog = dynamic_cast<TQtSitesDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                return;
            }
            // Closed whatever the checks find, so that the menu's call returns.
            const QScopeGuard close([dialog] { dialog->reject(); });
            QCOMPARE(dialog->Table->rowCount(), 2);
            QCOMPARE(dialog->Table->item(1, 0)->text().toStdString(), page);
            QCOMPARE(dialog->Table->item(1, 1)->text(), QStringLiteral("ждёт ответа"));
            dialog->Field->setText(QString::fromStdString(typed));
            QTest::keyClick(dialog->Field, Qt::Key_Return);
            QCOMPARE(stored("Origins", typed), std::string("1"));
            QVERIFY(dialog->Field->text().isEmpty());
            QVERIFY(
                dialog->Message->text().startsWith(QString::fromStdString(typed + " разрешён")));
            QCOMPARE(AskFromOrigin(*window.Form, typed), 109);
            dialog->Table->selectRow(2);
            QTest::mouseClick(dialog->Refuse, Qt::LeftButton);
            QCOMPARE(stored("Origins", typed), std::string("0"));
            QCOMPARE(AskFromOrigin(*window.Form, typed), 125);
            // The choice stays on its site while the table is filled again.
            QCOMPARE(dialog->Table->item(dialog->Table->currentRow(), 0)->text().toStdString(),
                     typed);
            QVERIFY(window.Form->OriginQuestion->isVisible());
            dialog->Table->selectRow(1);
            QTest::mouseClick(dialog->Allow, Qt::LeftButton);
            QVERIFY(window.Form->OriginQuestion->isHidden());
            QCOMPARE(AskFromOrigin(*window.Form, page), 109);
            ++worked;
        });
        window.Form->M3_Sites->trigger();

        QTimer::singleShot(0, [&] {
            auto* dialog = dynamic_cast<TQtPortsDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                return;
            }
            const QScopeGuard close([dialog] { dialog->reject(); });
            QCOMPARE(dialog->Table->rowCount(), 2);
            QCOMPARE(dialog->Table->item(0, 0)->text(), QStringLiteral("COM1 (без строки)"));
            dialog->Table->selectRow(0);
            QVERIFY(!dialog->FieldButton->isEnabled());
            dialog->Table->selectRow(1);
            QVERIFY(dialog->FieldButton->isEnabled());
            // The first number without a line that opens no port present.
            QCOMPARE(dialog->Field->text(), QStringLiteral("2"));
            dialog->Field->setText(QStringLiteral("5"));
            QTest::mouseClick(dialog->FieldButton, Qt::LeftButton);
            QCOMPARE(stored("Ports", "COM5"), stable);
            QCOMPARE(dialog->Table->item(1, 0)->text(), QStringLiteral("COM5"));
            QVERIFY(dialog->Message->text().contains(
                QStringLiteral("действует со следующего запроса")));
            ++worked;
        });
        window.Form->M3_Ports->trigger();
        QCOMPARE(worked, 2);
        QVERIFY(window.Errors.isEmpty());
    }
};

QTEST_MAIN(TMainWindowTest)
#include "MainWindowTest.moc"
