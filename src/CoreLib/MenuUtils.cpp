#include "MenuUtils.h"

#include "VirtualKeys.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QEvent>
#include <QMenu>
#include <QWidget>

#include <algorithm>

namespace {

// A click waiting in the queue. It keeps its item alive until it is delivered, or until it is
// destroyed unprocessed, which releases the item without running it.
class TContextClickEvent : public QEvent {
 public:
  static QEvent::Type Kind() {
    static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
    return kind;
  }

  explicit TContextClickEvent(TContextItem* item) : QEvent(Kind()) { AssignRef(FItem, item); }
  ~TContextClickEvent() override { ReleaseRef(FItem); }

  TContextItem* Item() const { return FItem; }

 private:
  TContextItem* FItem = nullptr;
};

// The radio group of a menu level, made on first use; the menu owns it.
QActionGroup* RadioGroup(QMenu* menu, int32_t index) {
  const QString name = QStringLiteral("RadioGroup%1").arg(index);
  QActionGroup* group = menu->findChild<QActionGroup*>(name, Qt::FindDirectChildrenOnly);
  if (!group) {
    group = new QActionGroup(menu);
    group->setObjectName(name);
  }
  return group;
}

}  // namespace

TContextItem::TContextItem(const QString& caption, TContextClick onClick, uint16_t shortCut,
                           uint8_t flags, int32_t groupIndex, int32_t tag)
    : Caption(caption),
      ShortCut(shortCut),
      Flags(flags),
      GroupIndex(groupIndex),
      Tag(tag),
      OnClick(std::move(onClick)),
      FItems(std::make_unique<TContextItemList>()) {}

TContextItem::~TContextItem() = default;

void TContextItem::Execute() {
  if (OnClick) OnClick(Tag);
}

TContextItemList* FindSubItems(TContextItemList& list, const QString& text) {
  for (int i = 0; i < list.Count(); ++i)
    if (list.Item(i)->Caption == text) return &list.Item(i)->Items();
  return nullptr;
}

QStringList SplitItemPath(const QString& caption) {
  QStringList parts;
  QString part;
  bool cut = false;  // the last character cut the caption
  for (qsizetype i = 0; i < caption.size(); ++i) {
    cut = false;
    if (caption[i] != u'\\') {
      part += caption[i];
    } else if (i + 1 < caption.size() && caption[i + 1] == u'\\') {
      part += u'\\';
      ++i;
    } else {
      parts.append(part);
      part.clear();
      cut = true;
    }
  }
  if (!caption.isEmpty() && !cut) parts.append(part);
  return parts;
}

void InsertItem(TContextItemList& list, TContextItem* item, bool atEnd) {
  const QStringList path = SplitItemPath(item->Caption);
  const qsizetype n = path.size();
  TContextItemList* level = &list;
  qsizetype i = 0;
  const auto place = [&](TContextItem* entry) {
    if (atEnd || level != &list)
      level->Add(entry);
    else
      level->Insert(0, entry);
  };
  for (; i < n - 1; ++i) {
    TContextItemList* sub = FindSubItems(*level, path[i]);
    if (!sub) break;
    level = sub;
  }
  for (; i < n - 1; ++i) {
    auto* menu = new TContextItem(path[i], nullptr, 0, 0, 0, 0);
    place(menu);
    level = &menu->Items();
  }
  if (i < n) {
    item->Caption = path[i];
    place(item);
  }
}

TContextItem* AddContextItem(TContextItemList& list, const QString& caption, uint16_t shortCut,
                             TContextClick onClick, uint8_t flags, int32_t groupIndex, int32_t tag,
                             bool atEnd) {
  auto* item = new TContextItem(caption, std::move(onClick), shortCut, flags, groupIndex, tag);
  TRefHolder<TContextItem> hold(item);
  InsertItem(list, item, atEnd);
  return item;
}

bool TContextMenuHandle::event(QEvent* event) {
  if (event->type() != TContextClickEvent::Kind()) return QObject::event(event);
  // The event's destruction after delivery releases the item, also when its handler raises.
  try {
    static_cast<TContextClickEvent*>(event)->Item()->Execute();
  } catch (const Exception& e) {
    HandleException(e);
  }
  return true;
}

