// Tells when the machine has woken from sleep: logind's PrepareForSleep(false) on the system
// bus. Where there is no system bus or no logind (containers, some test machines) it stays
// silent without error.
//
// Main thread: create, use and destroy it there; the callback runs there.
#pragma once

#include <QObject>
#include <functional>

namespace velto {

class WakeObserver : public QObject {
  Q_OBJECT

 public:
  explicit WakeObserver(std::function<void()> onWake, QObject* parent = nullptr);

  // Whether the observer is connected to logind's signal.
  bool isListening() const { return listening_; }

 private slots:
  void prepareForSleep(bool goingToSleep);

 private:
  std::function<void()> onWake_;
  bool listening_ = false;
};

}  // namespace velto
