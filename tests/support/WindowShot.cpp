// Saves a picture of one X window as PNG, for test artefacts.
// Usage: window_shot <window-id> <file.png>   (needs DISPLAY; uses the xcb platform)
// A name ending in .ppm gives a binary PPM instead, which a script reads pixel by pixel.

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
    const QString file = QString::fromLocal8Bit(argv[2]);
    if (picture.isNull() || !picture.save(file, file.endsWith(QLatin1String(".ppm")) ? "PPM" : "PNG")) {
        std::fprintf(stderr, "window_shot: no picture of window %s\n", argv[1]);
        return 1;
    }
    return 0;
}
