// Divides a file and glues it back through the real window, with Qt's own
// file dialogs and message boxes, as a person would: shortcuts, typing into
// the dialogs, Enter, mouse clicks. Needs a real display (xvfb-run).
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include "ui/frm_main.h"
#include "ui/qt_desktop.h"
#include "ui/window_geometry.h"
#include "window_fixture.h"

namespace {

// Acts on the next modal window (a file dialog or a message box) as soon as
// it is up. Gives up after a while and closes it, so a test cannot hang.
void whenModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) {
            if (++*waited > 400) {
                ADD_FAILURE() << "no modal window came up";
                timer->deleteLater();
                timer->stop();
            }
            return;
        }
        timer->stop();
        timer->deleteLater();
        act(modal);
        // Whatever is still up after a while was not handled as planned.
        QTimer::singleShot(20000, [modal = QPointer<QWidget>(modal)] {
            if (modal && modal->isVisible()) {
                QString field;
                if (auto* edit = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    field = edit->text();
                ADD_FAILURE() << "modal window left open: " << modal->windowTitle().toStdString()
                              << ", name field: \"" << field.toStdString() << "\"";
                modal->close();
            }
        });
    });
    timer->start(50);
}

// Types `path` into a file dialog's name field and presses Enter; reports
// the name the dialog proposed.
std::function<void(QWidget*)> typePath(const QString& path, QString* proposed = nullptr,
                                       QString* title = nullptr) {
    return [=](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
        if (title) *title = dialog->windowTitle();
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(edit, nullptr);
        if (proposed) *proposed = edit->text();
        // Typing goes to the dialog only once it is on the screen and active.
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog, 30000));
        edit->setFocus();
        // The dialog may still be loading its folder and empty the field when
        // it is done, and the field's completer may take an Enter for itself:
        // type again what is not there, and press Enter until it is accepted.
        for (int attempt = 0; attempt < 20 && dialog->isVisible(); ++attempt) {
            if (edit->text() != path) {
                edit->selectAll();
                QTest::keyClicks(edit, path);
            }
            if (edit->completer() && edit->completer()->popup()->isVisible())
                edit->completer()->popup()->hide();
            QTest::keyClick(edit, Qt::Key_Return);
            QTest::qWait(100);
        }
    };
}

// Dismisses a message box with its OK button; reports its text and title.
std::function<void(QWidget*)> pressOk(QString* text, QString* title) {
    return [=](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr) << modal->metaObject()->className();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(box, 30000));
        *text = box->text();
        *title = box->windowTitle();
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    };
}

// Dismisses a message box with a key press, the way a person at the
// keyboard does; reports its text.
std::function<void(QWidget*)> pressKey(Qt::Key key, QString* text) {
    return [=](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr) << modal->metaObject()->className();
        ASSERT_TRUE(QTest::qWaitForWindowActive(box, 30000));
        *text = box->text();
        QTest::keyClick(box, key);
    };
}

// Without a window manager nothing hands the activation back to the window
// when a dialog closes; a person's click on the window would.
void activate(QWidget* window) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window, 30000));
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

