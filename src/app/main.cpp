#include <QApplication>
#include <QMainWindow>

#include <clocale>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Lumenkite");
    QApplication::setApplicationName("Lumenkite");
    // libmpv and number formatting for child processes need the C numeric locale.
    std::setlocale(LC_NUMERIC, "C");
    QMainWindow window;
    window.setWindowTitle("Lumenkite");
    window.resize(1280, 800);
    window.show();
    return app.exec();
}
