// screen-grab: saves a rectangle of the X display as a PNG, for the README's screenshots.
//   screen-grab OUTPUT.png X Y WIDTH HEIGHT

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    QGuiApplication application(argc, argv);
    if (argc != 6) {
        std::fprintf(stderr, "usage: screen-grab OUTPUT.png X Y WIDTH HEIGHT\n");
        return 2;
    }
    const int x = std::atoi(argv[2]);
    const int y = std::atoi(argv[3]);
    const int width = std::atoi(argv[4]);
    const int height = std::atoi(argv[5]);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr || !screen->grabWindow(0, x, y, width, height).save(argv[1], "PNG")) {
        std::fprintf(stderr, "screen-grab: could not grab or save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
