#pragma once

#include "SysUtils.h"

#include <QString>

#include <functional>

// The message of the error of type E that f raises, or an empty text when it raises none. An
// error of another type escapes, so the test fails on it.
template <typename E = Exception>
QString MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  return {};
}
