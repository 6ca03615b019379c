#pragma once

#include <QCursor>
#include <QGuiApplication>

namespace morvane {

// Shows the busy cursor over the program's window while it lives; the
// cursor still lets the user click.
class BusyCursor {
  public:
    BusyCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor)); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace morvane
