// Any values in the user's settings file under the options' names, of any kind the settings store
// (text, lists, bytes, numbers, nothing): the options are read as at start, must come out within
// their limits whatever the file holds, and must read back the same once stored. The input gives
// one value per line, in the order of the names; a line's first byte chooses the value's kind.
//
// The values are written through the settings themselves, in their own notation, not as raw bytes
// of the file: the notation "@Variant(...)" makes Qt read a serialised value whose counts it
// trusts (a file of 70 bytes has it reserve gigabytes), which is Qt's own reading and no part of
// the options store.
#include "Options.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSettings>

#include <unistd.h>
#include <cstdlib>
#include <memory>

namespace {

const char* const kNames[] = {"RasterCache",  "GridNodeRadius", "RasterBorderColor",
                              "SrcGridColor", "DstGridColor",   "MissedNodeColor"};

// A settings folder of this run's own, which the settings find through XDG_CONFIG_HOME, set before
// they are first asked for. It lives in memory where the system offers a folder there: every
// stored value is made durable, which a disk makes slow. The program reads its settings with a
// window system at hand, and Qt's warnings about values are the input's business.
void Prepare() {
  static const bool prepared = [] {
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static const QString home = base + QStringLiteral("/velmora-options-fuzz-%1").arg(::getpid());
    QDir().mkpath(home);
    std::atexit([] { QDir(home).removeRecursively(); });
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "velmora";
    static char* argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    // A value that cannot be read is reported in words, never in silence.
    SetExceptionHandler([](const Exception& e) {
      if (e.Message().isEmpty()) std::abort();
    });
    return true;
  }();
  (void)prepared;
}

QVariant ValueOf(const QByteArray& line) {
  const QByteArray rest = line.mid(1);
  switch (line.isEmpty() ? 0 : line[0] % 6) {
    case 0:
      return QString::fromUtf8(rest);
    case 1:
      return QString::fromUtf8(rest).split(u',');
    case 2:
      return rest;
    case 3:
      return rest.toLongLong();
    case 4:
      return rest.toDouble();
    default:
      return QVariant();
  }
}

void WriteSettings(const uint8_t* data, size_t size) {
  const std::unique_ptr<QSettings> settings = UserSettings();
  settings->clear();
  settings->beginGroup(QStringLiteral("Options"));
  const QList<QByteArray> lines =
      QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\n');
  for (qsizetype i = 0; i < lines.size() && i < 6; ++i)
    if (!lines[i].isEmpty()) settings->setValue(QLatin1String(kNames[i]), ValueOf(lines[i]));
  settings->endGroup();
  settings->sync();
}

bool WithinLimits(const TOptions& o) {
  return o.RasterCache >= TOptions::kMinRasterCache && o.RasterCache <= TOptions::kMaxRasterCache &&
         o.GridNodeRadius >= TOptions::kMinGridNodeRadius &&
         o.GridNodeRadius <= TOptions::kMaxGridNodeRadius && o.RasterBorderColor <= 0xFFFFFF &&
         o.SrcGridColor <= 0xFFFFFF && o.DstGridColor <= 0xFFFFFF && o.MissedNodeColor <= 0xFFFFFF;
}

bool Same(const TOptions& a, const TOptions& b) {
  return a.RasterCache == b.RasterCache && a.GridNodeRadius == b.GridNodeRadius &&
         a.RasterBorderColor == b.RasterBorderColor && a.SrcGridColor == b.SrcGridColor &&
         a.DstGridColor == b.DstGridColor && a.MissedNodeColor == b.MissedNodeColor;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Prepare();
  WriteSettings(data, size);
  TOptions options;
  options.Load();
  if (!WithinLimits(options)) std::abort();
  options.Save();
  TOptions again;
  again.Load();
  if (!Same(options, again)) std::abort();
  return 0;
}
