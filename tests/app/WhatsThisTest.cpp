#include "AboutForms.h"
#include "HelpCtxForms.h"
#include "HelpTestUtils.h"
#include "QtPrinters.h"
#include "SysUtils.h"
#include "WhatsThis.h"
#include "WhatsThisOptions.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QVBoxLayout>

#include <gtest/gtest.h>

// A dialog with the kinds of controls the what's-this mode tells apart.
class TTestForm : public QDialog {
  Q_OBJECT

 public:
  TTestForm() {
    auto* layout = new QVBoxLayout(this);
    NameEdit = Add<QLineEdit>(layout, "NameEdit");
    OkBtn = Add<QPushButton>(layout, "OkBtn");
    OkBtn->setText(QStringLiteral("ОК"));
    Memo = Add<QTextEdit>(layout, "Memo");
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Panel1 = Add<QFrame>(layout, "Panel1");
    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->addWidget(new QLabel(QStringLiteral("named")));
    Panel1->findChild<QLabel*>()->setObjectName(QStringLiteral("Caption"));
    Unnamed = new QLabel(QStringLiteral("unnamed"));
    panelLayout->addWidget(Unnamed);
    Open = new QAction(QStringLiteral("Открыть"), this);
    Open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    addAction(Open);
    resize(300, 300);
  }

  template <typename T>
  T* Add(QVBoxLayout* layout, const char* name) {
    auto* widget = new T;
    widget->setObjectName(QString::fromLatin1(name));
    layout->addWidget(widget);
    return widget;
  }

  QLineEdit* NameEdit;
  QPushButton* OkBtn;
  QTextEdit* Memo;
  QFrame* Panel1;
  QLabel* Unnamed;
  QAction* Open;
};

// A main window whose menu commands have topics.
class TTestMainForm : public QMainWindow {
  Q_OBJECT

 public:
  TTestMainForm() {
    FileMenu = menuBar()->addMenu(QStringLiteral("&Файл"));
    FileMenu->setObjectName(QStringLiteral("FileMenu"));
    OpenMenu = FileMenu->addAction(QStringLiteral("&Открыть..."));
    OpenMenu->setObjectName(QStringLiteral("OpenMenu"));
    FileMenu->addSeparator();
    FileMenu->addAction(QStringLiteral("В&ыход"))->setObjectName(QStringLiteral("ExitMenu"));
    setCentralWidget(new QLabel(QStringLiteral("окно")));
    resize(300, 200);
  }

  QMenu* FileMenu;
  QAction* OpenMenu;
};

namespace {

const char kProfile[] =
    "[TTestForm]\n"
    "Form=form.html\n"
    "NameEdit=#2 popups.txt\n"
    "OkBtn=ok.html\n"
    "Memo%287%29=memo-bar.html\n"
    "Panel1.Label1=label.html\n"
    "[TTestMainForm]\n"
    "FileMenu=file.html\n"
    "OpenMenu=open.html\n"
    "[TAboutForm]\n"
    "Panel1.Label5=about-label.html\n"
    "[Forms]\n"
    "Form%282%29=caption.html\n";

struct TShownTopic {
  QString Topic;
  QPoint Pos;
};

class WhatsThisTest : public testing::Test {
 protected:
  void SetUp() override {
    ClearUserConfig();
    WriteTextFile(Profile, QString::fromUtf8(kProfile));
    Mode.HelpProfile = Profile;
    Mode.DesignMode = false;
    Mode.OnShowTopic = [this](const QString& topic, const QPoint& pos) {
      Shown.push_back({topic, pos});
    };
    Form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  }

  void TearDown() override {
    Mode.Stop();
    Mode.OnShowTopic = SavedShowTopic;
    Mode.HelpProfile = SavedProfile;
  }

  QString Read(const QString& section, const QString& key) {
    QSettings settings(Profile, QSettings::IniFormat);
    return settings.value(section + QLatin1Char('/') + key, QStringLiteral("(missing)")).toString();
  }

