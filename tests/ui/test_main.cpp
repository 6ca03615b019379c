#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>

// Runs the window's tests inside one QApplication with an English locale,
// so that numbers are written "1,234,567" and "1.5".
int main(int argc, char* argv[]) {
#ifdef MORVANE_TEST_OFFSCREEN
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    return RUN_ALL_TESTS();
}