TEST(EndToEnd, DividesAndGluesBackThroughTheRealWindow) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString original = dir.filePath(QStringLiteral("original.bin"));
    {
        QFile file(original);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray bytes(2500000, Qt::Uninitialized);
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>((static_cast<unsigned>(i) * 7919u) >> 3);
        file.write(bytes);
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("parts")));

    // Qt's file dialog would keep its history there.
    const QString dialogSettings =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/QtProject.conf");
    const bool settingsExisted = QFileInfo::exists(dialogSettings);
    const QDateTime settingsWritten = QFileInfo(dialogSettings).lastModified();

    morvane::QtDesktop desktop;
    morvane::frmMain window(desktop);
    window.show();
    window.centreOnScreen();
    activate(&window);
    // Centred with the frame that the window manager put around it.
    const QRect screen = window.screen()->geometry();
    const auto centred = [&] {
        const QRect frame = window.frameGeometry();
        return frame != window.geometry() &&
               frame.topLeft() ==
                   screen.topLeft() + morvane::centredOrigin(screen.size(), frame.size());
    };
    EXPECT_TRUE(QTest::qWaitFor(centred, 30000))
        << window.frameGeometry().x() << "," << window.frameGeometry().y() << " "
        << window.frameGeometry().width() << "x" << window.frameGeometry().height();
    auto* status = window.findChild<QLabel*>(QStringLiteral("lblStatus"));
    auto* box = window.findChild<QLineEdit*>(QStringLiteral("txtDChunk"));
    auto* divide = window.findChild<QPushButton*>(QStringLiteral("cmdDiv"));
    auto* glue = window.findChild<QPushButton*>(QStringLiteral("cmdGlu"));

    // File > Divide File by its shortcut; the path typed into the dialog.
    QString title;
    whenModal(typePath(original, nullptr, &title));
    QTest::keyClick(&window, Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(title, QStringLiteral("File to be divided"));
    ASSERT_TRUE(window.findChild<QGroupBox*>(QStringLiteral("fraDiv"))->isVisible());
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("lblDFilesize"))->text(),
              QStringLiteral("2,500,000 bytes"));

    activate(&window);
    // A size too big, then a click on Divide: the message box comes up while
    // the focus moves, and the click is dropped instead of left half done.
    // The window gives the box the focus when it is activated; start from
    // the unit list so that the click is what brings the focus in.
    window.findChild<QWidget*>(QStringLiteral("cmbUnit"))->setFocus();
    QTest::mouseClick(box, Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), box);
    EXPECT_EQ(box->selectedText(), QStringLiteral("2500000."));
    QTest::keyClicks(box, QStringLiteral("99999999999"));
    QString message, messageTitle;
    whenModal(pressOk(&message, &messageTitle));
    QTest::mouseClick(divide, Qt::LeftButton);
    EXPECT_EQ(message, QStringLiteral("Chunk Size Too Big."));
    EXPECT_EQ(messageTitle, QStringLiteral("Morvane"));
    EXPECT_FALSE(divide->isDown());
    // The focus went back into the box while the message box was up; the
    // box has it once the window is active again.
    EXPECT_EQ(window.focusWidget(), box);
    activate(&window);
    EXPECT_EQ(QApplication::focusWidget(), box);
    EXPECT_EQ(box->selectedText(), QStringLiteral("99999999999"));

    // A size too big, then Alt+D, and the message box dismissed with Enter:
    // the key press ends there. The window manager activates the window a
    // moment after the box has gone; a "Divide as" dialog would be up by
    // then: note it and close it.
    QTest::keyClicks(box, QStringLiteral("3000000000"));
    whenModal(pressKey(Qt::Key_Return, &message));
    QString unexpected;
    QTimer::singleShot(3000, [&unexpected] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            unexpected = modal->windowTitle();
            modal->close();
        }
    });
    QTest::keyClick(&window, Qt::Key_D, Qt::AltModifier);
    QTest::qWait(3500);
    EXPECT_EQ(message, QStringLiteral("Chunk Size Too Big."));
    EXPECT_EQ(unexpected.toStdString(), "");
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("original.hed"))));

    activate(&window);
    // One million bytes a chunk, then Divide into the "parts" folder.
    QTest::keyClicks(box, QStringLiteral("1000000"));
    QTest::keyClick(box, Qt::Key_Tab);
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("lblDNumChunk"))->text(),
              QStringLiteral("3"));
    const QString header = dir.filePath(QStringLiteral("parts/original.hed"));
    QString proposed;
    whenModal(typePath(header, &proposed, &title));
    QTest::mouseClick(divide, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isBusy(); }, 120000));
    EXPECT_EQ(title, QStringLiteral("Divide as"));
    EXPECT_EQ(proposed, QStringLiteral("original.hed"));
    EXPECT_EQ(status->text(), QStringLiteral("File Successfully Divided!"));
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("parts/original_3.div"))));

    activate(&window);
    // File > Glue File, then Glue into a new file.
    whenModal(typePath(header, nullptr, &title));
    QTest::keyClick(&window, Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(title, QStringLiteral("Open header file"));
    ASSERT_TRUE(window.findChild<QGroupBox*>(QStringLiteral("fraGlu"))->isVisible());
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("lblGBigFileName"))->text(),
              QStringLiteral("original.bin"));
    activate(&window);
    const QString restored = dir.filePath(QStringLiteral("restored.bin"));
    whenModal(typePath(restored, &proposed, &title));
    QTest::mouseClick(glue, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isBusy(); }, 120000));
    EXPECT_EQ(title, QStringLiteral("Glue as"));
    EXPECT_EQ(proposed, QStringLiteral("original.bin"));
    EXPECT_EQ(status->text(), QStringLiteral("File Successfully Glued Together!"));

    EXPECT_EQ(readAll(restored), readAll(original));
    EXPECT_EQ(QFileInfo::exists(dialogSettings), settingsExisted) << dialogSettings.toStdString();
    EXPECT_EQ(QFileInfo(dialogSettings).lastModified(), settingsWritten);
}

