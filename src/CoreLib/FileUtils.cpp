#include "FileUtils.h"

#include "RecArrays.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// The record lives in an ELF section of this name; the build puts it into the program.
constexpr char kRecordSection[] = ".velmora_version";
constexpr char kRecordMagic[8] = {'V', 'L', 'M', 'V', 'E', 'R', '1', '\0'};
constexpr int64_t kMaxRecordSize = 64 * 1024;

uint16_t Le16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Le64(const unsigned char* p) {
  return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}

bool ReadAt(THandleStream& file, int64_t fileSize, uint64_t offset, void* buffer, uint64_t count) {
  if (offset > static_cast<uint64_t>(fileSize) || count > static_cast<uint64_t>(fileSize) - offset)
    return false;
  file.ReadBufferAt(static_cast<int64_t>(offset), buffer, static_cast<int64_t>(count));
  return true;
}

// Finds the record section of a 64-bit little-endian ELF file; every size and offset is checked
// against the file before it is used. Returns an empty array when there is none.
QByteArray ReadVersionRecord(const QString& fileName) {
  TFileStream file(fileName, TFileMode::fmOpenRead);
  const int64_t fileSize = file.Size();
  unsigned char ehdr[64];
  if (!ReadAt(file, fileSize, 0, ehdr, sizeof ehdr)) return {};
  if (std::memcmp(ehdr,
                  "\x7f"
                  "ELF",
                  4) != 0 ||
      ehdr[4] != 2 || ehdr[5] != 1)
    return {};
  const uint64_t shoff = Le64(ehdr + 40);
  const uint16_t shentsize = Le16(ehdr + 58);
  const uint16_t shnum = Le16(ehdr + 60);
  const uint16_t shstrndx = Le16(ehdr + 62);
  if (shentsize < 64 || shnum == 0 || shstrndx >= shnum) return {};
  std::vector<unsigned char> headers(static_cast<size_t>(shentsize) * shnum);
  if (!ReadAt(file, fileSize, shoff, headers.data(), headers.size())) return {};
  const unsigned char* strtabHeader = headers.data() + static_cast<size_t>(shstrndx) * shentsize;
  const uint64_t strtabOffset = Le64(strtabHeader + 24);
  const uint64_t strtabSize = Le64(strtabHeader + 32);
  if (strtabSize > static_cast<uint64_t>(kMaxRecordSize) * 16) return {};
  std::vector<char> names(static_cast<size_t>(strtabSize) + 1, '\0');
  if (!ReadAt(file, fileSize, strtabOffset, names.data(), strtabSize)) return {};
  for (uint16_t i = 0; i < shnum; ++i) {
    const unsigned char* header = headers.data() + static_cast<size_t>(i) * shentsize;
    const uint32_t nameOffset = Le32(header);
    if (nameOffset >= strtabSize || std::strcmp(names.data() + nameOffset, kRecordSection) != 0)
      continue;
    const uint64_t offset = Le64(header + 24);
    const uint64_t size = Le64(header + 32);
    if (size < sizeof kRecordMagic || size > static_cast<uint64_t>(kMaxRecordSize)) return {};
    QByteArray record(static_cast<qsizetype>(size), '\0');
    if (!ReadAt(file, fileSize, offset, record.data(), size)) return {};
    if (std::memcmp(record.constData(), kRecordMagic, sizeof kRecordMagic) != 0) return {};
    return record;
  }
  return {};
}

}  // namespace

TFileVersionInfo::TFileVersionInfo(const QString& fileName) : FFileName(fileName) {
  try {
    FVersionData = ReadVersionRecord(fileName);
  } catch (const Exception&) {
    FVersionData.clear();
  }
  if (FVersionData.isEmpty())
    throw Exception(QStringLiteral("Ошибка при получении версии файла ") + fileName);
}

