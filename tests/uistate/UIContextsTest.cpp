#include "UIContexts.h"

#include "MessageOf.h"
#include "QtPrinters.h"
#include "RecArrays.h"

#include <QAction>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// A client that records every value a condition gives it.
std::unique_ptr<TUIConditionClient> Recorder(std::vector<int32_t>& applied) {
  auto client = std::make_unique<TUIConditionClient>();
  client->OnApply = [&applied](int32_t value) { applied.push_back(value); };
  return client;
}

class UIContext : public testing::Test {
 protected:
  UIContext() : A(Context.AddVar("A")), B(Context.AddVar("b")), C(Context.AddVar("c")) {}

  // A condition over expr whose applied values go to applied.
  TUICondition* Watch(const TArgList& expr, std::vector<int32_t>& applied) {
    auto condition = std::make_unique<TUICondition>(Context.Variables(), expr);
    condition->AddChanger(Recorder(applied));
    return Context.AddCondition(std::move(condition));
  }

  QAction* CheckableAction() {
    QAction* action = new QAction(&Owner);
    action->setCheckable(true);
    return action;
  }

  QToolButton* CheckableButton() {
    QToolButton* button = new QToolButton(&Owner);
    button->setCheckable(true);
    return button;
  }

  QWidget Owner;
  TUIContext Context;
  TUIContextVar* A;
  TUIContextVar* B;
  TUIContextVar* C;
};

}  // namespace

TEST_F(UIContext, VariablesStartAtZeroUnderUpperCaseNames) {
  EXPECT_EQ(A->Value(), 0);
  EXPECT_EQ(Context.Variables().keys(), (QStringList{"A", "B", "C"}));
  EXPECT_EQ(Context.Variables().value("B"), B);
  // A second variable of a taken name is owned and usable, but the name keeps the first one.
  TUIContextVar* again = Context.AddVar("a");
  EXPECT_NE(again, A);
  EXPECT_EQ(Context.Variables().value("A"), A);
  again->SetValue(3);
  EXPECT_EQ(A->Value(), 0);
}

TEST_F(UIContext, ReevaluatesExactlyTheConditionsOfAChangedVariable) {
  std::vector<int32_t> sum, onlyC;
  Watch({"A + b"}, sum);
  Watch({"c"}, onlyC);
  A->SetValue(2);
  EXPECT_EQ(sum, (std::vector<int32_t>{2}));
  B->SetValue(5);
  EXPECT_EQ(sum, (std::vector<int32_t>{2, 7}));
  // The same value again changes nothing, so nothing is evaluated.
  A->SetValue(2);
  B->SetValue(5);
  EXPECT_EQ(sum.size(), 2u);
  EXPECT_TRUE(onlyC.empty());
  // A changed value is applied even when the condition's result stays the same.
  std::vector<int32_t> positive;
  Watch({"A > 0"}, positive);
  A->SetValue(3);
  A->SetValue(4);
  EXPECT_EQ(positive, (std::vector<int32_t>{1, 1}));
}

TEST_F(UIContext, AVariableMentionedTwiceMakesOneDependency) {
  std::vector<int32_t> applied;
  TUICondition* twice = Watch({"A * A + A"}, applied);
  EXPECT_EQ(A->Dependents(), (std::vector<TUICondition*>{twice}));
  A->SetValue(3);
  EXPECT_EQ(applied, (std::vector<int32_t>{12}));
  // Dependents follow the order in which the conditions were registered.
  std::vector<int32_t> other;
  TUICondition* later = Watch({A, "= 3"}, other);
  EXPECT_EQ(A->Dependents(), (std::vector<TUICondition*>{twice, later}));
  EXPECT_TRUE(B->Dependents().empty());
}

TEST_F(UIContext, UpdateAllEvaluatesInRegistrationOrder) {
  std::vector<int32_t> applied;
  Watch({"A + 1"}, applied);
  Watch({"A + 2"}, applied);
  Watch({"not A"}, applied);
  Context.UpdateAll();
  EXPECT_EQ(applied, (std::vector<int32_t>{1, 2, 1}));
}

TEST_F(UIContext, AFailedEvaluationAppliesNothingAndPropagates) {
  std::vector<int32_t> applied;
  Watch({"10 / A"}, applied);
  EXPECT_THROW(Context.UpdateAll(), EDivByZero);
  A->SetValue(5);
  EXPECT_EQ(applied, (std::vector<int32_t>{2}));
  EXPECT_THROW(A->SetValue(0), EDivByZero);
  EXPECT_EQ(A->Value(), 0);
  EXPECT_EQ(applied.size(), 1u);
}

