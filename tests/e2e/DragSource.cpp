// A window that drags the files named on its command line, as a file manager does: a press of the
// left button starts the drag, and when the drag ends the program prints what the target did with
// it, "accepted" or "refused", and ends. The end-to-end tests drop files onto the program this way.
#include <QApplication>
#include <QDrag>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

#include <cstdio>

namespace {

class TDragSource : public QLabel {
 public:
  explicit TDragSource(QList<QUrl> urls) : QLabel(QStringLiteral("BMP")), FUrls(std::move(urls)) {
    setWindowTitle(QStringLiteral("Drag source"));
    setAlignment(Qt::AlignCenter);
    resize(60, 60);
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    auto* drag = new QDrag(this);
    auto* data = new QMimeData;
    data->setUrls(FUrls);
    drag->setMimeData(data);
    const Qt::DropAction action = drag->exec(Qt::CopyAction);
    std::printf("%s\n", action == Qt::IgnoreAction ? "refused" : "accepted");
    std::fflush(stdout);
    QApplication::quit();
  }

 private:
  QList<QUrl> FUrls;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QList<QUrl> urls;
  for (const QString& name : QApplication::arguments().mid(1)) urls << QUrl::fromLocalFile(name);
  TDragSource source(urls);
  source.show();
  return app.exec();
}
