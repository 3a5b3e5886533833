#pragma once

// Lets GoogleTest print Qt values readably in its failure messages.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include "Types.h"

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* os) {
  *os << '[';
  for (qsizetype i = 0; i < list.size(); ++i)
    *os << (i ? ", \"" : "\"") << list[i].toStdString() << '"';
  *os << ']';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
  *os << "QByteArray(" << bytes.size() << " bytes)";
}

inline void PrintTo(const TPoint& p, std::ostream* os) {
  *os << '(' << p.X << ", " << p.Y << ')';
}

inline void PrintTo(const TRect& r, std::ostream* os) {
  *os << '(' << r.Left << ", " << r.Top << ", " << r.Right << ", " << r.Bottom << ')';
}