TEST_F(UIContext, SetPropsWritesThePropertiesThroughTheirSetters) {
  QAction* item1 = new QAction(&Owner);
  QAction* item2 = CheckableAction();
  QToolButton* button = CheckableButton();
  TUICondition* enabled = Context.SetProps({"Enabled", item1, item2, button}, {"A > 0"});
  ASSERT_EQ(enabled->Changers().size(), 3u);
  TUICondition* checked = Context.SetProps({"Checked", item2, "Down", button}, {"A = 2"});
  ASSERT_EQ(checked->Changers().size(), 2u);
  const auto* changer = dynamic_cast<const TUIPropChanger*>(checked->Changers()[1].get());
  ASSERT_NE(changer, nullptr);
  EXPECT_EQ(changer->Instance(), button);
  EXPECT_STREQ(changer->PropInfo()->Name, "Down");

  // Registration evaluates nothing.
  EXPECT_TRUE(item1->isEnabled());
  Context.UpdateAll();
  EXPECT_FALSE(item1->isEnabled());
  EXPECT_FALSE(item2->isEnabled());
  EXPECT_FALSE(button->isEnabled());

  A->SetValue(2);
  EXPECT_TRUE(item1->isEnabled());
  EXPECT_TRUE(item2->isEnabled());
  EXPECT_TRUE(button->isEnabled());
  EXPECT_TRUE(item2->isChecked());
  EXPECT_TRUE(button->isChecked());
  A->SetValue(1);
  EXPECT_FALSE(item2->isChecked());
  EXPECT_FALSE(button->isChecked());
}

TEST_F(UIContext, PropertyNamesIgnoreCaseAndAnyNonZeroValueIsTrue) {
  QAction* item = new QAction(&Owner);
  Context.SetProps({"enabled", item}, {A});
  A->SetValue(-1);
  EXPECT_TRUE(item->isEnabled());
  A->SetValue(0);
  EXPECT_FALSE(item->isEnabled());
}

TEST_F(UIContext, ADestroyedComponentIsLeftAlone) {
  QAction* item = new QAction(&Owner);
  std::vector<int32_t> applied;
  TUICondition* condition = Context.SetProps({"Enabled", item}, {A});
  condition->AddChanger(Recorder(applied));
  delete item;
  A->SetValue(1);
  EXPECT_EQ(applied, (std::vector<int32_t>{1}));
}

TEST_F(UIContext, RefusesPropertiesAComponentDoesNotHave) {
  QAction* plainItem = new QAction(&Owner);
  QToolButton* plainButton = new QToolButton(&Owner);
  QAction* checkableItem = CheckableAction();
  QToolButton* checkableButton = CheckableButton();
  const auto errorOf = [&](const TArgList& props) {
    return MessageOf<EInternal>([&] { Context.SetProps(props, {"A and b"}); });
  };
  const auto invalid = [](const char* name) {
    return QStringLiteral("Внутренняя ошибка: invalid property \"%1\" (TUIContext.SetProps)")
        .arg(QString::fromUtf8(name));
  };
  EXPECT_EQ(errorOf({plainItem}), invalid(""));
  EXPECT_EQ(errorOf({"Visible", plainItem}), invalid("Visible"));
  EXPECT_EQ(errorOf({"Checked", plainItem}), invalid("Checked"));
  EXPECT_EQ(errorOf({"Down", plainButton}), invalid("Down"));
  EXPECT_EQ(errorOf({"Down", checkableItem}), invalid("Down"));
  EXPECT_EQ(errorOf({"Checked", checkableButton}), invalid("Checked"));
  // A later bad component undoes the good ones before it.
  EXPECT_EQ(errorOf({"Enabled", plainItem, "Down", checkableButton, plainButton}), invalid("Down"));

  const QString badArgument =
      QStringLiteral("Внутренняя ошибка: invalid argument type (TUIContext.SetProps)");
  for (const TArg& arg : {TArg(1), TArg(true), TArg(static_cast<TValueHolder*>(A)), TArg::Other(),
                          TArg(static_cast<QObject*>(nullptr))})
    EXPECT_EQ(errorOf({"Enabled", plainItem, arg}), badArgument);

  EXPECT_EQ(MessageOf([&] {
              Context.SetProps({"Enabled", plainItem}, {"A_"});
            }),
            QStringLiteral("Invalid character"));

  // No failed registration left a condition or a dependency behind.
  EXPECT_TRUE(Context.Conditions().empty());
  EXPECT_TRUE(A->Dependents().empty());
  EXPECT_TRUE(B->Dependents().empty());
  A->SetValue(1);
  B->SetValue(1);
  EXPECT_TRUE(plainItem->isEnabled());
}

TEST_F(UIContext, AClientMaySetVariablesWhileItIsApplied) {
  std::vector<int32_t> seen;
  // Applying A's condition sets B, whose own condition runs in the middle.
  auto chain = std::make_unique<TUICondition>(Context.Variables(), TArgList{"A"});
  chain->AddChanger(std::make_unique<TUIConditionClient>());
  chain->Changers()[0]->OnApply = [this](int32_t value) { B->SetValue(value * 10); };
  Context.AddCondition(std::move(chain));
  Watch({"b"}, seen);
  A->SetValue(4);
  EXPECT_EQ(seen, (std::vector<int32_t>{40}));
}
