#include <QApplication>
#include <gtest/gtest.h>

// One QApplication per test binary. Listing the tests (ctest's discovery runs the binary right
// after the build) must work without a display, hence offscreen unless told otherwise.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
