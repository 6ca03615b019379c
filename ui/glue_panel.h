#pragma once

#include <QString>
#include <memory>

#include "ui/engine_panel.h"

namespace morvane {

class FileGlue;

// The glue panel fraGlu: what the chosen header file describes, whether
// the chunks will be verified and what recovery data can rebuild, and Glue,
// which names the output file and asks for the glue run.
//
// It owns the glue engine objGlu: a new one for every header chosen,
// dropped after a failed analysis and at the end of every run, but kept
// after a failed chunk check so that Glue can be tried again.
class GluePanel : public EnginePanel {
    Q_OBJECT

  public:
    GluePanel(const Services& services, QWidget* client);
    ~GluePanel() override;

  protected:
    bool analyze(const QString& name, const QString& folder) override;
    void releaseEngine() override;
    // Names the chunks the run rebuilt after the success text, and notes
    // what was written and where.
    void runSucceeded() override;
    void enableRunControls(bool enabled) override;

  private:
    void createControls();
    // Fills the panel from objGlu.
    void showGlueInfo();
    // The output name Glue proposes: the engine's BigFileName, made safe.
    QString proposedOutputName() const;
    void cmdGlu_Click();
    void cmdGCancel_Click();
    // Reads the whole set on the worker thread and shows what it found;
    // `repair` then rebuilds in place what the recovery data covers.
    void cmdCheck_Click();
    void cmdRepair_Click();
    void runCheck(bool repair);
    void checkEnded(const RunOutcome& outcome, bool repair);
    // Repair is offered after a Check that found what the recovery data
    // can rebuild; the button is usable only while no run goes on.
    void offerRepair(bool offered);
    void objGlu_onError(const EngineSnapshot& engine);
    void objGlu_onNewDivision(const EngineSnapshot& engine);
    void objGlu_onComplete(const EngineSnapshot& engine);
    void objGlu_onClearErr(const EngineSnapshot& engine);

    std::unique_ptr<FileGlue> objGlu;
    QString strGluHeaderName;
    QString strGluHeaderPath;
    QString strGluPrefix;
    QString strGluOutputPath;

    QLabel* lblGHeader = nullptr;
    QLabel* lblGChunkSize = nullptr;
    QLabel* lblGLastChunkSize = nullptr;
    QLabel* lblGNumChunk = nullptr;
    QLabel* lblGChunksFound = nullptr;
    QLabel* lblGBigFileName = nullptr;
    QLabel* lblGBigFileSize = nullptr;
    QLabel* lblGChecksum = nullptr;
    QLabel* lblGRecovery = nullptr;
    QPushButton* cmdGlu = nullptr;
    QPushButton* cmdGCancel = nullptr;
    QPushButton* cmdCheck = nullptr;
    QPushButton* cmdRepair = nullptr;
    bool m_repairOffered = false;
};

}  // namespace morvane
