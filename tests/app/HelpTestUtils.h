#pragma once

#include <QApplication>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>

// Writes a text file (UTF-8), making its folder.
void WriteTextFile(const QString& fileName, const QString& text);
QString ReadTextFile(const QString& fileName);

// The folder that XDG_CONFIG_HOME points at for the whole test program: a temporary one, emptied
// by ClearUserConfig, so that no test touches the user's own settings.
QString UserConfigDir();
void ClearUserConfig();

// Answers the next modal dialog of type T that opens: runs answer on it once it is showing.
template <typename T>
void AnswerNextModal(std::function<void(T*)> answer) {
  QTimer::singleShot(0, [answer] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* dialog = qobject_cast<T*>(modal)) {
      answer(dialog);
    } else {
      AnswerNextModal<T>(answer);
    }
  });
}
