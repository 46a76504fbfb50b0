// main() for tests that need a QApplication: offscreen platform unless the caller chose one
// (the minimal platform has no working fonts), and a private runtime directory so that Qt's
// log stays clean.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string runtimeDir = "/tmp/qh-test-runtime-XXXXXX";
    if (mkdtemp(runtimeDir.data()) != nullptr) {
        chmod(runtimeDir.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    rmdir(runtimeDir.c_str());
    return rc;
}
