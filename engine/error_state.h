#pragma once

#include <cstdint>
#include <string>

#include "engine/status.h"

namespace morvane {

// The fixed codes an engine check records. A system error carries the
// platform's errno instead.
enum EngineCode : int16_t {
    kNoError = 0,
    kInvalidFilename = 2,
    kInvalidChunkPrefix = 3,
    kInvalidChunkSize = 4,
    kZeroLengthFile = 5,
    kAnalysisRequired = 10,
    kInvalidHeaderFile = 11,
    kChunkFileMissing = 12,
    kOutputWouldOverwriteInput = 13,
    kChunkFileDamaged = 14,
    kInvalidChecksumFile = 15,
};

// The message of an engine code; an empty text for a code that is not one.
const char* engineMessage(int code);

// The last error of one engine. Only the last one is kept; nothing queues.
class ErrorState {
  public:
    int32_t code() const { return m_code; }
    const std::string& description() const { return m_description; }
    bool isSysErr() const { return m_isSysErr; }

    // Records an engine check's code with its message, followed by ": " and
    // `detail` when `detail` is not empty.
    void setEngine(int16_t code, const std::string& detail = "");
    // Records a failed file operation: its errno and text.
    void setSystem(const Status& failure);
    // Back to "No Error".
    void clear();

  private:
    int32_t m_code = 0;
    std::string m_description;
    bool m_isSysErr = false;
};

}  // namespace morvane
