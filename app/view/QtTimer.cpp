// The framework's timers over QTimer and its clock over QElapsedTimer.
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

#include "MainWindow.h"

namespace {

// A QTimer may be asked to go while its own timeout is being delivered (a handler that
// frees the animation it belongs to): it is stopped at once and deleted from the loop.
struct TLaterDelete {
  void operator()(QTimer* timer) const {
    timer->stop();
    timer->disconnect();
    timer->deleteLater();
  }
};

class TQtTimer : public TTimer {
 public:
  TQtTimer() : FTimer(new QTimer) {
    FTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(FTimer.get(), &QTimer::timeout, [this] { Fire(); });
  }

 protected:
  void Restart() override {
    if (Enabled())
      FTimer->start(std::max(Interval(), 1));
    else
      FTimer->stop();
  }

 private:
  std::unique_ptr<QTimer, TLaterDelete> FTimer;
};

}  // namespace

struct TQtTimerService::TClock {
  QElapsedTimer Elapsed;
};

TQtTimerService::TQtTimerService() : FClock(std::make_unique<TClock>()) {
  FClock->Elapsed.start();
}

TQtTimerService::~TQtTimerService() = default;

std::unique_ptr<TTimer> TQtTimerService::CreateTimer() {
  return std::make_unique<TQtTimer>();
}

int64_t TQtTimerService::Milliseconds() {
  return FClock->Elapsed.elapsed();
}
