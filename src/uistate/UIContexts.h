#pragma once

#include "Expressions.h"

#include <QPointer>

#include <functional>

class TUICondition;

// A named state variable. Setting it to a new value re-evaluates, before returning, every
// condition that mentions it.
class TUIContextVar : public TValueHolder {
 public:
  void SetValue(int32_t value);

  // The conditions whose expression contains this variable, each once, in registration order.
  const std::vector<TUICondition*>& Dependents() const { return FDependents; }

 private:
  friend class TUIContext;
  std::vector<TUICondition*> FDependents;
};

// Something a condition drives with its value.
class TUIConditionClient {
 public:
  TUIConditionClient() = default;
  TUIConditionClient(const TUIConditionClient&) = delete;
  TUIConditionClient& operator=(const TUIConditionClient&) = delete;
  virtual ~TUIConditionClient() = default;

  virtual void Apply(int32_t value);

  std::function<void(int32_t)> OnApply;
};

// How one named property is written on one kind of control. The table of these is what the
// property changers choose from when a binding is registered.
struct TUIPropInfo {
  const char* Name;
  bool (*Accepts)(const QObject* instance);
  void (*Set)(QObject* instance, int32_t value);
};

// Writes a condition's value into a property of one control through the control's own setter,
// so the control repaints as if the property were set in code. A control destroyed meanwhile is
// left alone.
class TUIPropChanger : public TUIConditionClient {
 public:
  TUIPropChanger(QObject* instance, const TUIPropInfo* propInfo)
      : FInstance(instance), FPropInfo(propInfo) {}

  void Apply(int32_t value) override;

  QObject* Instance() const { return FInstance; }
  const TUIPropInfo* PropInfo() const { return FPropInfo; }

 private:
  QPointer<QObject> FInstance;
  const TUIPropInfo* FPropInfo;
};

// An expression together with the clients it drives.
class TUICondition {
 public:
  // Compiles the expression from its parts; a tokenizing error ends the construction.
  TUICondition(const TVarDictionary& variables, const TArgList& expr);
  TUICondition(const TUICondition&) = delete;
  TUICondition& operator=(const TUICondition&) = delete;

  void AddChanger(std::unique_ptr<TUIConditionClient> changer);
  // Evaluates the expression and applies its value to every client in order; when the
  // evaluation fails no client is called.
  void Update();

  const TExpression& Expression() const { return FExpression; }
  const std::vector<std::unique_ptr<TUIConditionClient>>& Changers() const { return FChangers; }

 private:
  TExpression FExpression;
  std::vector<std::unique_ptr<TUIConditionClient>> FChangers;
};

// The named variables and the conditions over them.
class TUIContext {
 public:
  TUIContext() = default;
  TUIContext(const TUIContext&) = delete;
  TUIContext& operator=(const TUIContext&) = delete;
  virtual ~TUIContext();

  // A new variable with value 0, known to expressions by its upper-case name. The context owns it;
  // when the name is taken already, the name keeps meaning the first variable.
  TUIContextVar* AddVar(const QString& name);

  // Registers one condition: expr is its expression in parts; props names a property, then the
  // components whose property that is, then maybe another property and its components. The
  // condition is not evaluated. A failure leaves the context as it was.
  TUICondition* SetProps(const TArgList& props, const TArgList& expr);
  // Takes the condition over and makes it a dependent of every variable its expression mentions.
  TUICondition* AddCondition(std::unique_ptr<TUICondition> condition);
  void UpdateAll();

  const TVarDictionary& Variables() const { return FVariables; }
  const std::vector<std::unique_ptr<TUICondition>>& Conditions() const { return FConditions; }

 private:
  std::vector<std::unique_ptr<TUIContextVar>> FOwnedVars;
  TVarDictionary FVariables;
  std::vector<std::unique_ptr<TUICondition>> FConditions;
};
