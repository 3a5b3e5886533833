#include "EditWindowTestUtils.h"
#include "MenuUtils.h"
#include "MessageOf.h"
#include "QtPrinters.h"

#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QStringList Captions(TContextItemList& list) {
  QStringList captions;
  for (int i = 0; i < list.Count(); ++i) captions.append(list.Item(i)->Caption);
  return captions;
}

}  // namespace

TEST(ContextMenu, CaptionPathsSplitAtSingleBackslashes) {
  EXPECT_EQ(SplitItemPath("A\\B"), QStringList({"A", "B"}));
  EXPECT_EQ(SplitItemPath("A\\\\B"), QStringList({"A\\B"}));
  EXPECT_EQ(SplitItemPath("A\\"), QStringList({"A"}));
  EXPECT_EQ(SplitItemPath("\\A"), QStringList({"", "A"}));
  EXPECT_EQ(SplitItemPath(""), QStringList());
}

TEST(ContextMenu, ItemsArePlacedByTheirPaths) {
  TContextMenu menu;
  AddContextItem(menu, "Z", 0, nullptr, 0, 0, 0, true);
  AddContextItem(menu, "M\\X", 0, nullptr, 0, 0, 0, false);
  AddContextItem(menu, "M\\Y", 0, nullptr, 0, 0, 0, false);
  AddContextItem(menu, "First", 0, nullptr, 0, 0, 0, false);
  AddContextItem(menu, "", 0, nullptr, 0, 0, 0, false);
  // Only the top level puts items first; within a sub-menu they keep their order.
  EXPECT_EQ(Captions(menu), QStringList({"First", "M", "Z"}));
  ASSERT_NE(FindSubItems(menu, "M"), nullptr);
  EXPECT_EQ(Captions(*FindSubItems(menu, "M")), QStringList({"X", "Y"}));
  EXPECT_EQ(FindSubItems(menu, "m"), nullptr);
}

TEST(ContextMenu, BuiltEntriesFollowTheFlagsAndHiddenShortcutsStillWork) {
  TEditWindow window;
  int clicks = 0;
  TContextMenu& menu = window.ContextMenu();
  AddContextItem(menu, "Sub\\Checked", 0, nullptr, ciChecked, 0, 0, true);
  AddContextItem(menu, "Off", 0, nullptr, ciDisabled, 0, 0, true);
  AddContextItem(
      menu, "Back", ShortCut(VK_BACK, 0), [&](int32_t tag) { clicks += tag; }, ciHidden, 0, 7,
      true);
  menu.Rebuild();
  const QList<QAction*> entries = window.InternalPopup().actions();
  ASSERT_EQ(entries.size(), 3);
  ASSERT_NE(entries[0]->menu(), nullptr);
  EXPECT_TRUE(entries[0]->menu()->actions()[0]->isChecked());
  EXPECT_FALSE(entries[1]->isEnabled());
  EXPECT_FALSE(entries[2]->isVisible());

  ShowWindow(window, 100, 80);
  window.setFocus();
  ASSERT_EQ(window.actions().size(), 1);
  QTest::keyClick(window.windowHandle(), Qt::Key_Backspace);
  Flush();
  EXPECT_EQ(clicks, 7);
  // A menu without its popup is a programming error.
  EXPECT_EQ(MessageOf([&] {
              TContextMenu rootless;
              rootless.Rebuild();
            }),
            "Assertion failure (CoreLib\\MenuUtils, line 293)");
}

TEST(ContextMenu, AClickRunsAfterTheMenuAndOutlivesItsEditor) {
  TEditWindow window;
  struct TContributor : TEditor {
    void AddContextItems(TContextMenu& menu) override {
      AddContextItem(
          menu, "Detach me", 0,
          [this](int32_t) {
            Detach(this);
            Ran = true;
          },
          0, 0, 0, true);
    }
    bool Ran = false;
  };
  auto* editor = new TContributor;
  TRefHolder<TContributor> hold(editor);
  window.AttachEditor(editor);
  ASSERT_EQ(window.InternalPopup().actions().size(), 1);
  QAction* entry = window.InternalPopup().actions()[0];
  TRefHolder<TContextItem> holdItem(window.ContextMenu().Item(0));
  ASSERT_NE(holdItem.Get(), nullptr);
  const TContextItem& item = *holdItem.Get();
  const int references = item.RefCount();
  entry->trigger();
  EXPECT_EQ(item.RefCount(), references + 1);  // the queued click holds it
  EXPECT_FALSE(editor->Ran);
  Flush();
  EXPECT_TRUE(editor->Ran);
  EXPECT_EQ(editor->Window(), nullptr);
  // The detachment rebuilt the menu: the item lost its entry and the window's list.
  EXPECT_EQ(item.RefCount(), 1);
}

TEST(ContextMenu, AMenuDestroyedWithAClickQueuedReleasesItWithoutRunningIt) {
  bool ran = false;
  TContextItem* item = nullptr;
  {
    QMenu root;
    TContextMenu menu;
    menu.MenuRoot = &root;
    item = AddContextItem(
        menu, "Pending", 0, [&](int32_t) { ran = true; }, 0, 0, 0, true);
    item->AddRef();
    menu.Rebuild();
    root.actions()[0]->trigger();
    EXPECT_EQ(item->RefCount(), 4);  // ours, the menu's list, the entry and the queued click
  }
  EXPECT_EQ(item->RefCount(), 1);
  Flush();
  EXPECT_FALSE(ran);
  ReleaseRef(item);
}
