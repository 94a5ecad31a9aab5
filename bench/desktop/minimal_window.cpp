// The reference of the desktop cost cases: the least a toolkit window costs while it waits, an
// empty window of the converter's size.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle("minimal window");
  window.resize(1000, 600);
  window.show();
  return app.exec();
}
