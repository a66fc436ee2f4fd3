// The desktop program: start-up, then the main window until it closes.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle("Brellix");
    window.show();
    return app.exec();
}
