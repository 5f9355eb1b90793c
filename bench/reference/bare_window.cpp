// The reference for the program's start-up: a bare Qt Widgets window, linked to nothing else.
#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(960, 620);
    window.show();
    return app.exec();
}
