// Evaluation must not allocate: the global allocation functions of this test program count the
// allocations made on this thread while counting is switched on.
#include "AppUIContext.h"

#include <QObject>

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace {

thread_local bool GCounting = false;
thread_local int GAllocations = 0;

void* CountedAlloc(std::size_t size) {
  if (GCounting) ++GAllocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

// Counts the allocations that f makes.
template <typename F>
int AllocationsOf(F f) {
  GAllocations = 0;
  GCounting = true;
  f();
  GCounting = false;
  return GAllocations;
}

}  // namespace

void* operator new(std::size_t size) {
  return CountedAlloc(size);
}
void* operator new[](std::size_t size) {
  return CountedAlloc(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return CountedAlloc(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

TEST(Allocation, TheCounterSeesAllocations) {
  // A direct call, since the compiler may leave out the allocation of a new-expression.
  EXPECT_EQ(AllocationsOf([] { ::operator delete(::operator new(8)); }), 1);
  // So do the allocations of new-expressions inside the libraries (Qt's containers allocate
  // their data with malloc, which is not counted).
  EXPECT_GE(AllocationsOf([] { QObject object; }), 1);
}

TEST(Allocation, EvaluationAllocatesNothing) {
  TAppUIContext context;
  int32_t applied[16] = {};
  int count = 0;
  // The application's ten expressions, each with a client that allocates nothing.
  const TArgList expressions[] = {
      {"RasterOpened"},
      {"RasterOpened and CanUndoZoom"},
      {"NavigatorState = ", 0},
      {"NavigatorState = ", 2, " or NavigatorState = ", 3},
      {"RasterOpened and not CalibrationInProgress and not ClipInProgress"},
      {"CalibratorInUse and not CalibrationInProgress"},
      {"(CellXN = 1) and (CellYN = 1)"},
      {"not (CellXN + CellYN * 2 - -NavigatorState / 3 >= 4) or CellXN <= CellYN or "
       "CellXN < 1 or CellYN > 7"},
  };
  for (const TArgList& expr : expressions) {
    auto condition = std::make_unique<TUICondition>(context.Variables(), expr);
    auto client = std::make_unique<TUIConditionClient>();
    client->OnApply = [&applied, &count](int32_t value) { applied[count++ % 16] = value; };
    condition->AddChanger(std::move(client));
    context.AddCondition(std::move(condition));
  }
  TUIContextVar* const vars[] = {
      context.RasterOpened,   context.CalibratorInUse, context.CalibrationInProgress,
      context.NavigatorState, context.CanUndoZoom,     context.ClipInProgress,
      context.CellXN,         context.CellYN};

  const int allocations = AllocationsOf([&] {
    context.UpdateAll();
    for (int round = 1; round <= 3; ++round)
      for (TUIContextVar* var : vars) var->SetValue(round);
    for (const auto& condition : context.Conditions()) condition->Update();
  });
  EXPECT_EQ(allocations, 0);
  EXPECT_GT(count, 30);
}
