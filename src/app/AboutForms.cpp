#include "AboutForms.h"

#include "FileUtils.h"
#include "ResVelmora.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QLabel* NamedLabel(const QString& name, const QString& text) {
  auto* label = new QLabel(text);
  label->setObjectName(name);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

}  // namespace

TAboutForm::TAboutForm(QWidget* parent) : TExForm(parent) {
  TFileVersionInfo& version = AppVersionInfo();
  setWindowTitle(QStringLiteral("О программе"));
  setWindowIcon(ProgramIcon());

  auto* panel = new QFrame;
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setFrameShadow(QFrame::Sunken);

  auto* icon = new QLabel;
  icon->setObjectName(QStringLiteral("ProgramIcon"));
  icon->setPixmap(ProgramIcon().pixmap(64, 64));
  icon->setAlignment(Qt::AlignTop);

  QLabel* product = NamedLabel(QStringLiteral("ProductName"), version.ProductName());
  QFont productFont = product->font();
  productFont.setBold(true);
  productFont.setPointSizeF(productFont.pointSizeF() * 1.4);
  product->setFont(productFont);

  auto* grid = new QGridLayout(panel);
  grid->setHorizontalSpacing(16);
  grid->addWidget(icon, 0, 0, 4, 1);
  grid->addWidget(product, 0, 1);
  grid->addWidget(NamedLabel(QStringLiteral("FileDescription"), version.FileDescription()), 1, 1);
  grid->addWidget(
      NamedLabel(QStringLiteral("FileVersion"), QStringLiteral("Версия: ") + version.FileVersion()),
      2, 1);
  grid->addWidget(NamedLabel(QStringLiteral("LegalCopyright"), version.LegalCopyright()), 3, 1);

  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(panel);
  layout->addLayout(DialogButtons(this, false));
}

void ShowAboutBox(QWidget* parent) {
  TAboutForm form(parent);
  form.exec();
}
