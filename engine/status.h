#pragma once

#include <string>

namespace morvane {

// The outcome of one file operation: success, or the failure's errno and its
// strerror text. Only the file layer turns errno into a Status; everything
// above it passes the value along.
class Status {
  public:
    Status() = default;

    static Status OK() { return Status(); }
    // Failure with `number` and the system's text for it.
    static Status SysError(int number);
    // Failure with `number` and a text of our own (for example an early end of file).
    static Status SysError(int number, std::string text);

    bool ok() const { return m_number == 0; }
    int number() const { return m_number; }
    const std::string& text() const { return m_text; }

  private:
    Status(int number, std::string text) : m_number(number), m_text(std::move(text)) {}

    int m_number = 0;
    std::string m_text;
};

}  // namespace morvane
