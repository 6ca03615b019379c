#pragma once

#include <cstdint>
#include <string>

#include "engine/error_state.h"
#include "engine/file_layer.h"
#include "engine/status.h"

namespace morvane {

// The error state of one engine together with the observer it notifies.
// The state is complete before the observer hears of a change, so an
// observer reading the engine's error properties sees the new values.
template <typename Events>
class ErrorReporter {
  public:
    void setObserver(Events* observer) { m_observer = observer; }
    Events* observer() const { return m_observer; }
    const ErrorState& state() const { return m_state; }

    // Records an engine check's code with its message (and `detail`, see
    // ErrorState::setEngine); raises onError.
    void setError(int16_t code, const std::string& detail = "") {
        m_state.setEngine(code, detail);
        if (m_observer) m_observer->onError();
    }
    // Records a failed file operation's errno and text; raises onError.
    void setSystemError(const Status& failure) {
        m_state.setSystem(failure);
        if (m_observer) m_observer->onError();
    }
    // Returns true when `s` succeeded. Otherwise records it as a failed
    // file operation and raises onError, unless `quietly` (a run that was
    // asked to stop ends without an error), and returns false.
    bool check(const Status& s, bool quietly = false) {
        if (s.ok()) return true;
        if (!quietly) setSystemError(s);
        return false;
    }
    // Back to "No Error"; raises onClearErr.
    void clearError() {
        m_state.clear();
        if (m_observer) m_observer->onClearErr();
    }

    // The setter of a name property: an empty value is refused with
    // `refusal` and the old value stays; any other is stored, then the
    // error state cleared.
    void setName(std::string* field, const std::string& value, int16_t refusal) {
        if (value.empty()) {
            setError(refusal);
            return;
        }
        *field = value;
        clearError();
    }
    // The setter of a folder property: an empty value is ignored without a
    // notification; any other is stored with one trailing "/", then the
    // error state cleared.
    void setFolder(std::string* field, const std::string& value) {
        if (value.empty()) return;
        *field = withTrailingSeparator(value);
        clearError();
    }

  private:
    ErrorState m_state;
    Events* m_observer = nullptr;
};

}  // namespace morvane