// The record after its magic: entries of a 16-bit path length, the path, a 16-bit value length and
// the value, ended by a zero path length.
bool TFileVersionInfo::FindValue(const QByteArray& path, QByteArray& value) const {
  const auto* data = reinterpret_cast<const unsigned char*>(FVersionData.constData());
  const qsizetype size = FVersionData.size();
  qsizetype pos = sizeof kRecordMagic;
  while (pos + 2 <= size) {
    const qsizetype pathLength = Le16(data + pos);
    pos += 2;
    if (pathLength == 0 || pos + pathLength + 2 > size) return false;
    const QByteArray entryPath(FVersionData.constData() + pos, pathLength);
    pos += pathLength;
    const qsizetype valueLength = Le16(data + pos);
    pos += 2;
    if (pos + valueLength > size) return false;
    if (entryPath == path) {
      value = QByteArray(FVersionData.constData() + pos, valueLength);
      return true;
    }
    pos += valueLength;
  }
  return false;
}

QString TFileVersionInfo::GetTranslation() {
  if (FTranslation.isEmpty()) {
    QByteArray value;
    if (FindValue(QByteArrayLiteral("\\VarFileInfo\\Translation"), value) && value.size() >= 4) {
      const auto* p = reinterpret_cast<const unsigned char*>(value.constData());
      const uint16_t language = Le16(p);
      const uint16_t codePage = Le16(p + 2);
      FTranslation = QString::asprintf("%.2x%.2x%.2x%.2x", language >> 8, language & 0xFF,
                                       codePage >> 8, codePage & 0xFF)
                         .toLower();
    } else {
      FTranslation = QStringLiteral("041904e3");
    }
  }
  return FTranslation;
}

QString TFileVersionInfo::GetValue(const QString& name) {
  const QString path =
      QStringLiteral("\\StringFileInfo\\") + GetTranslation() + QStringLiteral("\\") + name;
  QByteArray value;
  if (!FindValue(path.toUtf8(), value))
    throw Exception(QStringLiteral("Ошибка при получении информации (") + path +
                    QStringLiteral(") о версии файла ") + FFileName);
  const qsizetype end = value.indexOf('\0');
  return QString::fromUtf8(end >= 0 ? value.left(end) : value);
}

TFileVersionInfo& AppVersionInfo() {
  static std::unique_ptr<TFileVersionInfo> info;
  if (!info) {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    const QString fileName = n > 0 ? QFile::decodeName(QByteArray(path, n)) : QString();
    info = std::make_unique<TFileVersionInfo>(fileName);
  }
  return *info;
}

