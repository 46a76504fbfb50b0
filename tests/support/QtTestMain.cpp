// main() for tests that need a QApplication: offscreen platform unless the caller chose one
// (the minimal platform has no working fonts), and a private runtime directory so that Qt's
// log stays clean. No test may start a browser: web addresses that reach the desktop fail the test.
#include <QApplication>
#include <QDesktopServices>
#include <QObject>
#include <QUrl>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

class BrowserGuard : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl& url) { ADD_FAILURE() << "a test opened " << url.toString().toStdString(); }
};

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string runtimeDir = "/tmp/qh-test-runtime-XXXXXX";
    if (mkdtemp(runtimeDir.data()) != nullptr) {
        chmod(runtimeDir.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
    }
    QApplication app(argc, argv);
    BrowserGuard guard;
    for (const char* scheme : {"http", "https"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &guard, "open");
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    rmdir(runtimeDir.c_str());
    return rc;
}

#include "QtTestMain.moc"
