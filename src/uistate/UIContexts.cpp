#include "UIContexts.h"

#include "RecArrays.h"

#include <QAction>
#include <QToolButton>

#include <algorithm>

void TUIContextVar::SetValue(int32_t value) {
  if (value == FValue) return;
  FValue = value;
  // By index: a client may register further conditions while this loop runs.
  for (size_t i = 0; i < FDependents.size(); ++i) FDependents[i]->Update();
}

void TUIConditionClient::Apply(int32_t value) {
  if (OnApply) OnApply(value);
}

namespace {

bool IsAction(const QObject* o) {
  return qobject_cast<const QAction*>(o) != nullptr;
}

bool IsWidget(const QObject* o) {
  return o->isWidgetType();
}

bool IsCheckableAction(const QObject* o) {
  const QAction* action = qobject_cast<const QAction*>(o);
  return action && action->isCheckable();
}

bool IsCheckableToolButton(const QObject* o) {
  const QToolButton* button = qobject_cast<const QToolButton*>(o);
  return button && button->isCheckable();
}

void SetActionEnabled(QObject* o, int32_t v) {
  static_cast<QAction*>(o)->setEnabled(v != 0);
}

void SetWidgetEnabled(QObject* o, int32_t v) {
  static_cast<QWidget*>(o)->setEnabled(v != 0);
}

void SetActionChecked(QObject* o, int32_t v) {
  static_cast<QAction*>(o)->setChecked(v != 0);
}

// A pressed tool button is a checked one: the button keeps the state until it is set again.
void SetToolButtonDown(QObject* o, int32_t v) {
  static_cast<QToolButton*>(o)->setChecked(v != 0);
}

// Menu items are actions and toolbar buttons are tool buttons; only checkable ones can show a
// checked or pressed state, so the others do not have those properties at all.
const TUIPropInfo UIProps[] = {
    {"Enabled", IsAction, SetActionEnabled},
    {"Enabled", IsWidget, SetWidgetEnabled},
    {"Checked", IsCheckableAction, SetActionChecked},
    {"Down", IsCheckableToolButton, SetToolButtonDown},
};

// The property of that name (case does not matter, as with names typed in a designer) which the
// component has, or null.
const TUIPropInfo* FindUIProp(const QObject* instance, const QString& name) {
  for (const TUIPropInfo& prop : UIProps)
    if (name.compare(QLatin1String(prop.Name), Qt::CaseInsensitive) == 0 && prop.Accepts(instance))
      return &prop;
  return nullptr;
}

const QString SetPropsLocation = QStringLiteral("TUIContext.SetProps");

// Makes sure one more item can be appended without a reallocation, growing geometrically.
template <typename T>
void ReserveOneMore(std::vector<T>& items) {
  if (items.size() == items.capacity()) items.reserve(std::max<size_t>(4, 2 * items.capacity()));
}

}  // namespace

void TUIPropChanger::Apply(int32_t value) {
  if (FInstance) FPropInfo->Set(FInstance.data(), value);
}

TUICondition::TUICondition(const TVarDictionary& variables, const TArgList& expr)
    : FExpression(variables) {
  FExpression.AddTokens(expr);
}

void TUICondition::AddChanger(std::unique_ptr<TUIConditionClient> changer) {
  FChangers.push_back(std::move(changer));
}

void TUICondition::Update() {
  FExpression.UpdateValue();
  // The value is read again for every client: a client may cause a nested re-evaluation, and the
  // later clients then get the newer value.
  for (size_t i = 0; i < FChangers.size(); ++i) FChangers[i]->Apply(FExpression.Value());
}

TUIContext::~TUIContext() {
  // The conditions go first: their expressions and the variables' dependents point across.
  FConditions.clear();
  FVariables.clear();
  FOwnedVars.clear();
}

TUIContextVar* TUIContext::AddVar(const QString& name) {
  FOwnedVars.push_back(std::make_unique<TUIContextVar>());
  TUIContextVar* var = FOwnedVars.back().get();
  const QString key = name.toUpper();
  if (!FVariables.contains(key)) FVariables.insert(key, var);
  return var;
}

TUICondition* TUIContext::SetProps(const TArgList& props, const TArgList& expr) {
  auto condition = std::make_unique<TUICondition>(FVariables, expr);
  QString propName;
  for (const TArg& arg : props) {
    const TArg::TValue& value = arg.Get();
    if (QObject* const* component = std::get_if<QObject*>(&value); component && *component) {
      const TUIPropInfo* prop = FindUIProp(*component, propName);
      if (!prop)
        RaiseInternal(SetPropsLocation, QStringLiteral("invalid property \"%1\"").arg(propName));
      condition->AddChanger(std::make_unique<TUIPropChanger>(*component, prop));
    } else if (const QString* text = std::get_if<QString>(&value)) {
      propName = *text;
    } else {
      RaiseInternal(SetPropsLocation, QStringLiteral("invalid argument type"));
    }
  }
  return AddCondition(std::move(condition));
}

TUICondition* TUIContext::AddCondition(std::unique_ptr<TUICondition> condition) {
  std::vector<TUIContextVar*> vars;
  for (const TToken& token : condition->Expression().Tokens()) {
    TValueHolder* const* holder = std::get_if<TValueHolder*>(&token);
    TUIContextVar* var = holder ? dynamic_cast<TUIContextVar*>(*holder) : nullptr;
    if (var && std::find(vars.begin(), vars.end(), var) == vars.end()) vars.push_back(var);
  }
  // Room first, so that nothing below can fail half-way and leave dangling dependents.
  ReserveOneMore(FConditions);
  for (TUIContextVar* var : vars) ReserveOneMore(var->FDependents);

  TUICondition* added = condition.get();
  FConditions.push_back(std::move(condition));
  for (TUIContextVar* var : vars) var->FDependents.push_back(added);
  return added;
}

void TUIContext::UpdateAll() {
  for (size_t i = 0; i < FConditions.size(); ++i) FConditions[i]->Update();
}