TContextMenuItem::TContextMenuItem(TContextItem* item, TContextMenuHandle* handle,
                                   QWidget* shortcutHost)
    : FHandle(handle) {
  AssignRef(FItem, item);
  const QKeySequence keys = ShortCutToKeySequence(item->ShortCut);
  // The menu shows the shortcut beside the caption; the host's action serves it.
  setText(keys.isEmpty() ? item->Caption
                         : item->Caption + u'\t' + keys.toString(QKeySequence::NativeText));
  // An item captioned "-" parts the items before it from those after it.
  if (item->Caption == QStringLiteral("-")) {
    setText(QString());
    setSeparator(true);
  }
  setEnabled(!(item->Flags & ciDisabled));
  setCheckable(item->Flags & ciChecked || item->GroupIndex != 0);
  setChecked(item->Flags & ciChecked);
  setVisible(!(item->Flags & ciHidden));
  if (item->Flags & ciDefault) {
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
  }
  connect(this, &QAction::triggered, this, [this] { Click(); });
  if (!keys.isEmpty() && shortcutHost) {
    FShortcutAction = std::make_unique<QAction>();
    FShortcutAction->setShortcut(keys);
    FShortcutAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    FShortcutAction->setEnabled(!(item->Flags & ciDisabled));
    connect(FShortcutAction.get(), &QAction::triggered, this, [this] { Click(); });
    shortcutHost->addAction(FShortcutAction.get());
  }
  if (item->Items().Count() > 0) {
    FSubMenu = std::make_unique<QMenu>();
    for (int i = 0; i < item->Items().Count(); ++i) {
      TContextItem* sub = item->Items().Item(i);
      auto* entry = new TContextMenuItem(sub, handle, shortcutHost);
      entry->setParent(FSubMenu.get());
      if (sub->GroupIndex != 0) entry->setActionGroup(RadioGroup(FSubMenu.get(), sub->GroupIndex));
      FSubMenu->addAction(entry);
    }
    setMenu(FSubMenu.get());
  }
}

TContextMenuItem::~TContextMenuItem() {
  FShortcutAction.reset();
  FSubMenu.reset();
  ReleaseRef(FItem);
}

void TContextMenuItem::Click() {
  if (!FItem || !FHandle) return;
  QCoreApplication::postEvent(FHandle, new TContextClickEvent(FItem));
}

TContextMenu::TContextMenu() : FHandle(std::make_unique<TContextMenuHandle>()) {}

TContextMenu::~TContextMenu() {
  // Clicks still queued release their items without running them.
  QCoreApplication::removePostedEvents(FHandle.get());
  ClearEntries();
  Clear();
}

void TContextMenu::CheckRoot(int line) const {
  if (!MenuRoot)
    throw EAssertionFailed(QStringLiteral("Assertion failure"),
                           QStringLiteral("CoreLib\\MenuUtils"), line);
}

void TContextMenu::ClearEntries() {
  if (!MenuRoot) return;
  for (QAction* action : MenuRoot->actions())
    if (auto* entry = dynamic_cast<TContextMenuItem*>(action)) delete entry;
}

void TContextMenu::Rebuild() {
  if (FPopping) {
    FRebuildPending = true;
    return;
  }
  CheckRoot(RebuildAssertLine);
  ClearEntries();
  for (int i = 0; i < Count(); ++i) {
    auto* entry = new TContextMenuItem(Item(i), FHandle.get(), ShortcutHost);
    entry->setParent(MenuRoot);
    if (Item(i)->GroupIndex != 0) entry->setActionGroup(RadioGroup(MenuRoot, Item(i)->GroupIndex));
    MenuRoot->addAction(entry);
  }
  FRebuildPending = false;
}

void TContextMenu::Popup(int x, int y) {
  CheckRoot(PopupAssertLine);
  const QList<QAction*> actions = MenuRoot->actions();
  // A menu of hidden items only (their shortcuts are what they are for) shows nothing.
  const bool empty =
      std::none_of(actions.begin(), actions.end(), [](QAction* a) { return a->isVisible(); });
  FPopping = true;
  try {
    if (!empty) MenuRoot->exec(QPoint(x, y));
  } catch (...) {
    FPopping = false;
    throw;
  }
  FPopping = false;
  if (FRebuildPending) Rebuild();
}
