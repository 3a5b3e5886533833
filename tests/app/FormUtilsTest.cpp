#include "FormUtils.h"
#include "ModalAnswers.h"
#include "QtPrinters.h"

#include <QAbstractButton>
#include <QEvent>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

namespace {

// What an error box showed.
struct TShownBox {
  QString Title;
  QString Text;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
};

// Reads and closes the next error box.
void CloseNextBox(TShownBox& shown) {
  WhenModal<QMessageBox>([&shown](QMessageBox* box) {
    shown = TShownBox{box->windowTitle(), box->text(), box->icon()};
    box->accept();
  });
}

// An object whose event handler fails the way it is told.
class TFailingObject : public QObject {
 public:
  explicit TFailingObject(std::function<void()> fail) : FFail(std::move(fail)) {}

  bool event(QEvent* event) override {
    if (event->type() == QEvent::User) FFail();
    return QObject::event(event);
  }

 private:
  std::function<void()> FFail;
};

}  // namespace

TEST(ErrorBox, ShowsTheMessageTitledWithTheApplicationsTitle) {
  SetApplicationTitle(QStringLiteral("Velmora - калибровка растров"));
  TShownBox shown;
  CloseNextBox(shown);
  ShowException(Exception(QStringLiteral("Файл не найден")));
  EXPECT_EQ(shown.Title, QStringLiteral("Velmora - калибровка растров"));
  EXPECT_EQ(shown.Text, QStringLiteral("Файл не найден"));
  EXPECT_EQ(shown.Icon, QMessageBox::Critical);

  // Errors without a caller reach the same box.
  CloseNextBox(shown);
  HandleException(Exception(QStringLiteral("Неверный тип")));
  EXPECT_EQ(shown.Text, QStringLiteral("Неверный тип"));
  SetApplicationTitle(QString());
}

TEST(ErrorBox, TheSameErrorAgainWhileItsBoxIsOpenOpensNoSecondBox) {
  int secondBoxes = 0;
  bool firstOpen = false;
  bool returned = false;
  WhenModal<QMessageBox>([&](QMessageBox* box) {
    firstOpen = true;
    // Were a second box opened, it would wait for an answer: this gives it one.
    WhenModal<QMessageBox>([&](QMessageBox* other) {
      if (firstOpen) ++secondBoxes;
      other->accept();
    });
    ShowErrorMessage(QStringLiteral("Ошибка отрисовки"));
    returned = true;
    firstOpen = false;
    box->accept();
  });
  ShowErrorMessage(QStringLiteral("Ошибка отрисовки"));
  EXPECT_TRUE(returned);
  EXPECT_EQ(secondBoxes, 0);
  // Another message is shown; the helper still waiting closes its box.
  ShowErrorMessage(QStringLiteral("Другая ошибка"));
}

TEST(Notify, AnErrorInAnEventHandlerIsShownAndTheLoopGoesOn) {
  struct TCase {
    std::function<void()> Fail;
    QString Shown;
  };
  const std::vector<TCase> cases = {
      {[] { throw Exception(QStringLiteral("Растр повреждён")); },
       QStringLiteral("Растр повреждён")},
      {[] { throw std::bad_alloc(); }, QStringLiteral("Недостаточно памяти. Операция прервана.")},
      {[] { throw std::out_of_range("vector"); },
       QStringLiteral("Непредвиденная ошибка: vector. Операция прервана.")},
      {[] { throw 42; }, QStringLiteral("Непредвиденная ошибка. Операция прервана.")},
  };
  for (const TCase& c : cases) {
    TFailingObject object(c.Fail);
    TShownBox shown;
    CloseNextBox(shown);
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&object, &event));
    EXPECT_EQ(shown.Text, c.Shown);
  }

  // A posted event and a timer's slot fail inside the event loop itself.
  TFailingObject object([] { throw Exception(QStringLiteral("Отложенная команда")); });
  TShownBox posted;
  CloseNextBox(posted);
  QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
  QCoreApplication::sendPostedEvents(&object);
  EXPECT_EQ(posted.Text, QStringLiteral("Отложенная команда"));

  TShownBox fromSlot;
  CloseNextBox(fromSlot);
  bool after = false;
  QTimer::singleShot(0, [] { throw Exception(QStringLiteral("Ошибка команды меню")); });
  QTimer::singleShot(50, [&after] { after = true; });
  while (!after) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  EXPECT_EQ(fromSlot.Text, QStringLiteral("Ошибка команды меню"));
}

TEST(Question, AsksWithTheQuestionIconAndRussianButtons) {
  // The buttons as shown, the default one first; then the one Esc and the close box answer.
  QStringList shown;
  const auto answer = [&shown](std::function<void(QMessageBox*)> press) {
    WhenModal<QMessageBox>([&shown, press](QMessageBox* box) {
      EXPECT_EQ(box->icon(), QMessageBox::Question);
      shown = QStringList{box->defaultButton()->text().remove(u'&')};
      for (QMessageBox::StandardButton b : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel})
        if (box->button(b)) shown << box->button(b)->text().remove(u'&');
      shown << box->escapeButton()->text().remove(u'&');
      press(box);
    });
  };
  const QString title = QStringLiteral("Сохранение");
  const QString text = QStringLiteral("Сохранить растр a.bmp?");
  answer([](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
  EXPECT_EQ(AskQuestion(title, text, true), QMessageBox::No);
  EXPECT_EQ(shown, QStringList({"Да", "Да", "Нет", "Отмена", "Отмена"}));

  answer([](QMessageBox* box) { box->close(); });
  EXPECT_EQ(AskQuestion(title, text, true), QMessageBox::Cancel);
  answer([](QMessageBox* box) { box->close(); });
  EXPECT_EQ(AskQuestion(title, text, false), QMessageBox::No);
  EXPECT_EQ(shown, QStringList({"Да", "Да", "Нет", "Нет"}));
  answer([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
  EXPECT_EQ(AskQuestion(title, text, false), QMessageBox::Yes);
}