  TWhatsThis& Mode = WhatsThis();
  const QString SavedProfile = Mode.HelpProfile;
  const std::function<void(const QString&, const QPoint&)> SavedShowTopic = Mode.OnShowTopic;
  QTemporaryDir Dir;
  QString Profile = Dir.filePath(QStringLiteral("velmora.ini"));
  std::vector<TShownTopic> Shown;
  TTestForm Form;
};

}  // namespace

TEST_F(WhatsThisTest, KeysNameTheControlOrItsPlaceAmongItsParentsControls) {
  EXPECT_EQ(ControlKey(&Form, &Form), "Form");
  EXPECT_EQ(ControlKey(Form.OkBtn, &Form), "OkBtn");
  EXPECT_EQ(ControlKey(Form.Unnamed, &Form), "Panel1.Label1");
  auto* loose = new QLabel(&Form);
  EXPECT_EQ(ControlKey(loose, &Form), "Label4");
  // Qt's own parts of a control answer for the control.
  EXPECT_EQ(ControlKey(Form.Memo->viewport(), &Form), "Memo");
  auto* pages = new QTabWidget(&Form);
  pages->setObjectName(QStringLiteral("Pages"));
  auto* page = new QWidget;
  pages->addTab(page, QStringLiteral("Общие"));
  EXPECT_EQ(ControlKey(pages->findChild<QTabBar*>(), &Form), "Pages");
  EXPECT_EQ(ControlKey(page, &Form), "Pages.Widget0");
  // An object that is no control counts among all its parent's children.
  auto* action = new QAction(&Form);
  EXPECT_EQ(ControlKey(action, &Form), "Action" + QString::number(Form.children().indexOf(action)));

  const THelpContext client = HelpContextOf(Form.OkBtn, &Form, haClient);
  EXPECT_EQ(client.Section, "TTestForm");
  EXPECT_EQ(client.Key, "OkBtn");
  const THelpContext bar = HelpContextOf(Form.Memo, &Form, haVScroll);
  EXPECT_EQ(bar.Section, "TTestForm");
  EXPECT_EQ(bar.Key, "Memo(7)");
  const THelpContext caption = HelpContextOf(&Form, &Form, haCaption);
  EXPECT_EQ(caption.Section, "Forms");
  EXPECT_EQ(caption.Key, "Form(2)");
}

TEST_F(WhatsThisTest, NonClientAreasAreTheCaptionTheBordersAndTheCorners) {
  const QRect client(Form.mapToGlobal(QPoint(0, 0)), Form.size());
  EXPECT_EQ(NonClientArea(&Form, client.topLeft() + QPoint(40, -3)), haCaption);
  EXPECT_EQ(NonClientArea(&Form, client.bottomLeft() + QPoint(40, 2)), haBottom);
  EXPECT_EQ(NonClientArea(&Form, client.topLeft() + QPoint(-2, 40)), haLeft);
  EXPECT_EQ(NonClientArea(&Form, client.bottomRight() + QPoint(2, 2)), haBottomRight);
  EXPECT_EQ(NonClientArea(&Form, client.center()), haClient);
}

TEST_F(WhatsThisTest, AClickGivesTheControlItsTopicInsteadOfPressingIt) {
  QSignalSpy clicked(Form.OkBtn, &QPushButton::clicked);
  Mode.Start(&Form);
  EXPECT_TRUE(Mode.IsActive());
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WhatsThisCursor);
  QTest::mouseClick(Form.OkBtn, Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_EQ(Shown[0].Topic, "ok.html");
  EXPECT_EQ(Shown[0].Pos, Form.OkBtn->mapToGlobal(QPoint(5, 5)));
  EXPECT_EQ(clicked.count(), 0);
  EXPECT_FALSE(Mode.IsActive());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  // With the mode off the button works again.
  QTest::mouseClick(Form.OkBtn, Qt::LeftButton);
  EXPECT_EQ(clicked.count(), 1);
  EXPECT_EQ(Shown.size(), 1u);
}

