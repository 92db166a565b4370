// The baseline of the start-up benchmark: the smallest Qt Widgets program that shows a window.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Hello, world"));
    label.show();
    return QApplication::exec();
}