TTempFileStream::TTempFileStream(const QString& fileName) {
  const QByteArray path = QFile::encodeName(fileName);
  int handle;
  do {
    handle = ::open(path.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  } while (handle < 0 && errno == EINTR);
  if (handle < 0)
    throw EOSError(errno, QStringLiteral("Не удаётся создать временный файл ") + fileName);
  ::unlink(path.constData());
  SetHandle(handle);
  SetSubject(QStringLiteral("временного файла ") + fileName);
}

TTempFileStream* TTempFileStream::CreateUnique(const QString& prefix) {
  const QString dir = GetTempDir();
  QByteArray pattern = QFile::encodeName(dir + QStringLiteral("/") + prefix) + "XXXXXX";
  const int handle = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (handle < 0)
    throw EOSError(errno, QStringLiteral("Не удаётся создать временный файл в папке %1 (папку для "
                                         "временных файлов задаёт переменная TMPDIR)")
                              .arg(dir));
  ::unlink(pattern.constData());
  auto* stream = new TTempFileStream();
  stream->SetHandle(handle);
  stream->SetSubject(QStringLiteral("временного файла в папке ") + dir);
  return stream;
}

int64_t TInsideStreamAllocator::Allocate(int64_t size, bool fill) {
  const int64_t offset = FStream->Size();
  if (fill && size > 0) {
    static const char zeros[65536] = {};
    int64_t done = 0;
    while (done < size) {
      const int64_t chunk = std::min<int64_t>(size - done, sizeof zeros);
      FStream->WriteBufferAt(offset + done, zeros, chunk);
      done += chunk;
    }
  }
  return offset;
}

void TInsideStreamAllocator::Reset() {
  FStream->SetSize(0);
  FStream->SetPosition(0);
}

namespace {

// Files to remove when a terminating signal ends the process. The handler may run on any thread at
// any moment: the paths live in fixed buffers, and a slot is armed only after its path is written.
struct TCleanupSlot {
  enum : int { kFree, kBusy, kArmed };
  std::atomic<int> State{kFree};
  char Path[PATH_MAX];
};

constexpr int kCleanupSlots = 16;
TCleanupSlot GCleanupSlots[kCleanupSlots];

void OnTerminatingSignal(int signal) {
  for (TCleanupSlot& slot : GCleanupSlots)
    if (slot.State.load() == TCleanupSlot::kArmed) ::unlink(slot.Path);
  // The handler was reset on entry: the signal now does what it does by default, ending the
  // process with its usual status.
  ::raise(signal);
}

// Signals that a program handles or ignores itself are left to it.
void InstallCleanupHandlers() {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old;
    if (::sigaction(signal, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) ||
        old.sa_handler != SIG_DFL)
      continue;
    struct sigaction action = {};
    action.sa_handler = &OnTerminatingSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
}

// The slot that now holds the path, or -1 when none is free or the path does not fit: then the
// file is only removed by its owner.
int RemoveOnSignal(const QByteArray& path) {
  static std::once_flag installed;
  std::call_once(installed, InstallCleanupHandlers);
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kCleanupSlots; ++i) {
    TCleanupSlot& slot = GCleanupSlots[i];
    int expected = TCleanupSlot::kFree;
    if (!slot.State.compare_exchange_strong(expected, TCleanupSlot::kBusy)) continue;
    std::memcpy(slot.Path, path.constData(), static_cast<size_t>(path.size()) + 1);
    slot.State.store(TCleanupSlot::kArmed);
    return i;
  }
  return -1;
}

void KeepOnSignal(int slot) {
  if (slot >= 0) GCleanupSlots[slot].State.store(TCleanupSlot::kFree);
}

void SyncDirectoryOf(const QString& fileName) {
  const qsizetype slash = fileName.lastIndexOf(u'/');
  const QString dir = slash < 0    ? QStringLiteral(".")
                      : slash == 0 ? QStringLiteral("/")
                                   : fileName.left(slash);
  const int handle = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (handle < 0) return;
  // Some file systems cannot sync a directory; the rename has happened either way.
  ::fsync(handle);
  ::close(handle);
}

// The temporary names of one target: Folder + Stem + kRandomLetters letters and digits + Mark.
struct TTemporaryNames {
  QString Folder;  // with its trailing slash; empty for the current folder
  QString Stem;    // the target's name up to and with its last dot
  QString Mark;    // ".~" and the first two letters of the extension

  explicit TTemporaryNames(const QString& target) {
    const qsizetype slash = target.lastIndexOf(u'/');
    Folder = target.left(slash + 1);
    const QString name = target.mid(slash + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    Stem = dot < 0 ? name + u'.' : name.left(dot + 1);
    Mark = QStringLiteral(".~") + (dot < 0 ? QString() : name.mid(dot + 1, 2));
  }

  static constexpr int kRandomLetters = 6;

  QString Random() const {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    uint64_t bits = (uint64_t{device()} << 32) | device();
    QString letters;
    for (int i = 0; i < kRandomLetters; ++i, bits /= 62)
      letters += QLatin1Char(kLetters[bits % 62]);
    return Folder + Stem + letters + Mark;
  }

  // Whether a name in the folder is one of the target's temporary names.
  bool Holds(const QString& name) const {
    if (name.size() != Stem.size() + kRandomLetters + Mark.size() || !name.startsWith(Stem) ||
        !name.endsWith(Mark))
      return false;
    for (qsizetype i = Stem.size(); i < Stem.size() + kRandomLetters; ++i)
      if (name[i].unicode() > 127 || !name[i].isLetterOrNumber()) return false;
    return true;
  }
};

// A temporary file is created and locked at once, and keeps its lock until it is renamed or
// removed; one whose last change is older than this and that nobody locks was left behind by a run
// that ended without removing it (killed, or the machine went down).
constexpr int kStaleSeconds = 5;

void RemoveStaleTemporaryFiles(const TTemporaryNames& names) {
  const QByteArray folder =
      QFile::encodeName(names.Folder.isEmpty() ? QStringLiteral(".") : names.Folder);
  DIR* dir = ::opendir(folder.constData());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    if (!names.Holds(QFile::decodeName(entry->d_name))) continue;
    const QByteArray path = folder + '/' + entry->d_name;
    // Without following a link or waiting at a pipe that bears such a name.
    const int handle = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) continue;
    struct stat opened, named;
    if (::fstat(handle, &opened) == 0 && S_ISREG(opened.st_mode) &&
        opened.st_mtime < std::time(nullptr) - kStaleSeconds &&
        ::flock(handle, LOCK_SH | LOCK_NB) == 0 && ::lstat(path.constData(), &named) == 0 &&
        named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
      ::unlink(path.constData());
    ::close(handle);
  }
  ::closedir(dir);
}

}  // namespace