TEST_F(WhatsThisTest, EachControlReadsItsOwnKey) {
  const auto topicOf = [&](QWidget* widget, QPoint pos) {
    Mode.Start(&Form);
    QTest::mouseClick(widget, Qt::LeftButton, {}, pos);
    return Shown.empty() ? QStringLiteral("(none)") : Shown.back().Topic;
  };
  EXPECT_EQ(topicOf(Form.NameEdit, QPoint(3, 3)), "#2 popups.txt");
  EXPECT_EQ(topicOf(Form.Unnamed, QPoint(3, 3)), "label.html");
  QScrollBar* bar = Form.Memo->verticalScrollBar();
  EXPECT_EQ(topicOf(bar, bar->rect().center()), "memo-bar.html");
  EXPECT_EQ(topicOf(Form.Memo->viewport(), QPoint(5, 5)), "");  // Memo has no topic of its own
  Form.OkBtn->setEnabled(false);
  EXPECT_EQ(topicOf(Form.OkBtn, QPoint(5, 5)), "ok.html");
  EXPECT_EQ(topicOf(&Form, QPoint(1, 1)), "form.html");
}

TEST_F(WhatsThisTest, AnUnnamedLabelInThePanelOfTheAboutBox) {
  TAboutForm about;
  auto* panel = about.findChild<QFrame*>(QStringLiteral("Panel1"));
  ASSERT_NE(panel, nullptr);
  auto* label = new QLabel(QStringLiteral("?"), panel);
  label->setGeometry(0, 0, 20, 20);
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  EXPECT_EQ(HelpContextOf(label, &about, haClient).Key, "Panel1.Label5");
  Mode.Start(&about);
  QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(3, 3));
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_EQ(Shown[0].Topic, "about-label.html");
}

TEST_F(WhatsThisTest, ACaptionClickReadsTheSectionSharedByAllForms) {
  Mode.Start(&Form);
  const QPoint caption = Form.mapToGlobal(QPoint(50, -5));
  QMouseEvent press(QEvent::NonClientAreaMouseButtonPress, QPointF(50, -5), QPointF(caption),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&Form, &press);
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_EQ(Shown[0].Topic, "caption.html");
}

TEST_F(WhatsThisTest, EscEndsTheModeAndEveryOtherKeyIsSwallowed) {
  QSignalSpy opened(Form.Open, &QAction::triggered);
  Form.activateWindow();
  Form.NameEdit->setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Form));
  Mode.Start(&Form);
  QTest::keyClicks(Form.NameEdit, QStringLiteral("ab"));
  QTest::keyClick(Form.NameEdit, Qt::Key_O, Qt::ControlModifier);
  QTest::keyClick(Form.NameEdit, Qt::Key_Return);
  EXPECT_TRUE(Mode.IsActive());
  EXPECT_EQ(Form.NameEdit->text(), "");
  EXPECT_EQ(opened.count(), 0);
  EXPECT_TRUE(Form.isVisible());
  QTest::keyClick(Form.NameEdit, Qt::Key_Escape);
  EXPECT_FALSE(Mode.IsActive());
  EXPECT_TRUE(Form.isVisible());  // the dialog did not take the Esc
  EXPECT_TRUE(Shown.empty());
  QTest::keyClicks(Form.NameEdit, QStringLiteral("ab"));
  EXPECT_EQ(Form.NameEdit->text(), "ab");
}

TEST_F(WhatsThisTest, AClickOnAnotherFormIsRefused) {
  TTestForm other;
  other.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
  QSignalSpy clicked(other.OkBtn, &QPushButton::clicked);
  Mode.Start(&Form);
  QTest::mouseClick(other.OkBtn, Qt::LeftButton);
  EXPECT_TRUE(Shown.empty());
  EXPECT_FALSE(Mode.IsActive());
  EXPECT_EQ(clicked.count(), 0);
  // Without a target form every form is accepted.
  Mode.Start(nullptr);
  QTest::mouseClick(other.OkBtn, Qt::LeftButton);
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_EQ(Shown[0].Topic, "ok.html");
}

