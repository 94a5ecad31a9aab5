// The reference of the desktop cost cases: the least a toolkit window costs while it waits, a
// window of the converter's size with a focused text field, whose cursor blinks as the
// converter's does.
#include <QApplication>
#include <QLineEdit>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle("minimal window");
  window.resize(1000, 600);
  QLineEdit field(&window);
  field.setGeometry(20, 20, 300, 24);
  window.show();
  field.setFocus();
  return app.exec();
}
