#include "ui/engine_panel.h"

#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <utility>

#include "engine/file_layer.h"
#include "ui/busy_state.h"
#include "ui/elided_label.h"
#include "ui/open_save_dialog.h"
#include "ui/window_geometry.h"

namespace morvane {

EnginePanel::EnginePanel(const char* name, const QString& spokenName, const PanelTexts& texts,
                         const Services& services, QWidget* client)
    : QGroupBox(client),
      m_texts(texts),
      m_desktop(services.desktop),
      m_dialog(services.dialog),
      m_busy(services.busy),
      m_fileLayer(services.fileLayer),
      m_fitsStatusLine(services.fitsStatusLine) {
    setObjectName(QLatin1String(name));
    setAccessibleName(spokenName);
    setGeometry(twipsRect(layout::kPanelLeft, layout::kPanelTop, layout::kPanelWidth,
                          layout::kPanelHeight));
    connect(&m_busy, &BusyState::runningChanged, this,
            [this](bool running) { enableRunControls(!running); });
}

std::optional<QString> EnginePanel::chooseInput() {
    return m_dialog.chooseToOpen(window(), m_texts.openTitle, m_texts.openFilter,
                                 m_texts.openMoreFilter);
}

bool EnginePanel::open(const QString& chosen) {
    const QString name = nameOf(chosen);
    if (analyze(name, chosen.left(chosen.size() - name.size()))) return true;
    showMessage(m_texts.analysisFailed, MessageIcon::Error);
    releaseEngine();
    return false;
}

QLabel* EnginePanel::caption(const char* name, const QString& text, int top) {
    auto* caption = new QLabel(text, this);
    caption->setObjectName(QLatin1String(name));
    caption->setGeometry(
        twipsRect(layout::kCaptionLeft, top, layout::kCaptionWidth, layout::kRowHeight));
    caption->setTextFormat(Qt::PlainText);
    return caption;
}

QLabel* EnginePanel::row(const char* captionName, const QString& captionText, const char* valueName,
                         const QString& text, int top, int width) {
    QLabel* label = caption(captionName, captionText, top);
    auto* value = new ElidedLabel(text, this);
    value->setObjectName(QLatin1String(valueName));
    value->setGeometry(twipsRect(layout::kValueLeft, top, width, layout::kRowHeight));
    // Values show file names and engine texts: never read as markup.
    value->setTextFormat(Qt::PlainText);
    value->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setBuddy(value);
    return value;
}

QPushButton* EnginePanel::button(const char* name, const QString& text, int left) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(
        twipsRect(left, layout::kButtonTop, layout::kButtonWidth, layout::kButtonHeight));
    button->setAutoDefault(false);
    button->installEventFilter(this);
    return button;
}

void EnginePanel::setStatus(const QString& text) {
    m_reason.clear();
    emit statusChanged(text);
}

void EnginePanel::setErrorStatus(const EngineSnapshot& engine) {
    const QString text = errorStatusText(engine);
    setStatus(text);
    m_reason = text;
}

void EnginePanel::showMessage(const QString& text, MessageIcon icon) {
    ++m_messagesShown;
    const bool cut = icon == MessageIcon::Error && !m_reason.isEmpty() && m_fitsStatusLine &&
                     !m_fitsStatusLine(m_reason);
    m_desktop.showMessageWithDetails(window(), text, icon, cut ? m_reason : QString());
}

std::optional<QString> EnginePanel::chooseOutput(
    const QString& fileName, std::function<QStringList(const QString& path)> replacedBy) {
    return m_dialog.chooseToSave(window(), m_texts.saveTitle, m_texts.saveFilter, fileName,
                                 std::move(replacedBy));
}

void EnginePanel::workAside(const std::function<void()>& work) {
    QEventLoop loop;
    const BackgroundRun aside(
        this,
        [&work](const std::atomic<bool>&) {
            work();
            return RunOutcome();
        },
        nullptr, [&loop](const RunOutcome&) { loop.quit(); });
    loop.exec();
}

std::shared_ptr<FileLayer> EnginePanel::fileLayer() const {
    return m_fileLayer ? m_fileLayer : std::make_shared<FileLayer>();
}

void EnginePanel::reportLeftovers(int32_t files, int64_t bytes) {
    if (files > 0) setStatus(leftoversClearedText(files, bytes));
}

void EnginePanel::showProgress(const EngineSnapshot& engine) {
    setStatus(progressStatusText(engine));
    emit blocksShown(engine.currentOp, engine.numOfOps);
}

void EnginePanel::cancel() {
    if (!m_busy.isRunning()) {
        closePanel();
        return;
    }
    m_closeAfterRun = true;
    emit stopRequested();
}

void EnginePanel::requestRun(int64_t total, const QString& fileName, const QString& outputFolder,
                             BackgroundRun::Job job, std::function<void()> stopEngine,
                             std::function<int64_t()> bytesDone,
                             std::function<RunPhaseSnapshot()> phase, int64_t laterBytes) {
    RunRequest request;
    request.texts = &m_texts;
    request.total = total;
    request.fileName = fileName;
    request.outputFolder = outputFolder;
    request.job = std::move(job);
    request.stopEngine = std::move(stopEngine);
    request.bytesDone = std::move(bytesDone);
    request.phase = std::move(phase);
    request.laterBytes = laterBytes;
    request.copies = true;
    request.ended = [this](const RunOutcome& outcome) { takeOutcome(outcome); };
    emit runRequested(request);
}

void EnginePanel::takeOutcome(const RunOutcome& outcome) {
    const QString message = outcomeMessage(m_texts, outcome);
    const bool closeAfterRun = std::exchange(m_closeAfterRun, false);
    if (outcome.stopped)
        setStatus(m_texts.stopped);
    else if (!message.isEmpty())
        showMessage(message, MessageIcon::Error);
    else
        runSucceeded();
    if (!outcome.checked && !closeAfterRun) return;
    if (!outcome.done) runFailed();
    releaseEngine();
    closePanel();
}

void EnginePanel::closePanel() {
    hide();
    emit closed();
}

bool EnginePanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Shortcut) {
        if (auto* pressed = qobject_cast<QPushButton*>(watched)) return actOnAccessKey(pressed);
    }
    return QGroupBox::eventFilter(watched, event);
}

bool EnginePanel::actOnAccessKey(QPushButton* button) {
    // The access key moves the focus to the button first, so that a box
    // the focus leaves takes its input as for a mouse click. A handler that
    // brought up a message box on the way ends the key press there, as it
    // ends the press of a mouse click; otherwise the button acts at once.
    // Which widget has the focus right after the message box depends on
    // when the desktop activates the window again, so it is not what
    // decides.
    const int messagesBefore = m_messagesShown;
    button->setFocus(Qt::ShortcutFocusReason);
    if (m_messagesShown == messagesBefore) button->click();
    return true;
}

}  // namespace morvane