TEST_F(WhatsThisTest, AMenuCommandShowsItsTopicInsteadOfRunning) {
  TTestMainForm main;
  main.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
  QSignalSpy triggered(main.OpenMenu, &QAction::triggered);
  Mode.Start(&main);
  main.FileMenu->popup(main.mapToGlobal(QPoint(10, 30)));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(main.FileMenu));
  QTest::mouseClick(main.FileMenu, Qt::LeftButton, {},
                    main.FileMenu->actionGeometry(main.OpenMenu).center());
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_EQ(Shown[0].Topic, "open.html");
  EXPECT_EQ(triggered.count(), 0);
  EXPECT_FALSE(main.FileMenu->isVisible());
  EXPECT_FALSE(Mode.IsActive());

  // Pressed on the menu bar and released over a command, the menu would run it on the release.
  Mode.Start(&main);
  main.FileMenu->popup(main.mapToGlobal(QPoint(10, 30)));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(main.FileMenu));
  QTest::mouseRelease(main.FileMenu, Qt::LeftButton, {},
                      main.FileMenu->actionGeometry(main.OpenMenu).center());
  ASSERT_EQ(Shown.size(), 2u);
  EXPECT_EQ(Shown[1].Topic, "open.html");
  EXPECT_EQ(triggered.count(), 0);
}

TEST_F(WhatsThisTest, ShiftF1AndTheCaptionButtonStartTheModeInTheActiveForm) {
  Form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Form));
  QTest::keyClick(Form.NameEdit, Qt::Key_F1, Qt::ShiftModifier);
  EXPECT_TRUE(Mode.IsActive());
  EXPECT_EQ(Mode.TargetForm(), &Form);
  QTest::keyClick(Form.NameEdit, Qt::Key_Escape);
  EXPECT_FALSE(Mode.IsActive());

  QCoreApplication::postEvent(qApp, new QEvent(QEvent::EnterWhatsThisMode));
  QCoreApplication::processEvents();
  EXPECT_TRUE(Mode.IsActive());
  EXPECT_EQ(Mode.TargetForm(), &Form);

  QDialog plain;
  InstallContextHelp(&plain);
  EXPECT_TRUE(plain.windowFlags() & Qt::WindowContextHelpButtonHint);
}

TEST_F(WhatsThisTest, F1InTheModeEditsItsOptionsAndTheModeGoesOn) {
  Form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Form));
  Mode.Start(&Form);
  QString shownProfile;
  bool shownDesign = true;
  AnswerNextModal<TWhatsThisOptionsForm>([&](TWhatsThisOptionsForm* form) {
    shownProfile = form->findChild<QLineEdit*>(QStringLiteral("Profile"))->text();
    shownDesign = form->findChild<QCheckBox*>(QStringLiteral("DesignMode"))->isChecked();
    form->findChild<QLineEdit*>(QStringLiteral("Profile"))->setText(QStringLiteral("/x/other.ini"));
    form->findChild<QCheckBox*>(QStringLiteral("DesignMode"))->setChecked(true);
    form->findChild<QPushButton*>(QStringLiteral("OkBtn"))->click();
  });
  QTest::keyClick(Form.NameEdit, Qt::Key_F1);
  EXPECT_EQ(shownProfile, Profile);
  EXPECT_FALSE(shownDesign);
  EXPECT_EQ(Mode.HelpProfile, "/x/other.ini");
  EXPECT_TRUE(Mode.DesignMode);
  EXPECT_TRUE(Mode.IsActive());
  EXPECT_EQ(Mode.TargetForm(), &Form);

  AnswerNextModal<TWhatsThisOptionsForm>([](TWhatsThisOptionsForm* form) {
    form->findChild<QLineEdit*>(QStringLiteral("Profile"))->setText(QStringLiteral("/y.ini"));
    form->findChild<QPushButton*>(QStringLiteral("CancelBtn"))->click();
  });
  QTest::keyClick(Form.NameEdit, Qt::Key_F1);
  EXPECT_EQ(Mode.HelpProfile, "/x/other.ini");
  EXPECT_TRUE(Mode.IsActive());
}