TReplacementFile::TReplacementFile(const QString& target) : FTarget(target) {
  const QByteArray targetPath = QFile::encodeName(target);
  struct stat st;
  // Refused before anything is written: the rename could only fail at the end, or would put a
  // regular file in the place of a device, a pipe or a socket.
  if (::stat(targetPath.constData(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw EFCreateError(target, EISDIR);
    if (!S_ISREG(st.st_mode))
      throw EFCreateError(target,
                          QStringLiteral("это не обычный файл, а канал, устройство или сокет"));
    // A file the user may not write is protected from change, also from being replaced.
    if (::access(targetPath.constData(), W_OK) != 0 && errno == EACCES)
      throw EFCreateError(target, EACCES);
  }
  const TTemporaryNames names(target);
  RemoveStaleTemporaryFiles(names);
  // A name that is taken already belongs to another save: another is drawn.
  for (int attempt = 0; !FStream; ++attempt) {
    FTempName = names.Random();
    try {
      FStream = std::make_unique<TFileStream>(FTempName, TFileMode::fmCreateNew, target);
    } catch (const EFCreateError& e) {
      if (e.ErrorCode() != EEXIST || attempt >= 100) throw;
    }
  }
  // Where the file system cannot lock, no other save takes the file for a stale one either.
  ::flock(FStream->Handle(), LOCK_EX | LOCK_NB);
  FCleanupSlot = RemoveOnSignal(QFile::encodeName(FTempName));
}

TReplacementFile::~TReplacementFile() {
  if (FStream) Discard();
}

void TReplacementFile::Discard() {
  ::unlink(QFile::encodeName(FTempName).constData());
  FStream.reset();
  KeepOnSignal(FCleanupSlot);
  FCleanupSlot = -1;
}

void TReplacementFile::Commit(const QString& renameError) {
  CheckInternal(FStream != nullptr, QStringLiteral("TReplacementFile.Commit"),
                QStringLiteral("файл уже закрыт"));
  const QByteArray targetPath = QFile::encodeName(FTarget);
  struct stat old;
  if (::stat(targetPath.constData(), &old) == 0)
    ::fchmod(FStream->Handle(), old.st_mode & 07777 & ~(S_ISUID | S_ISGID));
  FStream->Flush();
  // Renamed while it is still open and locked: until it bears the target's name it is never
  // taken for a stale one.
  if (::rename(QFile::encodeName(FTempName).constData(), targetPath.constData()) != 0) {
    const int error = errno;
    Discard();
    throw Exception(
        QStringLiteral("%1 в %2: %3").arg(renameError, FTarget, SystemErrorText(error)));
  }
  FStream.reset();
  KeepOnSignal(FCleanupSlot);
  FCleanupSlot = -1;
  SyncDirectoryOf(FTarget);
}

TWatchedFile::TWatchedFile(const QString& fileName) : TFileStream(fileName, TFileMode::fmOpenRead) {
  const QByteArray path = QFile::encodeName(fileName);
  FNotices = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (FNotices >= 0 && ::inotify_add_watch(FNotices, path.constData(), IN_MODIFY) < 0) {
    ::close(FNotices);
    FNotices = -1;
  }
  // Measured once the watch is set, so that no change falls between the two. The watch is on the
  // name, which must still lead to the open file.
  struct stat named;
  if (::fstat(Handle(), &FOpened) != 0) throw EFOpenError(fileName, errno);
  if (::stat(path.constData(), &named) != 0 || named.st_dev != FOpened.st_dev ||
      named.st_ino != FOpened.st_ino)
    FChanged = true;
}

TWatchedFile::~TWatchedFile() {
  if (FNotices >= 0) ::close(FNotices);
}

void TWatchedFile::CheckIntact() const {
  if (!FChanged && FNotices >= 0) {
    alignas(inotify_event) char notices[4096];
    // Any notice is of a write: only writes are watched.
    FChanged = ::read(FNotices, notices, sizeof notices) > 0;
  }
  struct stat now;
  if (!FChanged && (::fstat(Handle(), &now) != 0 || now.st_size != FOpened.st_size ||
                    now.st_mtim.tv_sec != FOpened.st_mtim.tv_sec ||
                    now.st_mtim.tv_nsec != FOpened.st_mtim.tv_nsec ||
                    now.st_ctim.tv_sec != FOpened.st_ctim.tv_sec ||
                    now.st_ctim.tv_nsec != FOpened.st_ctim.tv_nsec))
    FChanged = true;
  if (FChanged)
    throw Exception(QStringLiteral("Файл %1 изменила другая программа, пока он читался: "
                                   "прочитанное может смешать прежнее и новое содержимое, поэтому "
                                   "чтение прервано. Откройте файл снова, когда его перестанут "
                                   "менять")
                        .arg(FileName()));
}

// The lease-break notices of the system arrive as a signal, which may interrupt any thread; its
// handler only passes the descriptor on through a pipe. A thread of its own reads the pipe and
// copies the file, so that the other program is held back only as long as the copy takes, whatever
// this program is busy with.
class TStableFileWatcher {
 public:
  static TStableFileWatcher& Instance() {
    // Never destroyed: the watching thread runs until the process ends.
    static TStableFileWatcher* watcher = new TStableFileWatcher();
    return *watcher;
  }

  static int Signal() { return SIGRTMIN + 1; }
  std::mutex& Mutex() { return FMutex; }
  bool Started() const { return FStarted; }

  // Under Mutex.
  void Add(TStableFile* file) { FFiles.push_back(file); }
  void Remove(TStableFile* file) {
    FFiles.erase(std::remove(FFiles.begin(), FFiles.end(), file), FFiles.end());
  }

 private:
  // Without a thread of its own (the system will not start one) it takes no leases: files are then
  // read as those whose lease is refused.
  TStableFileWatcher() {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return;
    FReadPipe = pipe[0];
    try {
      std::thread([this] { Watch(); }).detach();
    } catch (const std::system_error&) {
      ::close(pipe[0]);
      ::close(pipe[1]);
      return;
    }
    GWritePipe.store(pipe[1]);
    struct sigaction action = {};
    action.sa_sigaction = &OnLeaseBreak;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (::sigaction(Signal(), &action, nullptr) != 0) return;
    FStarted = true;
  }

  static void OnLeaseBreak(int, siginfo_t* info, void*) {
    const int saved = errno;
    const int handle = info->si_fd;
    const int pipe = GWritePipe.load();
    if (pipe >= 0) {
      const ssize_t written = ::write(pipe, &handle, sizeof handle);
      (void)written;  // a full pipe already holds notices enough to wake the watcher
    }
    errno = saved;
  }

  void Watch() {
    for (;;) {
      // Waiting in poll rather than in read lets a thread checker hand a notice that lands on this
      // thread to its handler at once: it holds signals back while a thread sits in a call that
      // it does not know to block, and read is not one of those it knows.
      pollfd notices = {FReadPipe, POLLIN, 0};
      if (::poll(&notices, 1, -1) < 0) {
        if (errno != EINTR) return;
        continue;
      }
      int handle;
      const ssize_t n = ::read(FReadPipe, &handle, sizeof handle);
      if (n != sizeof handle) {
        if (n < 0 && errno != EINTR) return;
        continue;
      }
      std::lock_guard<std::mutex> lock(FMutex);
      for (TStableFile* file : FFiles)
        // A descriptor number may have been reused since the notice: only a file whose lease is
        // really being broken is copied.
        if (file->Handle() == handle && file->FState.load() == TStableFile::kLeased &&
            ::fcntl(handle, F_GETLEASE) != F_RDLCK)
          file->TakePrivateCopy();
    }
  }

  static inline std::atomic<int> GWritePipe{-1};
  std::mutex FMutex;
  std::vector<TStableFile*> FFiles;
  int FReadPipe = -1;
  bool FStarted = false;
};

std::unique_ptr<TStableFile> TStableFile::Open(const QString& fileName) {
  TStableFileWatcher& watcher = TStableFileWatcher::Instance();
  if (!watcher.Started()) return nullptr;
  std::unique_ptr<TStableFile> file(
      new TStableFile(OpenRegularFile(fileName, O_RDONLY, fileName), fileName));
  const int handle = file->Handle();
  // The watcher handles a notice only under this lock, so the file is registered, measured and
  // mapped before any notice can reach it: the copy always knows the mapping it replaces.
  const std::lock_guard<std::mutex> lock(watcher.Mutex());
  struct stat st;
  // Measured and mapped under the lease: neither sees another program's bytes.
  if (::fcntl(handle, F_SETSIG, TStableFileWatcher::Signal()) != 0 ||
      ::fcntl(handle, F_SETLEASE, F_RDLCK) != 0 || ::fstat(handle, &st) != 0)
    return nullptr;
  file->FSize = st.st_size;
  if (file->FSize > 0) {
    void* map = ::mmap(nullptr, static_cast<size_t>(file->FSize), PROT_READ, MAP_SHARED, handle, 0);
    if (map != MAP_FAILED) file->FMap = static_cast<uint8_t*>(map);
  }
  watcher.Add(file.get());
  return file;
}

TStableFile::TStableFile(int handle, QString fileName)
    : THandleStream(handle), FFileName(std::move(fileName)) {
  SetSubject(QStringLiteral("файла ") + FFileName);
}

TStableFile::~TStableFile() {
  std::lock_guard<std::mutex> lock(TStableFileWatcher::Instance().Mutex());
  TStableFileWatcher::Instance().Remove(this);
  if (FMap) ::munmap(FMap, static_cast<size_t>(FSize));
}

void TStableFile::ReleaseMapped() const {
  if (FMap) ::madvise(FMap, static_cast<size_t>(FSize), MADV_DONTNEED);
}

void TStableFile::TakePrivateCopy() {
  try {
    std::unique_ptr<TTempFileStream> copy(TTempFileStream::CreateUnique(QStringLiteral("VLM")));
    CopyRangeTo(0, *copy, 0, FSize);
    // The copy's pages take the place of the original's at the same address, at once for every
    // reader; the mapping holds the original open, so its lease lasts until they have.
    if (FMap && ::mmap(FMap, static_cast<size_t>(FSize), PROT_READ, MAP_SHARED | MAP_FIXED,
                       copy->Handle(), 0) == MAP_FAILED)
      throw EOSError(errno);
    // The copy takes the original's descriptor number: readers go on as before, and closing the
    // original ends the lease, which lets the other program go ahead. The state says so first:
    // whoever sees that program finished must also see the copy in place. Until the switch the
    // original still holds the same bytes, so a reader that looks early reads nothing wrong.
    FState.store(kCopied);
    if (::dup2(copy->Handle(), Handle()) < 0) throw EOSError(errno);
  } catch (...) {
    FState.store(kLost);
    // Zeros instead of the original's pages: another program may shorten the file, and a page
    // beyond its end would end this process when read.
    if (FMap)
      ::mmap(FMap, static_cast<size_t>(FSize), PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_ANONYMOUS,
             -1, 0);
    ::fcntl(Handle(), F_SETLEASE, F_UNLCK);
  }
}

void TStableFile::CheckIntact() const {
  if (FState.load() == kLost)
    throw Exception(QStringLiteral("Файл %1 изменён другой программой, а сохранить его прежнюю "
                                   "копию не удалось: прочитать растр дальше нельзя")
                        .arg(FFileName));
}
