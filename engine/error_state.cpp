#include "engine/error_state.h"

namespace morvane {

const char* engineMessage(int code) {
    switch (code) {
        case kNoError:
            return "No Error";
        case kInvalidFilename:
            return "Invalid Filename";
        case kInvalidChunkPrefix:
            return "Invalid Chunk Prefix";
        case kInvalidChunkSize:
            return "Invalid Chunk Size";
        case kZeroLengthFile:
            return "Zero Length File";
        case kAnalysisRequired:
            return "Analysis Required";
        case kInvalidHeaderFile:
            return "Invalid Header File";
        case kChunkFileMissing:
            return "Chunk File Missing";
        case kOutputWouldOverwriteInput:
            return "Output Would Overwrite Input";
        case kChunkFileDamaged:
            return "Chunk File Damaged";
        case kInvalidChecksumFile:
            return "Invalid Checksum File";
        default:
            return "";
    }
}

void ErrorState::setEngine(int16_t code, const std::string& detail) {
    m_isSysErr = false;
    m_code = code;
    m_description = engineMessage(code);
    if (!detail.empty()) m_description += ": " + detail;
}

void ErrorState::setSystem(const Status& failure) {
    m_isSysErr = true;
    m_code = failure.number();
    m_description = failure.text();
}

void ErrorState::clear() {
    m_code = kNoError;
    m_isSysErr = false;
    m_description = engineMessage(kNoError);
}

}  // namespace morvane
