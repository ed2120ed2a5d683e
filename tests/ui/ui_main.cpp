// Window tests: the real application object (its error handling included) on Qt's
// offscreen platform.
#include <gtest/gtest.h>

#include "ui/app.h"
#include "ui/uidispatch_qt.h"

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TGrafonelApplication app(argc, argv);
    TQtUiDispatcher dispatcher;
    SetUiDispatcher(&dispatcher);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
