#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

// Answers a modal window that the code under test is about to open: once the active modal widget
// is a T, answer gets it (to read its texts, fill it in and close it) inside the window's own event
// loop. Call it before the code that opens the window. Polls, so that a window opened over another
// modal window is waited for; a window that never opens fails the test.
template <typename T>
void WhenModal(std::function<void(T*)> answer) {
  auto* timer = new QTimer(qApp);
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, answer] {
    auto* modal = qobject_cast<T*>(QApplication::activeModalWidget());
    if (modal == nullptr || !modal->isVisible()) {
      if (++*tries == 1000) {
        timer->deleteLater();
        ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " opened";
      }
      return;
    }
    timer->stop();
    timer->deleteLater();
    answer(modal);
  });
  timer->start(2);
}

// The control of a window by its component name; the test fails when there is none.
template <typename T>
T* Control(const QWidget* window, const char* name) {
  T* control = window->findChild<T*>(QLatin1String(name));
  if (control == nullptr) throw std::runtime_error(std::string("no control ") + name);
  return control;
}