// A division onto a disk of 10 MB/s: the window answers throughout, up to
// the end of a run's last flush; closing during a run asks, and No lets it
// go on; Stop ends it. With MORVANE_SCREENSHOT_DIR set, the window is
// pictured there during the run (window-run.png). With MORVANE_E2E_STICK set
// to a folder on a slow disk, the divisions go there, 300 MB to its end.
TEST(EndToEnd, TheWindowAnswersDuringARunAndStopsIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto sparseFile = [](const QString& path, qint64 size) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(size));
        return path;
    };
    auto layer = std::make_shared<SlowFileLayer>();
    layer->bytesPerSecond = 10e6;
    layer->flushDelayMs = 1000;
    morvane::QtDesktop desktop;
    const QString stick = qEnvironmentVariable("MORVANE_E2E_STICK");
    QTemporaryDir onStick((stick.isEmpty() ? dir.path() : stick) + QStringLiteral("/run-XXXXXX"));
    const QDir out(onStick.path());
    morvane::frmMain window(desktop, stick.isEmpty() ? layer : nullptr);
    window.show();
    window.centreOnScreen();
    activate(&window);
    auto* status = window.findChild<QLabel*>(QStringLiteral("lblStatus"));
    auto* box = window.findChild<QLineEdit*>(QStringLiteral("txtDChunk"));
    auto* divide = window.findChild<QPushButton*>(QStringLiteral("cmdDiv"));
    auto* stop = window.findChild<QPushButton*>(QStringLiteral("cmdStop"));
    const auto divideInto = [&](const QString& source, const QString& header,
                                const QString& chunkSize = QStringLiteral("100000000"),
                                int recovery = 0) {
        ASSERT_TRUE(window.openPath(source));
        activate(&window);
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, chunkSize);
        QTest::keyClick(box, Qt::Key_Tab);
        window.findChild<QSpinBox*>(QStringLiteral("spnDRecovery"))->setValue(recovery);
        whenModal(typePath(header));
        QTest::mouseClick(divide, Qt::LeftButton);
        ASSERT_TRUE(window.isRunning());
    };

    // To its end, with 2 recovery chunks and the final flush, noting the
    // phases and the estimate; pictured in each phase.
    const QString pictures = qEnvironmentVariable("MORVANE_SCREENSHOT_DIR");
    divideInto(sparseFile(dir.filePath(QStringLiteral("short.bin")),
                          stick.isEmpty() ? 100000000 : 300000000),
               out.filePath(QStringLiteral("short.hed")), QStringLiteral("25000000"), 2);
    {
        const TickGaps gaps;
        auto* bar = window.findChild<QProgressBar*>(QStringLiteral("prgRun"));
        auto* phase = window.findChild<QLabel*>(QStringLiteral("lblPhase"));
        QStringList phases, phaseStarts;
        std::vector<std::pair<qint64, double>> estimates(3, {-1, -1.0});
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                if (!phase->text().isEmpty() && !phases.contains(phase->text())) {
                    phases << phase->text();
                    phaseStarts << QString::number(clock.elapsed() / 1000.0, 'f', 1);
                    if (!pictures.isEmpty() && phases.size() > 1)
                        window.grab().save(pictures + QStringLiteral("/window-") +
                                           phase->text().toLower().replace(u' ', u'-') +
                                           QStringLiteral(".png"));
                }
                for (int i = 0; i < 3; ++i) {
                    const double seconds = bar->property("secondsLeft").toDouble();
                    if (estimates[i].first < 0 && bar->value() >= 100 + 400 * i && seconds >= 0)
                        estimates[i] = {clock.elapsed(), seconds};
                }
                return !window.isBusy();
            },
            600000));
        std::printf("run to its end: longest stall of the window's thread %lld ms\n",
                    static_cast<long long>(gaps.longestMs()));
        for (int i = 0; i < 3; ++i) {
            const double truth = static_cast<double>(clock.elapsed() - estimates[i].first) / 1000;
            std::printf("time left at %d %%: estimated %.1f s, truth %.1f s, error %+.0f %%\n",
                        10 + 40 * i, estimates[i].second, truth,
                        (estimates[i].second - truth) / truth * 100);
        }
        std::printf("phases seen: %s, starting at %s s, ended at %.1f s\n",
                    qPrintable(phases.join(QStringLiteral(", "))),
                    qPrintable(phaseStarts.join(QStringLiteral(", "))), clock.elapsed() / 1000.0);
        EXPECT_TRUE(phases.contains(QStringLiteral("Writing chunks")))
            << qPrintable(phases.join('|'));
        EXPECT_TRUE(phases.contains(QStringLiteral("Writing recovery data")))
            << qPrintable(phases.join('|'));
        EXPECT_TRUE(phases.contains(QStringLiteral("Flushing to disk")))
            << qPrintable(phases.join('|'));
    }
    EXPECT_EQ(status->text(), QStringLiteral("File Successfully Divided!"));

    // A long run, closed and stopped in the middle.
    // The picture shows the file where the README's other pictures have it.
    QDir demo(pictures.isEmpty() ? dir.path() : QStringLiteral("/tmp/demo/Videos"));
    ASSERT_TRUE(demo.mkpath(QStringLiteral(".")));
    divideInto(sparseFile(demo.filePath(QStringLiteral("holiday-video.mp4")), 700000000),
               out.filePath(QStringLiteral("holiday-video.hed")));
    const TickGaps gaps;
    auto* bar = window.findChild<QProgressBar*>(QStringLiteral("prgRun"));
    auto* timeLeft = window.findChild<QLabel*>(QStringLiteral("lblTimeLeft"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return bar->value() > 0 && timeLeft->text().startsWith(QStringLiteral("About ")); },
        120000))
        << bar->value() << " " << timeLeft->text().toStdString();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(stop->isVisible());
    if (!pictures.isEmpty()) {
        EXPECT_TRUE(window.grab().save(pictures + QStringLiteral("/window-run.png")));
    }

    QString question;
    whenModal([&](QWidget* modal) {
        auto* asked = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(asked, nullptr) << modal->metaObject()->className();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(asked, 30000));
        question = asked->text();
        QTest::mouseClick(asked->button(QMessageBox::No), Qt::LeftButton);
    });
    window.close();
    EXPECT_EQ(question, QStringLiteral("A division is going on. Stop it and quit?"));
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isRunning());

    activate(&window);
    QElapsedTimer stopping;
    stopping.start();
    QTest::mouseClick(stop, Qt::LeftButton);
    const qint64 feedbackMs = stopping.elapsed();
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("lblPhase"))->text(),
              QStringLiteral("Stopping…"));
    EXPECT_FALSE(stop->isEnabled());
    if (!pictures.isEmpty()) {
        EXPECT_TRUE(window.grab().save(pictures + QStringLiteral("/window-stopping.png")));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isBusy(); }, 120000));
    std::printf(
        "stopped run: longest stall %lld ms, \"Stopping…\" %lld ms and stopped %lld ms "
        "after the click\n",
        static_cast<long long>(gaps.longestMs()), static_cast<long long>(feedbackMs),
        static_cast<long long>(stopping.elapsed()));
    EXPECT_EQ(status->text(), QStringLiteral("Division stopped."));
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(QFile::exists(out.filePath(QStringLiteral("holiday-video.hed"))));
    if (!pictures.isEmpty()) QDir(QStringLiteral("/tmp/demo")).removeRecursively();
}

}  // namespace
