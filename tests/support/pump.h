// Runs the window thread's events until a condition holds or time runs out.
#pragma once

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <functional>

inline bool
PumpUntil(const std::function<bool()> &done,
          std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(200);
  }
  return true;
}

inline void PumpFor(std::chrono::milliseconds span) {
  const auto deadline = std::chrono::steady_clock::now() + span;
  PumpUntil([&] { return std::chrono::steady_clock::now() > deadline; },
            span + std::chrono::seconds(1));
}
