#pragma once

#include "RefObjects.h"

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

class QWidget;

// Context menus that tools contribute to: each tool adds plain item descriptions, the menu is built
// from them whenever the set of tools changes, and a click runs its handler only after the menu
// has closed, so that a handler may change the tools (and so the menu) freely.

class TContextItemList;

// Flags of an item.
inline constexpr uint8_t ciDisabled = 1 << 0;
inline constexpr uint8_t ciChecked = 1 << 1;
inline constexpr uint8_t ciDefault = 1 << 2;  // shown bold
inline constexpr uint8_t ciHidden = 1 << 3;   // not shown; its shortcut still works

using TContextClick = std::function<void(int32_t tag)>;

// One entry of a context menu. Its caption may be a path "Sub\Item" that places it in a sub-menu.
class TContextItem : public TRefObject {
 public:
  TContextItem(const QString& caption, TContextClick onClick, uint16_t shortCut, uint8_t flags,
               int32_t groupIndex, int32_t tag);
  ~TContextItem() override;

  virtual void Execute();

  QString Caption;
  uint16_t ShortCut;
  uint8_t Flags;
  int32_t GroupIndex;  // 0: an ordinary item; otherwise a radio item of that group
  int32_t Tag;
  TContextClick OnClick;

  TContextItemList& Items() { return *FItems; }

 private:
  std::unique_ptr<TContextItemList> FItems;
};

// Items in menu order; the list holds a reference to each.
class TContextItemList : public TRefObjectList {
 public:
  TContextItemList() : TRefObjectList(false) {}
  TContextItem* Item(int index) const { return ItemAs<TContextItem>(index); }
};

// The sub-items of the first item captioned exactly text, or null.
TContextItemList* FindSubItems(TContextItemList& list, const QString& text);
// The parts of a caption path: cut at every single backslash; a doubled one is a literal
// backslash; a trailing one adds no empty part, a leading one gives an empty first part.
QStringList SplitItemPath(const QString& caption);
// Places the item by its caption path, creating missing sub-menus. Only the top level puts an
// item first when atEnd is false; an item whose caption has no parts is not placed.
void InsertItem(TContextItemList& list, TContextItem* item, bool atEnd);
TContextItem* AddContextItem(TContextItemList& list, const QString& caption, uint16_t shortCut,
                             TContextClick onClick, uint8_t flags, int32_t groupIndex, int32_t tag,
                             bool atEnd);

class TContextMenu;

// The hidden object that receives the clicks posted by the menu's items.
class TContextMenuHandle : public QObject {
 public:
  bool event(QEvent* event) override;
};

// A built menu entry. It holds a reference to its item; a click posts the item to the menu's
// handle instead of running it inside the menu's modal loop.
class TContextMenuItem : public QAction {
 public:
  // Sub-items become a sub-menu. With a shortcut host, the item's shortcut is served by an action
  // of the host too, which works also when the item is hidden.
  TContextMenuItem(TContextItem* item, TContextMenuHandle* handle, QWidget* shortcutHost);
  ~TContextMenuItem() override;

  TContextItem* Item() const { return FItem; }
  QAction* ShortcutAction() const { return FShortcutAction.get(); }

 private:
  void Click();

  TContextItem* FItem = nullptr;
  QPointer<TContextMenuHandle> FHandle;
  std::unique_ptr<QMenu> FSubMenu;
  std::unique_ptr<QAction> FShortcutAction;
};

// The items of a window's context menu and the popup menu built from them.
class TContextMenu : public TContextItemList {
 public:
  // The assertions of a menu used before its root was set.
  static constexpr int RebuildAssertLine = 293;
  static constexpr int PopupAssertLine = 382;

  TContextMenu();
  ~TContextMenu() override;

  // The popup under which the entries are built, and the widget whose keyboard focus makes their
  // shortcuts work; both set by the window that shows the menu.
  QPointer<QMenu> MenuRoot;
  QWidget* ShortcutHost = nullptr;

  // Builds the entries anew; while the popup is open it only asks for a rebuild after it closes.
  void Rebuild();
  // Shows the popup at a screen point and returns when it has closed.
  void Popup(int x, int y);

  TContextMenuHandle* Handle() const { return FHandle.get(); }
  bool Popping() const { return FPopping; }
  bool RebuildPending() const { return FRebuildPending; }

 private:
  void CheckRoot(int line) const;
  void ClearEntries();

  std::unique_ptr<TContextMenuHandle> FHandle;
  bool FPopping = false;
  bool FRebuildPending = false;
};
