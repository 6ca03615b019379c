#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "ui/engine_panel.h"

class QComboBox;
class QLineEdit;
class QSpinBox;

namespace morvane {

class FileDivider;

// The divide panel fraDiv: the file chosen for dividing and its chunk plan,
// the chunk size as a number and a unit, the recovery chunks to write, and
// Divide, which names the header file and asks for the division run.
//
// It owns the divider objDiv: a new one for every file chosen, dropped
// after a failed analysis and at the end of every run. The chunk size
// counts when the box takes Enter or loses the focus to another control of
// the window; nothing is taken while the window is busy.
class DividePanel : public EnginePanel {
    Q_OBJECT

  public:
    DividePanel(const Services& services, QWidget* client);
    ~DividePanel() override;

    // Appends the units "Bytes", "KB" and "MB" to cmbUnit, selecting none.
    void loadUnits();

  protected:
    bool analyze(const QString& name, const QString& folder) override;
    void releaseEngine() override;
    // Notes what was written and where on the success text.
    void runSucceeded() override;
    // Keeps the unit, chunk size and recovery chunks for a retry.
    void runFailed() override;
    void enableRunControls(bool enabled) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // What a division that was stopped or failed was asked for, taken up
    // again when its file is opened next while the window is open.
    struct Retry {
        QString file;
        int unitIndex = 0;
        int32_t chunkSize = 0;
        int32_t recoveryChunks = 0;
    };

    void createControls();
    // Puts back what m_retry keeps when it is about `file`.
    void takeUpRetry(const QString& file);
    void createRecoveryRow();
    // Fills the panel from objDiv, in the unit chosen.
    void showDivideInfo();
    void unitChosen(int index);
    void cmbUnit_Click();
    void txtDChunk_GotFocus(Qt::FocusReason reason);
    // Takes a typed character; true when it was the Enter key's 13.
    bool txtDChunk_KeyPress(int keyAscii);
    void txtDChunk_LostFocus(Qt::FocusReason reason);
    // Handles the chunk-size box's focus, mouse and key events; true when
    // the event is taken.
    bool chunkBoxEvent(QEvent* event);
    void commitChunkSize();
    // Shows the recovery chunks the plan allows and what the chosen number adds.
    void showRecoveryPlan();
    void recoveryChosen(int count);
    void cmdDiv_Click();
    void cmdDCancel_Click();
    void objDiv_onGenHeader(const EngineSnapshot& engine);
    void objDiv_onNewDivision(const EngineSnapshot& engine);
    void objDiv_onComplete(const EngineSnapshot& engine);
    void objDiv_onError(const EngineSnapshot& engine);
    void objDiv_onClearErr(const EngineSnapshot& engine);

    std::unique_ptr<FileDivider> objDiv;
    int32_t lngUnitSize = 0;
    QString strDivFileName;
    QString strDivFilePath;
    QString strDivBaseName;
    QString strDivPrefix;
    QString strDivChunkPath;

    QLabel* lblDFilename = nullptr;
    QLabel* lblDFilesize = nullptr;
    QLineEdit* txtDChunk = nullptr;
    QComboBox* cmbUnit = nullptr;
    QLabel* lblDLastChunkSize = nullptr;
    QLabel* lblDNumChunk = nullptr;
    QSpinBox* spnDRecovery = nullptr;
    QLabel* lblDRecovery = nullptr;
    QPushButton* cmdDiv = nullptr;
    QPushButton* cmdDCancel = nullptr;

    // The unit list's entry as the panel last took it, restored when a
    // change has to be ignored.
    int m_unitIndex = -1;
    // The recovery chunks the next division writes, as the panel last took them.
    int32_t m_recoveryChunks = 0;
    std::optional<Retry> m_retry;
    // A chunk-size commit is running; its own message box must not start another.
    bool m_committing = false;
    // The chunk-size box got the focus by a mouse press: select its text
    // when the button is released.
    bool m_selectOnRelease = false;
    // The mouse press that moved the focus out of the chunk-size box brought
    // up a message box; the press is dropped instead of half-clicking.
    bool m_dropNextPress = false;
};

}  // namespace morvane