TEST_F(WhatsThisTest, DesignModeWritesTheTopicAndGoesOnToTheNextControl) {
  Mode.DesignMode = true;
  Mode.Start(&Form);
  QStringList seen;
  AnswerNextModal<THelpCtxForm>([&](THelpCtxForm* form) {
    EXPECT_EQ(form->windowTitle(), "Изменение ContextID");
    for (const char* name : {"FormName", "ControlName", "HelpCtx"}) {
      auto* edit = form->findChild<QLineEdit*>(QString::fromLatin1(name));
      seen << edit->text() + (edit->isReadOnly() ? "" : " (editable)");
    }
    form->findChild<QLineEdit*>(QStringLiteral("HelpCtx"))->clear();
    form->findChild<QPushButton*>(QStringLiteral("OkBtn"))->click();
  });
  QTest::mouseClick(Form.OkBtn, Qt::LeftButton);
  EXPECT_EQ(seen, QStringList({"TTestForm", "OkBtn", "ok.html (editable)"}));
  EXPECT_EQ(Read(QStringLiteral("TTestForm"), QStringLiteral("OkBtn")), "");
  EXPECT_TRUE(Shown.empty());
  EXPECT_TRUE(Mode.IsActive());
  EXPECT_EQ(Mode.TargetForm(), &Form);

  AnswerNextModal<THelpCtxForm>([](THelpCtxForm* form) {
    form->findChild<QLineEdit*>(QStringLiteral("HelpCtx"))->setText(QStringLiteral("x.html"));
    form->findChild<QPushButton*>(QStringLiteral("CancelBtn"))->click();
  });
  QTest::mouseClick(Form.NameEdit, Qt::LeftButton);
  EXPECT_EQ(Read(QStringLiteral("TTestForm"), QStringLiteral("NameEdit")), "#2 popups.txt");
  EXPECT_TRUE(Mode.IsActive());

  // The empty value written opens the help's contents.
  Mode.DesignMode = false;
  QTest::mouseClick(Form.OkBtn, Qt::LeftButton);
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_EQ(Shown[0].Topic, "");
}

TEST_F(WhatsThisTest, ATopicThatCannotBeWrittenIsReportedAndTheModeGoesOn) {
  // Neither the profile's folder nor the user's configuration folder can take a file.
  WriteTextFile(Dir.filePath(QStringLiteral("file")), QStringLiteral("x"));
  Mode.HelpProfile = Dir.filePath(QStringLiteral("file/velmora.ini"));
  QDir(UserConfigDir()).removeRecursively();
  WriteTextFile(UserConfigDir(), QStringLiteral("x"));
  QStringList handled;
  SetExceptionHandler([&](const Exception& e) { handled << e.Message(); });
  Mode.DesignMode = true;
  Mode.Start(&Form);
  AnswerNextModal<THelpCtxForm>([](THelpCtxForm* form) {
    form->findChild<QLineEdit*>(QStringLiteral("HelpCtx"))->setText(QStringLiteral("x.html"));
    form->findChild<QPushButton*>(QStringLiteral("OkBtn"))->click();
  });
  QTest::mouseClick(Form.OkBtn, Qt::LeftButton);
  SetExceptionHandler(nullptr);
  QFile::remove(UserConfigDir());
  ClearUserConfig();
  ASSERT_EQ(handled.size(), 1);
  EXPECT_TRUE(handled[0].startsWith("Не удалось записать файл контекстной справки "));
  EXPECT_TRUE(Mode.IsActive());
}

TEST_F(WhatsThisTest, TheModeEndsWithItsTargetForm) {
  auto* form = new TTestForm;
  Mode.Start(form);
  delete form;
  EXPECT_FALSE(Mode.IsActive());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

#include "WhatsThisTest.moc"
