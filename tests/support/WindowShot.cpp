// Saves a picture of one X window as PNG, for test artefacts.
// Usage: window_shot <window-id> <file.png>   (needs DISPLAY; uses the xcb platform)

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: window_shot <window-id> <file.png>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const WId window = std::strtoull(argv[1], nullptr, 0);
    QScreen* screen = QGuiApplication::primaryScreen();
    const QPixmap picture = screen != nullptr ? screen->grabWindow(window) : QPixmap();
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "window_shot: no picture of window %s\n", argv[1]);
        return 1;
    }
    return 0;
}
