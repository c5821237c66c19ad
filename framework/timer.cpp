// Timers, the millisecond clock behind them, and the manual service that tests and the
// command line drive by hand.
#include <algorithm>

#include "framework.h"

void TTimer::SetInterval(int milliseconds) {
  if (milliseconds == FInterval) return;
  FInterval = milliseconds;
  if (FEnabled) Restart();
}

void TTimer::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  Restart();
}

void TTimer::Fire() {
  if (!FEnabled || !OnTimer) return;
  std::function<void()> handler = OnTimer;
  handler();
}

namespace {

TTimerService* InstalledService = nullptr;

TManualTimerService& ProcessManualService() {
  static TManualTimerService service;
  return service;
}

}  // namespace

TTimerService& TimerService() {
  return InstalledService ? *InstalledService : ProcessManualService();
}

TTimerService* SetTimerService(TTimerService* service) {
  TTimerService* previous = InstalledService;
  InstalledService = service;
  return previous;
}

class TManualTimerService::TManualTimer : public TTimer {
 public:
  explicit TManualTimer(TManualTimerService* service) : FService(service) {
    FService->FTimers.push_back(this);
  }
  ~TManualTimer() override {
    if (!FService) return;
    auto& timers = FService->FTimers;
    timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
  }
  void Restart() override {
    if (!FService) return;
    Due = FService->FNow + std::max(Interval(), 1);
    Armed = ++FService->FArmings;
  }
  void Detach() { FService = nullptr; }
  void Tick() {
    Restart();  // a repeating timer: the next interval starts now
    Fire();
  }

  int64_t Due = 0;
  uint64_t Armed = 0;  // arming order, to break ties between timers due together

 private:
  TManualTimerService* FService;
};

TManualTimerService::~TManualTimerService() {
  for (TManualTimer* t : FTimers) t->Detach();
}

std::unique_ptr<TTimer> TManualTimerService::CreateTimer() {
  return std::make_unique<TManualTimer>(this);
}

TManualTimerService::TManualTimer* TManualTimerService::NextDue() const {
  TManualTimer* next = nullptr;
  for (TManualTimer* t : FTimers)
    if (t->Enabled() &&
        (!next || t->Due < next->Due || (t->Due == next->Due && t->Armed < next->Armed)))
      next = t;
  return next;
}

void TManualTimerService::Advance(int64_t milliseconds) {
  const int64_t end = FNow + std::max<int64_t>(milliseconds, 0);
  for (TManualTimer* t = NextDue(); t && t->Due <= end; t = NextDue()) {
    FNow = t->Due;
    t->Tick();
  }
  FNow = end;
}

bool TManualTimerService::FireNext() {
  TManualTimer* t = NextDue();
  if (!t) return false;
  FNow = std::max(FNow, t->Due);
  t->Tick();
  return true;
}

int TManualTimerService::ArmedCount() const {
  return int(std::count_if(FTimers.begin(), FTimers.end(),
                           [](const TManualTimer* t) { return t->Enabled(); }));
}
